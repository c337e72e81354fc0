// The thumbnail strip filled from a task's preview folder at start-up: 200 photographs of 2048 x 1536 as the
// document camera takes them, the first time (every thumbnail decoded from its photograph) and at a later start
// (thumbnails kept from before). Measured: the time until every cell shows its thumbnail, how long loadFolder keeps
// the GUI thread, the longest the event loop waits while the thumbnails come in (the window is usable as long as
// that stays short), and the processor time the whole process spent.
#include <algorithm>
#include <chrono>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "capture/CameraBackend.h"
#include "capture/VirtualCameraBackend.h"
#include "widgets/SliderImageList.h"

namespace {

constexpr int kPreviews = 200;
QString g_folder;

bool writePreviews(const QString& folder)
{
    CameraOpenParams params{};
    params.stillWidth = 2048;
    params.stillHeight = 1536;
    const auto stream = VirtualCameraBackend().open(0, params);
    const QByteArray still = stream ? stream->captureStill() : QByteArray();
    if (still.isEmpty())
        return false;
    for (int i = 0; i < kPreviews; ++i) {
        QFile file(folder + QStringLiteral("{%1}.jpg").arg(i, 4, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(still) != still.size())
            return false;
    }
    return true;
}

int thumbnailsShown(QListWidget* list)
{
    int shown = 0;
    for (int row = 0; row < list->count(); ++row)
        shown += list->item(row)->icon().isNull() ? 0 : 1;
    return shown;
}

double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void loadPreviewFolder(benchmark::State& state, bool firstTime)
{
    double longestBlock = 0;
    double longestStall = 0;
    double cpu = 0;
    for (auto _ : state) {
        if (firstTime) {
            state.PauseTiming();
            QDir(g_folder + QStringLiteral("thumbs")).removeRecursively();
            state.ResumeTiming();
        }
        const double cpuBefore = processCpuMs();
        SliderImageList strip;
        strip.show();
        auto* list = strip.findChild<QListWidget*>(QStringLiteral("listWidget"));
        QElapsedTimer clock;
        clock.start();
        strip.loadFolder(g_folder);
        const double blocked = clock.nsecsElapsed() / 1e6;
        // A timer due every millisecond: the gaps between its ticks are the stalls of the event loop.
        double stall = 0;
        qint64 lastTick = clock.nsecsElapsed();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            stall = std::max(stall, (now - lastTick) / 1e6);
            lastTick = now;
        });
        tick.start(1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (thumbnailsShown(list) < kPreviews && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double total = clock.nsecsElapsed() / 1e6;
        if (thumbnailsShown(list) < kPreviews) {
            state.SkipWithError("not every thumbnail arrived");
            break;
        }
        state.SetIterationTime(total / 1000.0);
        longestBlock = std::max(longestBlock, blocked);
        longestStall = std::max(longestStall, stall);
        cpu += processCpuMs() - cpuBefore;
    }
    state.counters["loadFolder_ms"] = longestBlock;
    state.counters["longest_stall_ms"] = longestStall;
    state.counters["cpu_ms"] = cpu / std::max<benchmark::IterationCount>(1, state.iterations());
}

void BM_StripFirstStart(benchmark::State& state)
{
    loadPreviewFolder(state, true);
}

void BM_StripLaterStart(benchmark::State& state)
{
    loadPreviewFolder(state, false);
}

BENCHMARK(BM_StripFirstStart)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_StripLaterStart)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    g_folder = dir.path() + QStringLiteral("/preview/");
    if (!QDir().mkpath(g_folder) || !writePreviews(g_folder))
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
