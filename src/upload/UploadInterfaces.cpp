#include "upload/UploadInterfaces.h"

#include <algorithm>

#include <QThread>

void Sleeper::waitForChange(const QString& folder, int ms)
{
    Q_UNUSED(folder);
    sleep(ms);
}

void ThreadSleeper::sleep(int ms)
{
    QThread* thread = QThread::currentThread();
    while (ms > 0 && !thread->isInterruptionRequested()) {
        const int slice = std::min(ms, 100);
        QThread::msleep(static_cast<unsigned long>(slice));
        ms -= slice;
    }
}

UploadService::Announcement UploadService::announce(const QString&, const QString& key)
{
    Announcement announcement;
    announcement.outcome = analyseAnswerImage(key) ? Announcement::Taken : Announcement::Failed;
    return announcement;
}
