#include "upload/WorkerLinks.h"

#include <QElapsedTimer>
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
        // from the last call it goes out without waiting for the header's acknowledgement. Looking the connection up
        // means a walk over the process's files, so it is done until one was changed, and again after a call that
        // took as long as that wait (a new connection, made during the call, which no earlier look could reach).
        if (m_lookForConnection || m_lastCallMs >= kDelayedAcknowledgementMs)
            m_lookForConnection = UploadSocket::sendWithoutDelay(m_servicePort) == 0;
        QElapsedTimer call;
        call.start();
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
        m_lastCallMs = call.elapsed();
        return announcement;
    }

private:
    // A receiver delays its acknowledgement up to 40 ms; a call that took this long may have waited for one.
    static constexpr qint64 kDelayedAcknowledgementMs = 30;

    const quint16 m_servicePort = portOf(QUrl(Settings::apiHost()));
    bool m_lookForConnection = true;
    qint64 m_lastCallMs = 0;
};

} // namespace

namespace WorkerLinks {

std::unique_ptr<UploadService> serviceCalls()
{
    return std::make_unique<ServiceCalls>();
}

} // namespace WorkerLinks
