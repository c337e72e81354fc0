#include "upload/WorkerLinks.h"

#include <atomic>

#include "service/HttpCommunicationThread.h"

namespace {

// Written by the worker, read by the wait dialog on the GUI thread.
std::atomic<bool> s_outOfReach{false};

bool noteReached(bool reached)
{
    s_outOfReach = !reached;
    return reached;
}

class ServiceCalls : public UploadService
{
public:
    bool getUploadToken() override { return noteReached(HttpCommunicationThread::getUploadToken()); }
    bool analyseAnswerImage(const QString& key) override
    {
        return noteReached(HttpCommunicationThread::analyseAnswerImage(key));
    }
    QString uploadToken() const override { return HttpCommunicationThread::uploadToken; }
    Announcement announce(const QString& taskId, const QString& key) override
    {
        Announcement announcement;
        switch (HttpCommunicationThread::announceAnswerImage(taskId, key, &announcement.reason)) {
        case HttpCommunicationThread::Announcement::Taken:
            announcement.outcome = Announcement::Taken;
            break;
        case HttpCommunicationThread::Announcement::Refused:
            announcement.outcome = Announcement::Refused;
            break;
        case HttpCommunicationThread::Announcement::Unanswered:
            announcement.outcome = Announcement::Unanswered;
            break;
        case HttpCommunicationThread::Announcement::Failed:
            announcement.outcome = Announcement::Failed;
            break;
        }
        return announcement;
    }
};

class ReportingStore : public Uploader
{
public:
    explicit ReportingStore(Uploader& store) : m_store(store) {}

    int putFile(const QString& uploadToken, const QString& key, const QString& localPath) override
    {
        const int code = m_store.putFile(uploadToken, key, localPath);
        switch (code) {
        case Stored:
        case AlreadyStored:
            noteReached(true);
            break;
        // A refused token is fetched anew and an unreadable file is skipped: neither says the store is away.
        case TokenRefused:
        case FileUnreadable:
            break;
        default:
            // A file the store will not take (a 4xx of its own) still says it is there.
            noteReached(code >= 400 && code < 500);
            break;
        }
        return code;
    }

private:
    Uploader& m_store;
};

} // namespace

namespace WorkerLinks {

std::unique_ptr<UploadService> serviceCalls()
{
    return std::make_unique<ServiceCalls>();
}

std::unique_ptr<Uploader> reportingStore(Uploader& store)
{
    return std::make_unique<ReportingStore>(store);
}

} // namespace WorkerLinks

bool HttpCommunicationThread::isOutOfReach()
{
    return s_outOfReach;
}
