// The wait dialog's poll on the GUI thread with 5,000 images waiting: once counting them itself (no worker running,
// the folder listed and each image looked up in the task database), once reading the figure the running worker
// publishes. The worker is held on its first upload by a slow store, so the 5,000 stay where they are.
#include <algorithm>
#include <vector>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QThread>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "app/ShutDownDialog.h"
#include "core/TaskFolders.h"
#include "service/HttpCommunicationThread.h"
#include "upload/QueueStatus.h"
#include "upload/UploadFolder.h"

namespace {

constexpr int kWaiting = 5000;
const QString kTask = QStringLiteral("task1");

void fillFolder()
{
    const QString folder = TaskFolders::inWorkingFolder(kTask).imageFolder();
    QDir().mkpath(folder);
    const QByteArray image = TestUtils::patternJpeg(2 * 1024, 5);
    for (int i = 0; i < kWaiting; ++i)
        UploadFolder::placeBytes(folder, QStringLiteral("{%1}.jpg").arg(i, 5, 10, QLatin1Char('0')), image);
}

void tickDialog(benchmark::State& state, const QueueState& published = QueueState())
{
    ShutDownDialog dialog;
    dialog.setImageFolder(TaskFolders::inWorkingFolder(kTask));
    dialog.setQueueState(published);
    if (!dialog.checkPending() || !dialog.isUploadPhase()) {
        state.SkipWithError("nothing waiting");
        return;
    }
    auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    std::vector<double> ticks;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        dialog.timerTimeout();
        ticks.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ticks.begin(), ticks.end());
    state.counters["median_tick_ms"] = ticks[ticks.size() / 2];
    state.counters["waiting_shown"] = bar ? bar->maximum() - bar->value() : -1;
}

void BM_WaitDialogTickCountingItself(benchmark::State& state)
{
    ScopedWorkingDirectory cwd;
    EmulatorFixture emulator;
    HttpCommunicationThread::setTaskId(kTask);
    fillFolder();
    tickDialog(state);
}

void BM_WaitDialogTickWorkerFigure(benchmark::State& state)
{
    ScopedWorkingDirectory cwd;
    EmulatorFixture emulator;
    HttpCommunicationThread::setTaskId(kTask);
    HttpCommunicationThread::setToken(QStringLiteral("bench-token"));
    HttpCommunicationThread::setUid(QStringLiteral("bench"));
    fillFolder();
    emulator->addFault(ServiceEmulator::Endpoint::Upload, {ServiceEmulator::Fault::Delay, 4000, 1});
    QueueStatus* status = QueueStatus::instance();
    HttpCommunicationThread* worker = HttpCommunicationThread::getInstance();
    worker->setTaskFolders(TaskFolders::inWorkingFolder(kTask));
    worker->start();
    QElapsedTimer waited;
    waited.start();
    while (status->current().pending() != kWaiting && waited.elapsed() < 30000)
        QThread::msleep(5);
    if (status->current().pending() != kWaiting)
        state.SkipWithError("the worker published no count");
    else
        tickDialog(state, status->current());
    worker->requestInterruption();
    worker->wait();
}

} // namespace

BENCHMARK(BM_WaitDialogTickCountingItself)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_WaitDialogTickWorkerFigure)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("AMBREL_LOG_FILE", QDir::temp().filePath(QStringLiteral("bench_waitdialog.log")).toUtf8());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
