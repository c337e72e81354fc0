#include "service/HttpCommunicationThread.h"

#include <algorithm>

#include <QDateTime>

#include "upload/CloudUploader.h"
#include "upload/UploadLoop.h"

// The worker side of HttpCommunicationThread: the single instance, its life cycle and the upload loop.

namespace {

class SystemClock : public UploadLoop::Clock
{
public:
    qint64 currentMSecsSinceEpoch() override { return QDateTime::currentMSecsSinceEpoch(); }
};

// Blocking sleep of the worker thread, in short slices so that a stop request (tests only) is seen promptly.
class ThreadSleeper : public UploadLoop::Sleeper
{
public:
    void sleep(int ms) override
    {
        QThread* thread = QThread::currentThread();
        while (ms > 0 && !thread->isInterruptionRequested()) {
            const int slice = std::min(ms, 100);
            QThread::msleep(static_cast<unsigned long>(slice));
            ms -= slice;
        }
    }
};

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
    SystemClock clock;
    ThreadSleeper sleeper;
    ServiceCalls service;
    // The launch values were set before start and do not change afterwards.
    UploadLoop loop(service, *m_cloudClient, clock, sleeper, uid, taskId);
    loop.setKeepGoing([this] { return !isInterruptionRequested(); });
    loop.run();
}
