#include "upload/QueueLookup.h"

#include <algorithm>

#include <QFileInfo>

#include "upload/UploadFolder.h"
#include "upload/UploadLedger.h"

namespace QueueLookup {

void addTask(QueueState& state, const QString& taskId, const QList<QueueState::Image>& listing,
             const UploadLedger& ledger, const QueueState::Runtime& runtime)
{
    state.published = true;
    QueueState::Task task;
    task.taskId = taskId;
    const QHash<QString, UploadLedger::Entry> unfinished = ledger.unfinished();
    QList<QueueState::Image> refusedRows;
    QList<QueueState::Image> otherRows;
    for (QueueState::Image image : listing) {
        // Empty files are left in place and never sent: nothing to wait for.
        if (image.size == 0)
            continue;
        const UploadLedger::Entry entry = unfinished.value(
            UploadLedger::signatureOf(UploadLedger::Identity{image.name, image.size, image.modifiedMs}));
        const UploadLedger::State known = entry.state;
        image.attempts = std::max(runtime.attempts.value(image.name), entry.attempts + entry.refusals);
        image.reason = runtime.reasons.value(image.name);
        if (!entry.refusedReason.isEmpty()) {
            image.state = QueueState::ImageState::Refused;
            image.reason = entry.refusedReason;
            ++task.refused;
            refusedRows << image;
            continue;
        }
        // Taken by the service already; only its file is left to delete.
        if (known == UploadLedger::State::Announced)
            continue;
        if (image.name == runtime.inFlight) {
            image.state = QueueState::ImageState::InFlight;
            ++task.inFlight;
        } else if (known == UploadLedger::State::Stored) {
            image.state = QueueState::ImageState::StoredNotAnnounced;
            ++task.storedNotAnnounced;
        } else {
            ++task.waiting;
        }
        otherRows << image;
    }
    state.tasks << task;
    for (const QList<QueueState::Image>* rows : {&refusedRows, &otherRows}) {
        for (const QueueState::Image& image : *rows) {
            if (state.images.size() >= QueueState::MaxImages)
                return;
            state.images << image;
        }
    }
}

void addFolder(QueueState& state, const QString& taskId, const QString& folder, const UploadLedger& ledger)
{
    QList<QueueState::Image> listing;
    for (const QFileInfo& info : UploadFolder::listImages(folder))
        listing << QueueState::listed(taskId, info);
    addTask(state, taskId, listing, ledger, QueueState::Runtime());
}

QueueState ofFolder(const QString& taskId, const QString& folder, const UploadLedger& ledger)
{
    QueueState state;
    addFolder(state, taskId, folder, ledger);
    // A look from outside: nothing was said by a worker.
    state.published = false;
    return state;
}

int waitingImages(const QString& folder, const UploadLedger& ledger)
{
    return ofFolder(QString(), folder, ledger).pending();
}

QList<TaskFolders> otherTasksOf(const QString& uid, const TaskFolders& own)
{
    QList<TaskFolders> tasks;
    if (uid.isEmpty())
        return tasks;
    for (const TaskFolders& task : own.otherTasks()) {
        if (UploadFolder::listImages(task.imageFolder()).isEmpty())
            continue;
        // Only a database that is there already: looking must not create one for a folder nobody queued.
        if (!QFileInfo::exists(task.databasePath()))
            continue;
        UploadLedger ledger;
        if (ledger.open(task.databasePath()) && ledger.owner() == uid)
            tasks << task;
    }
    return tasks;
}

} // namespace QueueLookup
