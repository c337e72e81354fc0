#include "upload/WaitingQueuePublisher.h"

#include <memory>
#include <utility>
#include <vector>

#include <QFileSystemWatcher>
#include <QTimer>

#include "core/AppLog.h"
#include "upload/QueueLookup.h"
#include "upload/QueueStatus.h"
#include "upload/UploadLedger.h"

namespace {

// The other copy writes the database without touching the folder (stored, announced): looked at this often.
constexpr int kLookEveryMs = 1000;
// A burst of changes (the other copy deletes each image it sent, an import drops many) makes one look.
constexpr int kSettleMs = 150;

} // namespace

WaitingQueuePublisher::WaitingQueuePublisher(QObject* parent) : QThread(parent) {}

WaitingQueuePublisher::~WaitingQueuePublisher()
{
    stop();
}

void WaitingQueuePublisher::setTask(const TaskFolders& folders, const QString& uid)
{
    m_folders = folders;
    m_uid = uid;
}

void WaitingQueuePublisher::stop()
{
    if (!isRunning())
        return;
    quit();
    wait();
}

void WaitingQueuePublisher::run()
{
    if (!m_folders.isValid())
        return;
    // This thread's own connections to the databases (the other copy writes them; a busy file is waited for):
    // opened here and closed here when the looks end.
    QList<TaskFolders> tasks{m_folders};
    tasks += QueueLookup::otherTasksOf(m_uid, m_folders);
    std::vector<std::pair<TaskFolders, std::unique_ptr<UploadLedger>>> ledgers;
    QFileSystemWatcher watcher;
    for (const TaskFolders& task : tasks) {
        auto ledger = std::make_unique<UploadLedger>();
        ledger->openForTask(task);
        ledgers.emplace_back(task, std::move(ledger));
        // Without a notification the next timed look still sees the change.
        watcher.addPath(task.imageFolder());
    }
    AppLog::write(QStringLiteral("upload: another copy drains the folder; this copy shows task %1 and %2 other "
                                 "task(s) as it finds them")
                      .arg(m_folders.taskId())
                      .arg(tasks.size() - 1));

    const auto look = [&ledgers] {
        QueueState state;
        for (const auto& [task, ledger] : ledgers)
            QueueLookup::addFolder(state, task.taskId(), task.imageFolder(), *ledger);
        state.link = QueueState::Link::OtherCopy;
        state.published = true;
        QueueStatus::instance()->publish(state);
    };
    QTimer every;
    every.setInterval(kLookEveryMs);
    connect(&every, &QTimer::timeout, &every, look);
    QTimer soon;
    soon.setSingleShot(true);
    soon.setInterval(kSettleMs);
    connect(&soon, &QTimer::timeout, &soon, look);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, &soon, [&soon] {
        if (!soon.isActive())
            soon.start();
    });
    look();
    every.start();
    exec();
}
