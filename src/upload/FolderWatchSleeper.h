#pragma once

#include <memory>

#include <QString>

#include "upload/UploadInterfaces.h"

class QFileSystemWatcher;

// The worker's sleeper: back-offs sleep as ThreadSleeper does, but the pause between passes waits on the file
// system's change notification for the folder (inotify on Linux, the directory-change API on Windows), so an idle
// worker costs nothing and a photograph renamed into the folder is taken within milliseconds. A burst of renames
// is collected for burstMs and handled by one pass. Lives on, and is used from, the worker's thread only.
class FolderWatchSleeper : public ThreadSleeper
{
public:
    explicit FolderWatchSleeper(int burstMs = 3);
    ~FolderWatchSleeper() override;

    FolderWatchSleeper(const FolderWatchSleeper&) = delete;
    FolderWatchSleeper& operator=(const FolderWatchSleeper&) = delete;

    void waitForChange(const QString& folder, int ms) override;

private:
    int m_burstMs;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
};
