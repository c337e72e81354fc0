#include "service/HttpCommunicationThread.h"

#include <atomic>

#include <QCoreApplication>

#include "upload/CloudUploader.h"
#include "upload/UploadLedger.h"
#include "upload/UploadLoop.h"

// The worker side of HttpCommunicationThread: the single instance, its life cycle and the upload loop.

namespace {

// Written by the worker, read by the wait dialog on the GUI thread.
std::atomic<bool> s_outOfReach{false};

bool noteReached(bool reached)
{
    s_outOfReach = !reached;
    return reached;
}

class ServiceCalls : public UploadLoop::Service
{
public:
    bool getUploadToken() override { return noteReached(HttpCommunicationThread::getUploadToken()); }
    bool analyseAnswerImage(const QString& key) override
    {
        return noteReached(HttpCommunicationThread::analyseAnswerImage(key));
    }
    QString uploadToken() const override { return HttpCommunicationThread::uploadToken; }
};

// The object store as the worker uses it, noting whether it could be reached.
class ReportingUploader : public UploadLoop::Uploader
{
public:
    explicit ReportingUploader(UploadLoop::Uploader& store) : m_store(store) {}

    int putFile(const QString& uploadToken, const QString& key, const QString& localPath) override
    {
        const int code = m_store.putFile(uploadToken, key, localPath);
        switch (code) {
        case UploadLoop::Stored:
        case UploadLoop::AlreadyStored:
            noteReached(true);
            break;
        // A refused token is fetched anew and an unreadable file is skipped: neither says the store is away.
        case UploadLoop::TokenRefused:
        case UploadLoop::FileUnreadable:
            break;
        default:
            noteReached(false);
            break;
        }
        return code;
    }

private:
    UploadLoop::Uploader& m_store;
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

bool HttpCommunicationThread::isOutOfReach()
{
    return s_outOfReach;
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
    ReportingUploader store(*m_cloudClient);
    UploadLoop loop(service, store, clock, sleeper, ledger, uid, taskId);
    loop.setKeepGoing([this] { return !isInterruptionRequested(); });
    loop.run();
}
