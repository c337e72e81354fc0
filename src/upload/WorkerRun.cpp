#include "upload/WorkerRun.h"

#include <memory>
#include <vector>

#include "core/AppLog.h"
#include "core/Clock.h"
#include "core/TaskFolders.h"
#include "upload/QueueLookup.h"
#include "upload/QueuePublisher.h"
#include "upload/QueueStatus.h"
#include "upload/UploadLedger.h"
#include "upload/UploadLoop.h"
#include "upload/WorkerLinks.h"

namespace {

// Another task of the same teacher whose images are still waiting: its own ledger and loop.
struct OtherTask
{
    TaskFolders folders;
    UploadLedger ledger;
    std::unique_ptr<UploadLoop> loop;
};

// A photograph that takes minutes to send does not hold the count the teacher reads: sheets dropped in meanwhile are
// published as they come. The store outlives the run, so it is let go of when the run ends.
class SendingWatch
{
public:
    SendingWatch(Uploader& store, QueuePublisher& publisher) : m_store(store)
    {
        store.setWhileSending([&publisher] { publisher.whileSending(); });
    }
    ~SendingWatch() { m_store.setWhileSending(nullptr); }
    SendingWatch(const SendingWatch&) = delete;
    SendingWatch& operator=(const SendingWatch&) = delete;

private:
    Uploader& m_store;
};

void takeRequestsOf(UploadLoop& loop, const QString& taskId)
{
    loop.setTakeRetries([taskId] { return QueueStatus::instance()->takeRetryRequests(taskId); });
    loop.setTakeSetAside([taskId] { return QueueStatus::instance()->takeSetAsideRequests(taskId); });
}

} // namespace

namespace WorkerRun {

void run(const TaskFolders& folders, const QString& uid, Uploader& store, Sleeper& waiter,
         const std::function<bool()>& keepGoing, const UploadIntervals& intervals)
{
    const Clock& clock = Clock::current();
    QueuePublisher sleeper(waiter, clock, [](const QueueState& state) { QueueStatus::instance()->publish(state); });
    const std::unique_ptr<UploadService> service = WorkerLinks::serviceCalls();
    // The worker's own connection to the task database, opened and closed on this thread.
    UploadLedger ledger;
    ledger.openForTask(folders);
    UploadLoop loop(*service, store, clock, sleeper, ledger, uid, folders, intervals);
    loop.setKeepGoing(keepGoing);
    loop.claimTask();
    // Images the teacher queued under other tasks (the program was ended, or handed over to a start for another
    // task) are finished too, each under its own task.
    std::vector<std::unique_ptr<OtherTask>> others;
    QList<UploadLoop*> alongside;
    for (const TaskFolders& other : QueueLookup::otherTasksOf(uid, folders)) {
        auto task = std::make_unique<OtherTask>();
        task->folders = other;
        task->ledger.openForTask(other);
        task->loop = std::make_unique<UploadLoop>(*service, store, clock, sleeper, task->ledger, uid, other, intervals);
        task->loop->setKeepGoing(keepGoing);
        alongside << task->loop.get();
        others.push_back(std::move(task));
    }
    // One published state over every task the worker empties; the teacher's "重试" reaches the loop of its task.
    sleeper.watch(QList<UploadLoop*>{&loop} + alongside);
    takeRequestsOf(loop, folders.taskId());
    for (const auto& other : others)
        takeRequestsOf(*other->loop, other->folders.taskId());
    const SendingWatch watch(store, sleeper);
    AppLog::write(QStringLiteral("upload: worker running for task %1 and %2 other task(s)")
                      .arg(folders.taskId())
                      .arg(others.size()));
    loop.run(alongside);
}

} // namespace WorkerRun
