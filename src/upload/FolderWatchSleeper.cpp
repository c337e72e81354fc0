#include "upload/FolderWatchSleeper.h"

#include <algorithm>

#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QThread>
#include <QTimer>

namespace {

// How often a wait looks whether the thread was asked to stop: a stop request does not wake an event loop.
constexpr int kStopCheckMs = 250;
// Without a notification (the watch could not be set up) the folder is looked at this often instead.
constexpr int kUnwatchedPauseMs = 50;

} // namespace

FolderWatchSleeper::FolderWatchSleeper(int burstMs) : m_burstMs(burstMs) {}

FolderWatchSleeper::~FolderWatchSleeper() = default;

void FolderWatchSleeper::waitForChange(const QString& folder, int ms)
{
    if (!m_watcher)
        m_watcher = std::make_unique<QFileSystemWatcher>();
    // The watch ends with the folder (deleted, renamed away): set up again for the folder the loop has made anew.
    if (!m_watcher->directories().contains(folder)) {
        if (!m_watcher->directories().isEmpty())
            m_watcher->removePaths(m_watcher->directories());
        if (!m_watcher->addPath(folder)) {
            sleep(std::min(ms, kUnwatchedPauseMs));
            return;
        }
        // What arrived between the pass's listing and the watch was not notified: one more pass sees it.
        return;
    }

    QThread* thread = QThread::currentThread();
    if (thread->isInterruptionRequested())
        return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
        if (thread->isInterruptionRequested())
            loop.quit();
    });
    bool changed = false;
    // Notifications that came in during the pass are delivered at once here, so nothing between the listing and
    // this wait is missed.
    const QMetaObject::Connection onChange =
        QObject::connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, &loop, [&] {
            if (changed)
                return;
            changed = true;
            deadline.start(std::min(ms, m_burstMs));
        });
    deadline.start(ms);
    stopCheck.start(kStopCheckMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    QObject::disconnect(onChange);
}
