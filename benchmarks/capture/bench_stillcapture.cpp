// Time from a press of the take button to the photograph lying complete, under its final name, in the task's image
// folder, with the simulated document camera (render and JPEG encoding on the camera's thread included).
#include <chrono>
#include <thread>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "TestClock.h"
#include "capture/CameraBackend.h"
#include "capture/CameraComponent.h"
#include "capture/CaptureSession.h"
#include "capture/TakePhoto.h"
#include "capture/VirtualCameraBackend.h"

namespace {

void BM_StillCaptureToRenamedFile(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    CaptureSession::process().reset();
    CameraComponent::setBackend(std::make_unique<VirtualCameraBackend>());
    // The take guard's clock, moved on by the benchmark itself between stills.
    TestClock clock;
    {
        TakePhoto page;
        page.initTaskFolder(TaskFolders::inWorkingFolder(QStringLiteral("bench")));
        page.startPNG();
        for (auto _ : state) {
            clock.advance(1000);
            const int before = CaptureSession::process().capturedCount();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            page.take();
            while (CaptureSession::process().capturedCount() == before && std::chrono::steady_clock::now() < deadline) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            if (CaptureSession::process().capturedCount() == before) {
                state.SkipWithError("no still arrived");
                break;
            }
        }
        state.counters["stills"] = CaptureSession::process().capturedCount();
    }
    CaptureSession::process().reset();
    QDir::setCurrent(previous);
}

BENCHMARK(BM_StillCaptureToRenamedFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// The capture page taking up a task whose folder holds 400 photographs of 2 MB still waiting for upload (a camera
// used without network): the time the GUI thread is kept from showing the window, and how long until the event loop
// answers again. With argument 1 the previews of an earlier start are there already, so no photograph is copied and
// what is left is the strip taking up the folder.
void BM_TaskStartWith400Waiting(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QString folder = dir.path() + QStringLiteral("/image/bench/");
    QDir().mkpath(folder);
    QByteArray photo(2 * 1024 * 1024, '\0');
    for (int i = 0; i < photo.size(); ++i)
        photo[i] = char((i * 7919) >> 3);
    for (int i = 0; i < 400; ++i) {
        QFile file(folder + QStringLiteral("{%1}.jpg").arg(i, 4, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(photo) != photo.size()) {
            state.SkipWithError("cannot write the photographs");
            return;
        }
    }
    CaptureSession::process().reset();
    CameraComponent::setBackend(std::make_unique<VirtualCameraBackend>());
    if (state.range(0) == 1) {
        TakePhoto earlier;
        earlier.initTaskFolder(TaskFolders::inWorkingFolder(QStringLiteral("bench")));
    }
    for (auto _ : state) {
        if (state.range(0) == 0) {
            state.PauseTiming();
            QDir(folder + QStringLiteral("preview")).removeRecursively();
            state.ResumeTiming();
        }
        TakePhoto page;
        page.initTaskFolder(TaskFolders::inWorkingFolder(QStringLiteral("bench")));
        page.show();
        QCoreApplication::processEvents();
    }
    CaptureSession::process().reset();
    QDir::setCurrent(previous);
}

BENCHMARK(BM_TaskStartWith400Waiting)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("AMBREL_CAMERA", "virtual");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
