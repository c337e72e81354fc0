#include "service/HttpCommunicationThread.h"

#include <QCoreApplication>

#include "upload/CloudUploader.h"
#include "upload/QueueStatus.h"
#include "upload/UploadLedger.h"
#include "upload/UploadLoop.h"

// The worker side of HttpCommunicationThread: the single instance, its life cycle and the upload loop.

namespace {

class ServiceCalls : public UploadLoop::Service
{
public:
    bool getUploadToken() override { return HttpCommunicationThread::getUploadToken(); }
    bool analyseAnswerImage(const QString& key) override { return HttpCommunicationThread::analyseAnswerImage(key); }
    QString uploadToken() const override { return HttpCommunicationThread::uploadToken; }
};

// A service call in progress ends within its own time bound; the program does not wait that long on its way out.
constexpr unsigned long kStopWaitMs = 3000;

} // namespace

HttpCommunicationThread* HttpCommunicationThread::instance = nullptr;

HttpCommunicationThread* HttpCommunicationThread::getInstance()
{
    if (!instance) {
        instance = new HttpCommunicationThread();
        // The worker uses the toolkit and the program's static objects: when the program ends through the
        // application object (not through the immediate exit of a quit), it is stopped while both still exist.
        if (QCoreApplication::instance()) {
            qAddPostRoutine([] {
                if (instance && instance->isRunning()) {
                    instance->requestInterruption();
                    instance->wait(kStopWaitMs);
                }
            });
        }
    }
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
    // The worker's own connection to the task database, opened and closed on this thread.
    UploadLedger ledger;
    ledger.openForTask(taskId);
    // The launch values were set before start and do not change afterwards.
    UploadLoop loop(service, *m_cloudClient, clock, sleeper, ledger, uid, taskId);
    loop.setKeepGoing([this] { return !isInterruptionRequested(); });
    const QList<const UploadLoop*> loops{&loop};
    loop.setOnChange([&loops] { QueueStatus::instance()->publish(UploadLoop::queueStateOf(loops)); });
    loop.setTakeRetries([] { return QueueStatus::instance()->takeRetryRequests(taskId); });
    loop.run();
}
