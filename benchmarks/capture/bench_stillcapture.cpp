// Time from a press of the take button to the photograph lying complete, under its final name, in the task's image
// folder, with the simulated document camera (render and JPEG encoding on the camera's thread included).
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "capture/CameraComponent.h"
#include "capture/CameraBackend.h"
#include "capture/CaptureSession.h"
#include "capture/TakePhoto.h"
#include "capture/VirtualCameraBackend.h"
#include "core/Clock.h"

namespace {

qint64 g_now = 1'700'000'000'000;

// The take guard's clock, moved on by the benchmark itself between stills.
class SteppedClock : public Clock
{
public:
    qint64 currentMSecsSinceEpoch() const override { return g_now; }
};

void BM_StillCaptureToRenamedFile(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    CaptureSession::process().reset();
    CameraComponent::setBackend(std::make_unique<VirtualCameraBackend>());
    const SteppedClock clock;
    Clock::setCurrent(&clock);
    {
        TakePhoto page;
        page.initTaskFolder(QStringLiteral("bench"));
        page.startPNG();
        for (auto _ : state) {
            g_now += 1000;
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
    Clock::setCurrent(nullptr);
    QDir::setCurrent(previous);
}

BENCHMARK(BM_StillCaptureToRenamedFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

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
