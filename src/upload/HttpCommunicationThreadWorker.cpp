#include "service/HttpCommunicationThread.h"

#include "upload/CloudUploader.h"
#include "upload/UploadLoop.h"

// The worker side of HttpCommunicationThread: the single instance, its life cycle and the upload loop.

namespace {

class ServiceCalls : public UploadLoop::Service
{
public:
    bool getUploadToken() override { return HttpCommunicationThread::getUploadToken(); }
    void analyseAnswerImage(const QString& key) override { HttpCommunicationThread::analyseAnswerImage(key); }
    QString uploadToken() const override { return HttpCommunicationThread::uploadToken; }
};

} // namespace

HttpCommunicationThread* HttpCommunicationThread::instance = nullptr;

HttpCommunicationThread* HttpCommunicationThread::getInstance()
{
    if (!instance)
        instance = new HttpCommunicationThread();
    return instance;
}

HttpCommunicationThread::HttpCommunicationThread(QObject* parent) : QThread(parent), m_cloudClient(new CloudUploader())
{
}

HttpCommunicationThread::~HttpCommunicationThread()
{
    delete m_cloudClient;
}

void HttpCommunicationThread::run()
{
    UploadLoop::SystemClock clock;
    UploadLoop::ThreadSleeper sleeper;
    ServiceCalls service;
    // The launch values were set before start and do not change afterwards.
    UploadLoop loop(service, *m_cloudClient, clock, sleeper, uid, taskId);
    loop.setKeepGoing([this] { return !isInterruptionRequested(); });
    loop.run();
}
