#include "core/OldDownloads.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "core/AppLog.h"
#include "core/TaskFolders.h"

namespace {

constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;

void markOpened(const TaskFolders& task, qint64 nowMs)
{
    QFile marker(task.openedMarkerPath());
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    marker.setFileTime(QDateTime::fromMSecsSinceEpoch(nowMs), QFileDevice::FileModificationTime);
}

// When the task was last opened: its marker's time; for a task last opened before there were markers, the time its
// save folder last changed (a refresh that downloaded something).
qint64 lastOpenedMs(const TaskFolders& task)
{
    const QFileInfo marker(task.openedMarkerPath());
    const QFileInfo folder = marker.exists() ? marker : QFileInfo(task.saveFolder());
    return folder.lastModified().toMSecsSinceEpoch();
}

// What stays in a swept save folder: the task database with its journal files, the marker, and the sheets the
// teacher set aside from the upload (never downloaded, kept nowhere else).
bool isKept(const TaskFolders& task, const QString& name)
{
    return name.startsWith(QFileInfo(task.databasePath()).fileName()) ||
           name == QFileInfo(task.openedMarkerPath()).fileName() || name == QDir(task.setAsideFolder()).dirName();
}

OldDownloads::Removed removeDownloads(const TaskFolders& task)
{
    OldDownloads::Removed removed{task.taskId()};
    QDir folder(task.saveFolder());
    const QFileInfoList entries =
        folder.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (isKept(task, entry.fileName()))
            continue;
        if (entry.isDir() && !entry.isSymLink()) {
            QDirIterator files(entry.filePath(), QDir::Files | QDir::Hidden | QDir::System,
                               QDirIterator::Subdirectories);
            int count = 0;
            qint64 bytes = 0;
            while (files.hasNext()) {
                files.next();
                ++count;
                bytes += files.fileInfo().size();
            }
            if (QDir(entry.filePath()).removeRecursively()) {
                removed.files += count;
                removed.bytes += bytes;
            }
        } else {
            const qint64 size = entry.size();
            if (QFile::remove(entry.filePath())) {
                ++removed.files;
                removed.bytes += size;
            }
        }
    }
    return removed;
}

} // namespace

QList<OldDownloads::Removed> OldDownloads::sweep(const TaskFolders& opened, int keepDays, qint64 nowMs)
{
    // On a task's first start its save folder may not be there yet.
    if (opened.ensureSaveFolder())
        markOpened(opened, nowMs);
    QList<Removed> all;
    if (keepDays <= 0)
        return all;
    const qint64 keptSince = nowMs - keepDays * kDayMs;
    for (const TaskFolders& task : opened.savedTasks()) {
        if (task.taskId() == opened.taskId())
            continue;
        const qint64 lastOpened = lastOpenedMs(task);
        if (lastOpened >= keptSince)
            continue;
        const Removed removed = removeDownloads(task);
        if (removed.files == 0)
            continue;
        AppLog::write(
            QStringLiteral("old tasks: removed the downloaded pages and thumbnails of task %1 (%2 files, %3 KB),"
                           " last opened %4, kept %5 days")
                .arg(task.taskId())
                .arg(removed.files)
                .arg((removed.bytes + 1023) / 1024)
                .arg(QDateTime::fromMSecsSinceEpoch(lastOpened).toString(Qt::ISODate))
                .arg(keepDays));
        all << removed;
    }
    return all;
}
