#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QThread>
#include <QUrl>

#include "EmulatorFixture.h"
#include "LinkRelay.h"
#include "TestAuthority.h"
#include "TestUtils.h"
#include "core/SecureTransport.h"
#include "core/Settings.h"
#include "core/TaskFolders.h"
#include "service/HttpCommunicationThread.h"
#include "upload/CloudUploader.h"
#include "upload/FolderWatchSleeper.h"
#include "upload/QueueStatus.h"
#include "upload/UploadFolder.h"
#include "upload/UploadLedger.h"
#include "upload/WorkerRun.h"

// The upload worker's cost and speed against the in-process emulator on loopback, with the production intervals:
// CPU of an idle worker, throughput of a full folder, and the delay from a file's arrival to its arrival at the
// store. Each benchmark runs once (the scenarios take seconds) and reports its figures as counters.

namespace {

const QString kUid = QStringLiteral("bench");
const QString kTask = QStringLiteral("task1");

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the given threads of this process, to subtract the emulator's share: from the scheduler's count in
// nanoseconds where the system keeps it, else from the per-thread ticks (10 ms each: summed over the emulator's
// threads their rounding alone moved the figure by a fifth of a millisecond per image).
double threadsCpuSeconds(const QSet<QString>& tids)
{
    const double tick = double(sysconf(_SC_CLK_TCK));
    double total = 0;
    for (const QString& tid : tids) {
        QFile schedstat(QStringLiteral("/proc/self/task/%1/schedstat").arg(tid));
        if (schedstat.open(QIODevice::ReadOnly)) {
            total += schedstat.readAll().split(' ').value(0).toDouble() / 1e9;
            continue;
        }
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // Fields after the command name in parentheses: utime and stime are the 12th and 13th.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            total += (fields[11].toDouble() + fields[12].toDouble()) / tick;
    }
    return total;
}

QSet<QString> threadIds()
{
    const QStringList list = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return QSet<QString>(list.begin(), list.end());
}

// The worker's loop on a thread of its own, wired like the real worker. Reports its own CPU time when it ends.
class LoopThread : public QThread
{
public:
    explicit LoopThread(const QUrl& uploadUrl) : m_uploadUrl(uploadUrl) {}
    std::atomic<double> cpuSeconds{0};
    // The thread's id, to read its CPU time while it runs.
    std::atomic<long> threadId{0};

protected:
    void run() override
    {
        threadId = long(syscall(SYS_gettid));
        FolderWatchSleeper watcher;
        CloudUploader client(m_uploadUrl);
        // What the worker thread runs, the queue state published as the worker publishes it: its cost is the
        // worker's.
        const double start = threadCpuSeconds();
        WorkerRun::run(TaskFolders::inWorkingFolder(kTask), kUid, client, watcher,
                       [this] { return !isInterruptionRequested(); });
        cpuSeconds = threadCpuSeconds() - start;
    }

private:
    QUrl m_uploadUrl;
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

    ScopedWorkingDirectory cwd;
};

// Median and 90th percentile of the measured values, as counters: a mean hides a few long stalls among many short
// round trips, or the other way round.
void reportSpread(benchmark::State& state, std::vector<double> values, const std::string& unit)
{
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    state.counters["median_" + unit] = values[values.size() / 2];
    state.counters["p90_" + unit] = values[values.size() * 9 / 10];
    state.counters["max_" + unit] = values.back();
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 2)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(static_cast<unsigned long>(pollMs));
    }
    return true;
}

void BM_IdleWorkerCpu(benchmark::State& state)
{
    for (auto _ : state) {
        Setup setup;
        EmulatorFixture emulator;
        LoopThread worker{QUrl(emulator.uploadUrl())};
        worker.start();
        // Start-up (the task database opened, the first pass and token) is over by then: what is measured is the
        // worker at rest.
        QThread::msleep(2000);
        const QSet<QString> thread{QString::number(worker.threadId.load())};
        const double before = threadsCpuSeconds(thread);
        QThread::msleep(10000);
        const double idle = threadsCpuSeconds(thread) - before;
        worker.requestInterruption();
        worker.wait();
        state.counters["worker_cpu_ms_per_10s"] = idle * 1000.0;
        state.counters["core_percent"] = idle / 10.0 * 100.0;
        state.counters["token_calls"] = emulator->requestCount(ServiceEmulator::Endpoint::UploadToken);
    }
}

// A folder that filled up while the worker was not running, emptied by a worker started on it.
void drainFolder(benchmark::State& state, int count, const QByteArray& image)
{
    for (auto _ : state) {
        Setup setup;
        const QSet<QString> before = threadIds();
        EmulatorFixture emulator;
        QSet<QString> emulatorThreads = threadIds();
        emulatorThreads.subtract(before);

        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("{%1}.jpg").arg(i, 5, 10, QLatin1Char('0'));
            UploadFolder::placeBytes(Setup::folder(), name, image);
        }

        const double processBefore = processCpuSeconds();
        const double emulatorBefore = threadsCpuSeconds(emulatorThreads);
        QElapsedTimer timer;
        timer.start();
        LoopThread worker{QUrl(emulator.uploadUrl())};
        worker.start();
        const bool done =
            waitUntil([&] { return emulator->requestCount(ServiceEmulator::Endpoint::Analyse) >= count; }, 600000, 20);
        const double seconds = timer.elapsed() / 1000.0;
        const double clientCpu =
            (processCpuSeconds() - processBefore) - (threadsCpuSeconds(emulatorThreads) - emulatorBefore);
        worker.requestInterruption();
        worker.wait();
        if (!done) {
            state.SkipWithError("not every image arrived");
            break;
        }
        state.counters["images_per_s"] = count / seconds;
        state.counters["client_cpu_ms_per_image"] = clientCpu * 1000.0 / count;
        state.counters["worker_thread_cpu_ms_per_image"] = worker.cpuSeconds * 1000.0 / count;
        state.counters["stored"] = emulator->storedKeys().size();
        // Where the time goes: from the store's answer to the announcement, and from the announcement to the next
        // upload's arrival (the store's timestamps, in ms).
        qint64 uploadToAnalyse = 0;
        qint64 analyseToUpload = 0;
        int pairs = 0;
        const auto log = emulator->requestLog();
        for (int i = 1; i + 1 < log.size(); ++i) {
            if (log[i].endpoint == ServiceEmulator::Endpoint::Analyse &&
                log[i - 1].endpoint == ServiceEmulator::Endpoint::Upload &&
                log[i + 1].endpoint == ServiceEmulator::Endpoint::Upload) {
                uploadToAnalyse += log[i].receivedMs - log[i - 1].receivedMs;
                analyseToUpload += log[i + 1].receivedMs - log[i].receivedMs;
                ++pairs;
            }
        }
        if (pairs > 0) {
            state.counters["ms_upload_to_analyse"] = double(uploadToAnalyse) / pairs;
            state.counters["ms_analyse_to_next_upload"] = double(analyseToUpload) / pairs;
        }
    }
}

void BM_Throughput200x200KB(benchmark::State& state)
{
    drainFolder(state, 200, TestUtils::patternJpeg(200 * 1024, 1));
}

// Many small images queued at start (a day's photographs of a camera without network).
void BM_Drain5000Small(benchmark::State& state)
{
    drainFolder(state, 5000, TestUtils::patternJpeg(2 * 1024, 3));
}

// Sets an environment variable for one benchmark and the settings that read it; restores both afterwards.
class ScopedSetting
{
public:
    ScopedSetting(const char* name, const QString& value) : m_name(name), m_had(qEnvironmentVariableIsSet(name))
    {
        m_old = qgetenv(name);
        qputenv(name, value.toUtf8());
        Settings::reload();
    }
    ~ScopedSetting()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
        Settings::reload();
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// A school's link: a relay adding a round trip and a bandwidth limit in front of both hosts, each over TLS, and the
// real worker loop draining the folder. The link's own limit per image is the image's time on the line plus the two
// round trips it cannot do without (its upload and its announcement).
void BM_SchoolLink(benchmark::State& state)
{
    const int count = int(state.range(0));
    const int roundTripMs = 40;
    const double megabitsPerSecond = 20;
    const QByteArray image = TestUtils::patternJpeg(200 * 1024, 4);
    for (auto _ : state) {
        Setup setup;
        TestAuthority authority(QStringLiteral("school-link"));
        const TestAuthority::Issued certificate = authority.issue("loopback", "IP:127.0.0.1");
        if (!authority.isValid() || certificate.certificateFile.isEmpty()) {
            state.SkipWithError("no test certificate authority (openssl)");
            break;
        }
        ScopedSetting trusted("AMBREL_CA_FILE", authority.certificateFile());
        SecureTransport::applyTrustedAuthorities();
        ServiceEmulator::Options options;
        options.tlsCertFile = certificate.certificateFile;
        options.tlsKeyFile = certificate.keyFile;
        EmulatorFixture emulator(options);
        LinkRelay link(roundTripMs, megabitsPerSecond);
        const quint16 target = quint16(QUrl(emulator.baseUrl()).port());
        const quint16 servicePort = link.addHost(target);
        const quint16 storePort = link.addHost(target);
        ScopedSetting service("AMBREL_API_HOST", QStringLiteral("https://127.0.0.1:%1").arg(servicePort));

        for (int i = 0; i < count; ++i)
            UploadFolder::placeBytes(Setup::folder(), QStringLiteral("{%1}.jpg").arg(i, 5, 10, QLatin1Char('0')),
                                     image);
        QElapsedTimer timer;
        timer.start();
        LoopThread worker{QUrl(QStringLiteral("https://127.0.0.1:%1/upload").arg(storePort))};
        worker.start();
        const bool done =
            waitUntil([&] { return emulator->requestCount(ServiceEmulator::Endpoint::Analyse) >= count; }, 600000, 20);
        const double msPerImage = double(timer.elapsed()) / count;
        worker.requestInterruption();
        worker.wait();
        if (!done) {
            state.SkipWithError("not every image arrived");
            break;
        }
        const double limit = double(image.size()) * 8.0 / (megabitsPerSecond * 1e6) * 1000.0 + 2.0 * roundTripMs;
        state.counters["ms_per_image"] = msPerImage;
        state.counters["link_limit_ms_per_image"] = limit;
        state.counters["ratio"] = msPerImage / limit;
        state.counters["service_connections"] = link.connections(servicePort);
        state.counters["store_connections"] = link.connections(storePort);
    }
}

void BM_RenameToArrivalLatency(benchmark::State& state)
{
    const int rounds = 15;
    const QByteArray image = TestUtils::patternJpeg(200 * 1024, 2);
    for (auto _ : state) {
        Setup setup;
        EmulatorFixture emulator;
        LoopThread worker{QUrl(emulator.uploadUrl())};
        worker.start();
        waitUntil([&] { return emulator->requestCount(ServiceEmulator::Endpoint::UploadToken) > 0; }, 10000);
        std::vector<double> latencies;
        for (int i = 0; i < rounds; ++i) {
            // Land at different points of the idle pause.
            QThread::msleep(static_cast<unsigned long>(300 + 37 * i));
            QElapsedTimer timer;
            timer.start();
            UploadFolder::placeBytes(Setup::folder(), QStringLiteral("{%1}.jpg").arg(i), image);
            if (!waitUntil([&] { return emulator->storedKeys().size() > i; }, 10000, 1)) {
                state.SkipWithError("image did not arrive");
                break;
            }
            latencies.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        worker.requestInterruption();
        worker.wait();
        if (latencies.empty())
            break;
        std::sort(latencies.begin(), latencies.end());
        double total = 0;
        for (double ms : latencies)
            total += ms;
        state.counters["median_latency_ms"] = latencies[latencies.size() / 2];
        state.counters["mean_latency_ms"] = total / double(latencies.size());
        state.counters["max_latency_ms"] = latencies.back();
    }
}

// The task database's share of one image: the look-up of a listed file, the key recorded before sending, and the
// two steps after it (stored, announced), each its own committed write.
void BM_LedgerPerImage(benchmark::State& state)
{
    Setup setup;
    UploadLedger ledger;
    if (!ledger.openForTask(TaskFolders::inWorkingFolder(kTask))) {
        state.SkipWithError("no database");
        return;
    }
    qint64 serial = 0;
    for (auto _ : state) {
        ++serial;
        const UploadLedger::Identity image{QStringLiteral("{%1}.jpg").arg(serial), 200 * 1024, 1700000000000 + serial};
        ledger.find(image);
        ledger.recordSending(image, QStringLiteral("paper/origin/bench/task1/%1.jpg").arg(serial), serial);
        ledger.markStored(image);
        ledger.markAnnounced(image);
    }
}

// The two round trips of one image on their own, to compare with the worker's time per image.
void BM_StoreRoundTrip200KB(benchmark::State& state)
{
    Setup setup;
    EmulatorFixture emulator;
    HttpCommunicationThread::getUploadToken();
    const QString path = Setup::folder() + QStringLiteral("one.jpg");
    UploadFolder::placeBytes(Setup::folder(), QStringLiteral("one.jpg"), QByteArray(200 * 1024, 's'));
    CloudUploader client(QUrl(emulator.uploadUrl()));
    qint64 serial = 0;
    std::vector<double> walls;
    for (auto _ : state) {
        const QString key = QStringLiteral("paper/origin/bench/task1/%1.jpg").arg(++serial);
        QElapsedTimer wall;
        wall.start();
        if (client.putFile(HttpCommunicationThread::uploadToken, key, path) != 200) {
            state.SkipWithError("upload failed");
            break;
        }
        walls.push_back(double(wall.nsecsElapsed()) / 1e6);
    }
    reportSpread(state, walls, "ms");
}

void BM_AnalyseRoundTrip(benchmark::State& state)
{
    Setup setup;
    EmulatorFixture emulator;
    HttpCommunicationThread::getUploadToken();
    for (auto _ : state)
        HttpCommunicationThread::analyseAnswerImage(QStringLiteral("paper/origin/bench/task1/1.jpg"));
}

} // namespace

BENCHMARK(BM_StoreRoundTrip200KB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);
BENCHMARK(BM_LedgerPerImage)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(2000);
BENCHMARK(BM_AnalyseRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);
BENCHMARK(BM_IdleWorkerCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Throughput200x200KB)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenameToArrivalLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SchoolLink)->Arg(30)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Drain5000Small)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    qputenv("AMBREL_LOG_FILE", QDir::temp().filePath(QStringLiteral("bench_upload.log")).toUtf8());
    QCoreApplication app(argc, argv);
    // Made on the main thread, as the program makes it before starting the worker.
    QueueStatus::instance();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
