#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QThread>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "app/QueueModel.h"
#include "app/QueueWindow.h"
#include "app/ShutDownDialog.h"
#include "app/TitleBar.h"
#include "core/TaskFolders.h"
#include "service/HttpCommunicationThread.h"
#include "upload/CloudUploader.h"
#include "upload/QueueLookup.h"
#include "upload/QueueStatus.h"
#include "upload/UploadFolder.h"
#include "upload/UploadInterfaces.h"
#include "upload/UploadIntervals.h"
#include "upload/UploadLedger.h"
#include "upload/WorkerRun.h"

// What the teacher's screen costs and how fast it follows the worker: the wait dialog's tick with 5,000 sheets
// waiting (from the worker's published counts, and from a listing of the folder as it was done before), the time
// from a change in the worker to the title bar's status text, and the GUI thread's stalls with the queue window
// open on 5,000 rows while the worker uploads.

namespace {

const QString kUid = QStringLiteral("bench");
const QString kTask = QStringLiteral("task1");
constexpr int kWaiting = 5000;

qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The real store client, noting when each answer came back: the moment the worker learns of a change.
class TimedUploader : public Uploader
{
public:
    explicit TimedUploader(const QUrl& url) : m_client(url) {}
    std::atomic<qint64> lastAnswerNs{0};
    int putFile(const QString& uploadToken, const QString& key, const QString& localPath) override
    {
        const int code = m_client.putFile(uploadToken, key, localPath);
        lastAnswerNs = steadyNs();
        return code;
    }

private:
    CloudUploader m_client;
};

// What the worker thread runs, on a thread of its own, with a store that notes when it answers.
class WorkerThread : public QThread
{
public:
    explicit WorkerThread(const QUrl& url, int backoffInitialMs = UploadIntervals().backoffInitialMs)
        : uploader(url), m_backoffInitialMs(backoffInitialMs)
    {
    }
    TimedUploader uploader;

protected:
    void run() override
    {
        ThreadSleeper sleeper;
        UploadIntervals intervals;
        intervals.backoffInitialMs = m_backoffInitialMs;
        WorkerRun::run(
            TaskFolders::inWorkingFolder(kTask), kUid, uploader, sleeper, [this] { return !isInterruptionRequested(); },
            intervals);
    }

private:
    int m_backoffInitialMs;
};

struct Setup
{
    Setup()
    {
        HttpCommunicationThread::setTaskId(kTask);
        HttpCommunicationThread::setToken(QStringLiteral("bench-token"));
        HttpCommunicationThread::setUid(kUid);
        QDir().mkpath(folder());
    }
    static QString folder() { return TaskFolders::inWorkingFolder(kTask).imageFolder(); }
    void fill(int count)
    {
        for (int i = 0; i < count; ++i)
            TestUtils::writeFile(folder() + QStringLiteral("{%1}.jpg").arg(i, 5, 10, QLatin1Char('0')), "x");
    }

    ScopedWorkingDirectory cwd;
};

// The state the worker publishes for what the folder holds, made as the worker makes it (not timed).
QueueState published()
{
    UploadLedger ledger;
    ledger.openForTask(TaskFolders::inWorkingFolder(kTask));
    QueueState state;
    QList<QueueState::Image> listing;
    for (const QFileInfo& info : UploadFolder::listImages(Setup::folder()))
        listing << QueueState::listed(kTask, info);
    QueueLookup::addTask(state, kTask, listing, ledger, QueueState::Runtime());
    return state;
}

void waitDialogTick(benchmark::State& state, bool fromWorker)
{
    Setup setup;
    setup.fill(kWaiting);
    ShutDownDialog dialog;
    dialog.setPollInterval(3600 * 1000);
    dialog.setImageFolder(TaskFolders::inWorkingFolder(kTask));
    if (fromWorker)
        dialog.setQueueState(published());
    if (!dialog.checkPending()) {
        state.SkipWithError("nothing waiting");
        return;
    }
    for (auto _ : state)
        dialog.timerTimeout();
    state.counters["waiting"] = kWaiting;
}

void BM_WaitDialogTickPublished5000(benchmark::State& state)
{
    waitDialogTick(state, true);
}

void BM_WaitDialogTickListing5000(benchmark::State& state)
{
    waitDialogTick(state, false);
}

// A sheet arrives while the store fails it once: from the moment the worker has the store's answer to the moment the
// title bar says the network failed, and from the next good answer to the status clearing.
void BM_StateChangeToStatusText(benchmark::State& state)
{
    const int rounds = 10;
    const QByteArray image = TestUtils::patternJpeg(20 * 1024, 3);
    for (auto _ : state) {
        Setup setup;
        EmulatorFixture emulator;
        TitleBar bar;
        auto* status = bar.findChild<QPushButton*>(QStringLiteral("queueStatusButton"));
        QObject::connect(QueueStatus::instance(), &QueueStatus::changed, &bar, &TitleBar::setQueueState);
        WorkerThread worker{QUrl(emulator.uploadUrl()), 200};
        worker.start();
        std::vector<double> latencies;
        const auto waitFor = [&](const std::function<bool()>& done) {
            QElapsedTimer timer;
            timer.start();
            while (!done()) {
                if (timer.elapsed() > 20000)
                    return false;
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            }
            return true;
        };
        for (int i = 0; i < rounds; ++i) {
            emulator->addFault(ServiceEmulator::Endpoint::Upload,
                               ServiceEmulator::Fault{ServiceEmulator::Fault::HttpStatus, 503, 1});
            UploadFolder::placeBytes(Setup::folder(), QStringLiteral("{%1}.jpg").arg(i), image);
            if (!waitFor([&] { return status->text().startsWith(QStringLiteral("无法连接存储服务")); })) {
                state.SkipWithError("status did not show the failure");
                break;
            }
            latencies.push_back(double(steadyNs() - worker.uploader.lastAnswerNs) / 1e6);
            if (!waitFor([&] { return status->isHidden(); })) {
                state.SkipWithError("status did not clear");
                break;
            }
            // The last answer was the good one; the status cleared after the announcement that followed it.
            latencies.push_back(double(steadyNs() - worker.uploader.lastAnswerNs) / 1e6);
        }
        worker.requestInterruption();
        worker.wait();
        QObject::disconnect(QueueStatus::instance(), nullptr, &bar, nullptr);
        if (latencies.empty())
            break;
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_ms"] = latencies[latencies.size() / 2];
        state.counters["max_ms"] = latencies.back();
    }
}

// The queue window open on 5,000 sheets while the worker uploads them: how long the GUI thread is busy at a time
// (each round of its event loop that handled a new state, thumbnails and repaints included).
void BM_QueueWindow5000WhileUploading(benchmark::State& state)
{
    const QByteArray image = TestUtils::patternJpeg(4 * 1024, 7);
    for (auto _ : state) {
        Setup setup;
        for (int i = 0; i < kWaiting; ++i)
            TestUtils::writeFile(Setup::folder() + QStringLiteral("{%1}.jpg").arg(i, 5, 10, QLatin1Char('0')), image);
        EmulatorFixture emulator;
        QueueWindow window;
        QObject::connect(QueueStatus::instance(), &QueueStatus::changed, &window, &QueueWindow::setQueueState);
        int states = 0;
        QObject::connect(QueueStatus::instance(), &QueueStatus::changed, &window, [&states] { ++states; });
        window.show();
        WorkerThread worker{QUrl(emulator.uploadUrl())};
        worker.start();
        std::vector<double> stalls;
        QElapsedTimer running;
        running.start();
        int largest = 0;
        while (running.elapsed() < 8000) {
            const int before = states;
            const qint64 start = steadyNs();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            const double ms = double(steadyNs() - start) / 1e6;
            if (states != before)
                stalls.push_back(ms);
            largest = std::max(largest, window.model()->rowCount());
            // Scrolled now and then, as a teacher looking for a sheet would: new rows, new thumbnails.
            if (stalls.size() % 20 == 19)
                window.table()->verticalScrollBar()->setValue(int(stalls.size() * 37 % 4000) * 38);
        }
        worker.requestInterruption();
        worker.wait();
        QObject::disconnect(QueueStatus::instance(), nullptr, &window, nullptr);
        if (stalls.empty() || largest < kWaiting / 2) {
            state.SkipWithError("the window never showed the queue");
            break;
        }
        std::sort(stalls.begin(), stalls.end());
        state.counters["rows"] = largest;
        state.counters["states"] = double(stalls.size());
        state.counters["median_stall_ms"] = stalls[stalls.size() / 2];
        state.counters["max_stall_ms"] = stalls.back();
        state.counters["uploaded"] = double(emulator->storedKeys().size());
    }
}

} // namespace

BENCHMARK(BM_QueueWindow5000WhileUploading)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WaitDialogTickPublished5000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);
BENCHMARK(BM_WaitDialogTickListing5000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_StateChangeToStatusText)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("AMBREL_LOG_FILE", QDir::temp().filePath(QStringLiteral("bench_queuestatus.log")).toUtf8());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
