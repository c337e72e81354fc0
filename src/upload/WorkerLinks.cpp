#include "upload/WorkerLinks.h"

#include <QUrl>

#include "core/Settings.h"
#include "service/HttpCommunicationThread.h"
#include "upload/UploadSocket.h"

namespace {

quint16 portOf(const QUrl& url)
{
    return quint16(url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80));
}

class ServiceCalls : public UploadService
{
public:
    bool getUploadToken() override { return HttpCommunicationThread::getUploadToken(); }
    bool analyseAnswerImage(const QString& key) override { return HttpCommunicationThread::analyseAnswerImage(key); }
    QString uploadToken() const override { return HttpCommunicationThread::uploadToken; }
    Announcement announce(const QString& taskId, const QString& key) override
    {
        // The announcement is a small form whose body Qt writes apart from its header: on the connection kept
        // from the last call it goes out without waiting for the header's acknowledgement.
        UploadSocket::sendWithoutDelay(m_servicePort);
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

private:
    const quint16 m_servicePort = portOf(QUrl(Settings::apiHost()));
};

} // namespace

namespace WorkerLinks {

std::unique_ptr<UploadService> serviceCalls()
{
    return std::make_unique<ServiceCalls>();
}

} // namespace WorkerLinks
