// Hands-free capture: the analysis of one live frame, a scripted run of 50 sheet swaps by hand (shots, duplicates,
// empty-desk and hand shots, time from the sheet lying still to the shot) and the check of one still.
#include <algorithm>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QSet>

#include "capture/AutoShot.h"
#include "capture/ScriptedDesk.h"
#include "capture/StillCheck.h"

namespace {

constexpr qint64 kFrameMs = 66;

void BM_AutoShotFrameAt1280x720(benchmark::State& state)
{
    ScriptedDesk desk;
    desk.noise(3).place(1).wait(1000);
    // Two different frames in turn, so each step compares real pictures.
    const QImage frames[2] = {desk.frame(desk.durationMs(), QSize(1280, 720)),
                              desk.frame(desk.durationMs() - 1, QSize(1280, 720))};
    AutoShot autoShot;
    qint64 t = 0;
    for (auto _ : state) {
        const bool shot = autoShot.step(frames[t / kFrameMs % 2], t);
        benchmark::DoNotOptimize(shot);
        t += kFrameMs;
    }
}
BENCHMARK(BM_AutoShotFrameAt1280x720)->Unit(benchmark::kMicrosecond);

// 50 sheets, each swapped in by hand for the one before; now and then the hand lingers or pushes the sheet, and the
// camera is noisy.
void BM_AutoShotFiftySwaps(benchmark::State& state)
{
    constexpr int kSheets = 50;
    ScriptedDesk desk;
    desk.noise(4).wait(1500).place(1).wait(1500);
    for (int sheet = 2; sheet <= kSheets; ++sheet) {
        desk.swap(sheet);
        if (sheet % 10 == 0)
            desk.linger(2000);
        if (sheet % 7 == 0)
            desk.wait(1500).nudge(0.01, 0.006);
        desk.wait(1500);
    }
    desk.remove().wait(2000);

    for (auto _ : state) {
        AutoShot autoShot;
        QSet<int> shotSheets;
        int shots = 0;
        int duplicates = 0;
        int empty = 0;
        int withHand = 0;
        qint64 latencySum = 0;
        qint64 latencyMax = 0;
        for (qint64 t = 0; t <= desk.durationMs(); t += kFrameMs) {
            if (!autoShot.step(desk.frame(t, QSize(320, 240)), t))
                continue;
            ++shots;
            const ScriptedDesk::Scene scene = desk.sceneAt(t);
            if (scene.sheet < 0)
                ++empty;
            else if (shotSheets.contains(scene.sheet))
                ++duplicates;
            shotSheets.insert(scene.sheet);
            withHand += scene.hand ? 1 : 0;
            qint64 rest = 0;
            for (const ScriptedDesk::Rest& r : desk.rests())
                if (r.fromMs <= t)
                    rest = r.fromMs;
            latencySum += t - rest;
            latencyMax = std::max(latencyMax, t - rest);
        }
        state.counters["sheets"] = kSheets;
        state.counters["shots"] = shots;
        state.counters["duplicates"] = duplicates;
        state.counters["emptyDesk"] = empty;
        state.counters["withHand"] = withHand;
        state.counters["latencyMeanMs"] = shots > 0 ? double(latencySum) / shots : 0.0;
        state.counters["latencyMaxMs"] = double(latencyMax);
    }
}
BENCHMARK(BM_AutoShotFiftySwaps)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_StillCheck2048x1536(benchmark::State& state)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ScriptedDesk::drawSheetOnDesk(QSize(2048, 1536), 3).save(&buffer, "JPG", 90);
    StillCheck check;
    for (auto _ : state) {
        const StillCheck::Result result = check.judge(jpeg);
        check.remember(result);
        benchmark::DoNotOptimize(result.sharpness);
    }
}
BENCHMARK(BM_StillCheck2048x1536)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
