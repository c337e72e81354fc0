#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QSqlDatabase>

#include "core/AppLog.h"
#include "service/HttpCommunicationThread.h"
#include "service/ServiceMessages.h"
#include "upload/CloudUploader.h"
#include "upload/FolderWatchSleeper.h"
#include "upload/QueueLookup.h"
#include "upload/QueuePublisher.h"
#include "upload/QueueStatus.h"
#include "upload/UploadLedger.h"
#include "upload/UploadLoop.h"
#include "upload/WorkerLinks.h"

// The worker side of HttpCommunicationThread: the single instance, its life cycle and the upload loop.

namespace {

// Another task of the same teacher whose images are still waiting: its own ledger and loop.
struct OtherTask
{
    TaskFolders folders;
    UploadLedger ledger;
    std::unique_ptr<UploadLoop> loop;
};

// A service call in progress ends within its own time bound; the program does not wait that long on its way out.
constexpr unsigned long kStopWaitMs = 3000;

} // namespace

HttpCommunicationThread* HttpCommunicationThread::instance = nullptr;

HttpCommunicationThread* HttpCommunicationThread::getInstance()
{
    if (!instance) {
        instance = new HttpCommunicationThread();
        // The service calls report failures through the worker's signal, from whichever thread made the call.
        ServiceMessages::setReceiver([](const QString& text) { emit instance->message(text); });
        // The worker uses the toolkit and the program's static objects: when the program ends through the
        // application object (not through the immediate exit of a quit), it is stopped while both still exist.
        // Clean-up routines run last added first, and Qt SQL closes every connection in one of its own, added when
        // its driver list is first used: use it now, so that the worker is stopped before its database connection
        // is closed under a query still running.
        if (QCoreApplication::instance()) {
            QSqlDatabase::drivers();
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

void HttpCommunicationThread::setTaskFolders(const TaskFolders& folders)
{
    m_folders = folders;
}

HttpCommunicationThread::~HttpCommunicationThread()
{
    delete m_cloudClient;
}

void HttpCommunicationThread::run()
{
    const Clock& clock = Clock::current();
    FolderWatchSleeper watcher;
    QueuePublisher sleeper(watcher, clock, [](const QueueState& state) { QueueStatus::instance()->publish(state); });
    const std::unique_ptr<UploadService> service = WorkerLinks::serviceCalls();
    // The worker's own connection to the task database, opened and closed on this thread.
    UploadLedger ledger;
    ledger.openForTask(m_folders);
    // The launch values and the folders were handed over before start and do not change afterwards.
    Uploader* const store = m_cloudClient;
    UploadLoop loop(*service, *store, clock, sleeper, ledger, uid, m_folders);
    loop.setKeepGoing([this] { return !isInterruptionRequested(); });
    loop.claimTask();
    // Images the teacher queued under other tasks (the program was ended, or handed over to a start for another
    // task) are finished too, each under its own task.
    std::vector<std::unique_ptr<OtherTask>> others;
    QList<UploadLoop*> alongside;
    for (const TaskFolders& other : QueueLookup::otherTasksOf(uid, m_folders)) {
        auto task = std::make_unique<OtherTask>();
        task->folders = other;
        task->ledger.openForTask(other);
        task->loop = std::make_unique<UploadLoop>(*service, *store, clock, sleeper, task->ledger, uid, other);
        task->loop->setKeepGoing([this] { return !isInterruptionRequested(); });
        alongside << task->loop.get();
        others.push_back(std::move(task));
    }
    // One published state over every task the worker empties; the teacher's "重试" reaches the loop of its task.
    sleeper.watch(QList<UploadLoop*>{&loop} + alongside);
    const QString own = m_folders.taskId();
    loop.setTakeRetries([own] { return QueueStatus::instance()->takeRetryRequests(own); });
    loop.setTakeSetAside([own] { return QueueStatus::instance()->takeSetAsideRequests(own); });
    for (const auto& other : others) {
        const QString task = other->folders.taskId();
        other->loop->setTakeRetries([task] { return QueueStatus::instance()->takeRetryRequests(task); });
        other->loop->setTakeSetAside([task] { return QueueStatus::instance()->takeSetAsideRequests(task); });
    }
    AppLog::write(
        QStringLiteral("upload: worker running for task %1 and %2 other task(s)").arg(own).arg(others.size()));
    loop.run(alongside);
}
