#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QListWidget>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "pages/DisplayPhoto.h"
#include "service/HttpCommunicationThread.h"

namespace {

constexpr int Students = 50;
constexpr int PagesPerStudent = 3;
constexpr int LatencyMs = 5;

QByteArray jpeg(int width, int height)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    TestUtils::makeTestImage(width, height).save(&buffer, "JPG", 85);
    return bytes;
}

// Students with three answer-sheet pages and a thumbnail each, every exchange 5 ms late.
struct Task
{
    explicit Task(int students = Students)
    {
        const QByteArray page = jpeg(1240, 1754);
        const QByteArray thumb = jpeg(370, 270);
        QJsonArray answers;
        for (int s = 0; s < students; ++s) {
            QJsonArray images;
            for (int p = 0; p < PagesPerStudent; ++p) {
                const QString path = QStringLiteral("/img/s%1_p%2.jpg").arg(s).arg(p);
                emulator->addStaticFile(path, page, "image/jpeg");
                images.append(
                    QJsonObject{{"url", QString(emulator.baseUrl() + path)}, {"beginPage", p + 1}, {"endPage", p + 1}});
            }
            const QString thumbPath = QStringLiteral("/thumb/s%1.jpg").arg(s);
            emulator->addStaticFile(thumbPath, thumb, "image/jpeg");
            answers.append(QJsonObject{{"studentId", QString::number(s)},
                                       {"studentName", QStringLiteral("学生%1").arg(s)},
                                       {"scoreDesc", QStringLiteral("%1分").arg(60 + s % 40)},
                                       {"warnDesc", s % 3 == 0 ? QStringLiteral("第2页字迹较淡") : QString()},
                                       {"thumbAnswerImageUrl", QString(emulator.baseUrl() + thumbPath)},
                                       {"images", images}});
        }
        emulator->setCannedData(ServiceEmulator::Endpoint::PaperStatusWithPage,
                                QJsonObject{{"analyseSuccessStudentCount", students},
                                            {"unAnalyseSuccessStudentCount", 2},
                                            {"studentAnswers", answers}});
        for (auto endpoint : {ServiceEmulator::Endpoint::PaperStatusWithPage, ServiceEmulator::Endpoint::Files})
            emulator->addFault(endpoint, {ServiceEmulator::Fault::Delay, LatencyMs, -1});
        HttpCommunicationThread::setTaskId(QStringLiteral("bench-task"));
        HttpCommunicationThread::setToken(QStringLiteral("bench-token"));
        HttpCommunicationThread::setUid(QStringLiteral("teacher01"));
        QDir().mkdir(QStringLiteral("save"));
    }

    ScopedWorkingDirectory dir;
    EmulatorFixture emulator;
};

// Nothing fetched yet: no cache entries and an empty save folder, so all 150 pages and 50 thumbnails download.
void BM_FirstRefresh(benchmark::State& state)
{
    Task task;
    DisplayPhoto page;
    page.show();
    for (auto _ : state) {
        state.PauseTiming();
        HttpCommunicationThread::imageCache.clear();
        QDir(QStringLiteral("save/bench-task")).removeRecursively();
        state.ResumeTiming();
        page.refreshDisplayUi();
        QCoreApplication::processEvents();
    }
    const int tiles = page.findChild<QListWidget*>(QStringLiteral("listWidget"))->count();
    if (tiles != Students)
        state.SkipWithError("the page did not show every student");
}
BENCHMARK(BM_FirstRefresh)->Unit(benchmark::kMillisecond)->Iterations(3);

// Everything cached: one status request, and the same students as before. Also measures the status call alone in
// the same state, to tell the share of the refresh spent outside the network call.
void BM_SecondRefresh(benchmark::State& state)
{
    const int students = int(state.range(0));
    Task task(students);
    DisplayPhoto page;
    page.show();
    page.refreshDisplayUi();
    QCoreApplication::processEvents();
    double refreshNs = 0;
    double callNs = 0;
    for (auto _ : state) {
        QElapsedTimer refreshTimer;
        refreshTimer.start();
        page.refreshDisplayUi();
        QCoreApplication::processEvents();
        refreshNs += refreshTimer.nsecsElapsed();

        state.PauseTiming();
        PaperStatusPage status;
        int paperState = 0;
        QElapsedTimer callTimer;
        callTimer.start();
        HttpCommunicationThread::getPaperStatusWithPage(&status, &paperState);
        callNs += callTimer.nsecsElapsed();
        state.ResumeTiming();
    }
    state.counters["call_ms"] = callNs / 1e6 / double(state.iterations());
    state.counters["outside_call_share"] = refreshNs > 0 ? 1.0 - callNs / refreshNs : 0;
    if (task.emulator->requestCount(ServiceEmulator::Endpoint::Files) != students * (PagesPerStudent + 1))
        state.SkipWithError("a cached refresh downloaded again");
    if (page.findChild<QListWidget*>(QStringLiteral("listWidget"))->count() != students)
        state.SkipWithError("the page did not show every student");
}
BENCHMARK(BM_SecondRefresh)->Arg(Students)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
