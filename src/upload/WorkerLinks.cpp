#include "upload/WorkerLinks.h"

#include "service/HttpCommunicationThread.h"

namespace {

class ServiceCalls : public UploadService
{
public:
    bool getUploadToken() override { return HttpCommunicationThread::getUploadToken(); }
    bool analyseAnswerImage(const QString& key) override { return HttpCommunicationThread::analyseAnswerImage(key); }
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

} // namespace

namespace WorkerLinks {

std::unique_ptr<UploadService> serviceCalls()
{
    return std::make_unique<ServiceCalls>();
}

} // namespace WorkerLinks
