#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "service/HttpCommunicationThread.h"
#include "service/MD5.h"
#include "service/RequestSigning.h"

namespace {

void BM_MD5(benchmark::State& state)
{
    const std::string data(size_t(state.range(0)), 'x');
    for (auto _ : state) {
        MD5 md5;
        md5.update(data);
        benchmark::DoNotOptimize(md5.toString());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_MD5)->Arg(64)->Arg(4096)->Arg(1 << 20);

void BM_SignedTaskText(benchmark::State& state)
{
    const QString t = QString::number(RequestSigning::currentMSecs());
    for (auto _ : state)
        benchmark::DoNotOptimize(RequestSigning::taskText("teacher01", "tok-42", "T7", t));
}
BENCHMARK(BM_SignedTaskText);

// A task of `students` students with two pages of `bytes` each.
QJsonObject taskData(ServiceEmulator& server, const QString& base, int students, int bytes)
{
    QJsonArray answers;
    for (int s = 0; s < students; ++s) {
        QJsonArray images;
        for (int p = 0; p < 2; ++p) {
            const QString path = QStringLiteral("/img/s%1p%2.jpg").arg(s).arg(p);
            server.addStaticFile(path, QByteArray(bytes, char('a' + p)));
            images.append(QJsonObject{{"url", QString(base + path)}, {"beginPage", p + 1}, {"endPage", p + 1}});
        }
        const QString thumb = QStringLiteral("/img/s%1t.jpg").arg(s);
        server.addStaticFile(thumb, QByteArray(bytes / 10, 't'));
        answers.append(QJsonObject{{"studentId", QString::number(s)},
                                   {"studentName", QStringLiteral("学生")},
                                   {"thumbAnswerImageUrl", QString(base + thumb)},
                                   {"images", images}});
    }
    return QJsonObject{
        {"analyseSuccessStudentCount", students}, {"unAnalyseSuccessStudentCount", 0}, {"studentAnswers", answers}};
}

// The progress page's refresh once everything is on disk: one GET and the cache look-ups.
void BM_PageRefreshCached(benchmark::State& state)
{
    ScopedWorkingDirectory dir;
    EmulatorFixture emulator;
    HttpCommunicationThread::setTaskId("T7");
    HttpCommunicationThread::setToken("tok-42");
    HttpCommunicationThread::setUid("teacher01");
    HttpCommunicationThread::imageCache.clear();
    emulator->setCannedData(ServiceEmulator::Endpoint::PaperStatusWithPage,
                            taskData(emulator.server(), emulator.baseUrl(), int(state.range(0)), 2000));
    PaperStatusPage page;
    int paperState = 0;
    HttpCommunicationThread::getPaperStatusWithPage(&page, &paperState);
    for (auto _ : state) {
        HttpCommunicationThread::getPaperStatusWithPage(&page, &paperState);
        benchmark::DoNotOptimize(page.studentAnswers.size());
    }
}
BENCHMARK(BM_PageRefreshCached)->Arg(40)->Unit(benchmark::kMillisecond);

// The first refresh of a task: every page and thumbnail fetched, one after another.
void BM_PageRefreshFirst(benchmark::State& state)
{
    EmulatorFixture emulator;
    HttpCommunicationThread::setTaskId("T7");
    const int students = int(state.range(0));
    const int bytes = int(state.range(1));
    emulator->setCannedData(ServiceEmulator::Endpoint::PaperStatusWithPage,
                            taskData(emulator.server(), emulator.baseUrl(), students, bytes));
    for (auto _ : state) {
        state.PauseTiming();
        ScopedWorkingDirectory dir;
        HttpCommunicationThread::imageCache.clear();
        state.ResumeTiming();
        PaperStatusPage page;
        int paperState = 0;
        HttpCommunicationThread::getPaperStatusWithPage(&page, &paperState);
        benchmark::DoNotOptimize(page.studentAnswers.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * students * (2 * bytes + bytes / 10));
}
BENCHMARK(BM_PageRefreshFirst)->Args({40, 300000})->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
