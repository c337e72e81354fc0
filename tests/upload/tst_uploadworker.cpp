#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "EmulatorFixture.h"
#include "TestAuthority.h"
#include "TestClock.h"
#include "TestUtils.h"
#include "core/SecureTransport.h"
#include "core/Settings.h"
#include "core/TaskFolders.h"
#include "service/HttpCommunicationThread.h"
#include "upload/CloudUploader.h"
#include "upload/UploadFolder.h"
#include "upload/UploadLedger.h"
#include "upload/UploadLoop.h"
#include "upload/UploadSocket.h"
#include "upload/WorkerLinks.h"

// The upload worker against the in-process emulator over loopback HTTP: the real cloud client and the real token
// and analyse calls, with short intervals so nothing waits for seconds.

Q_DECLARE_METATYPE(ServiceEmulator::Fault)
Q_DECLARE_METATYPE(ServiceEmulator::Endpoint)
Q_DECLARE_METATYPE(QueueState::Link)
Q_DECLARE_METATYPE(QueueState::Kind)

using Endpoint = ServiceEmulator::Endpoint;
using Fault = ServiceEmulator::Fault;

namespace {

const QString kUid = QStringLiteral("u7");
const QString kTask = QStringLiteral("t42");

// Bytes that begin like a JPEG without being a whole one.
QByteArray sheet(const QByteArray& text)
{
    return QByteArray("\xFF\xD8\xFF", 3) + text;
}

class RecordingSleeper : public UploadLoop::Sleeper
{
public:
    QList<int> sleeps;
    // Runs before each pause, with the number of pauses so far: a test ends a fault after so many failed calls.
    std::function<void(int)> onSleep;
    void sleep(int ms) override
    {
        sleeps << ms;
        if (onSleep)
            onSleep(sleeps.size());
        QThread::msleep(static_cast<unsigned long>(ms));
    }
};

// The real client, noting which clock reading each attempt carried and which file it sent.
class WatchedUploader : public UploadLoop::Uploader
{
public:
    WatchedUploader(const QUrl& url, TestClock& clock, int timeoutMs) : m_client(url, timeoutMs), m_clock(clock) {}
    QList<qint64> readings;
    QStringList files;
    std::function<void(const QString&)> before;
    int putFile(const QString& uploadToken, const QString& key, const QString& localPath) override
    {
        readings << m_clock.lastReading();
        files << QFileInfo(localPath).fileName();
        if (before)
            before(localPath);
        return m_client.putFile(uploadToken, key, localPath);
    }

private:
    CloudUploader m_client;
    TestClock& m_clock;
};

UploadLoop::Intervals shortIntervals()
{
    UploadLoop::Intervals i;
    i.credentialsRetryMs = 20;
    i.idlePauseMs = 10;
    i.waitingPauseMs = 10;
    i.backoffInitialMs = 10;
    i.backoffMaxMs = 80;
    i.settleMs = 0;
    return i;
}

struct Rig
{
    explicit Rig(const UploadLoop::Intervals& intervals = shortIntervals(), int timeoutMs = 5000,
                 const ServiceEmulator::Options& options = ServiceEmulator::Options())
        : emulator(options), uploader(QUrl(emulator.uploadUrl()), clock, timeoutMs),
          loop(*service, uploader, clock, sleeper, ledger, kUid, TaskFolders::inWorkingFolder(kTask), intervals)
    {
        // Real files' times and real waits are compared with its readings.
        clock.followSystemTime();
        ledger.openForTask(TaskFolders::inWorkingFolder(kTask));
        HttpCommunicationThread::setTaskId(kTask);
        HttpCommunicationThread::setToken(QStringLiteral("teacher-token"));
        HttpCommunicationThread::setUid(kUid);
        HttpCommunicationThread::uploadToken.clear();
        HttpCommunicationThread::uploadDomain.clear();
        QDir().mkpath(loop.folder());
    }

    QString path(const QString& name) const { return loop.folder() + name; }
    bool write(const QString& name, const QByteArray& bytes) { return TestUtils::writeFile(path(name), bytes); }
    void runPasses(int passes)
    {
        QVERIFY(loop.acquireCredentials());
        for (int i = 0; i < passes; ++i)
            loop.runPass();
    }
    QStringList announcedUrls()
    {
        QStringList urls;
        for (const auto& r : emulator->requests(Endpoint::Analyse))
            urls << r.params.value(QStringLiteral("imageUrl"));
        return urls;
    }
    QStringList folderFiles() const { return QDir(loop.folder()).entryList(QDir::Files | QDir::Hidden); }

    ScopedWorkingDirectory cwd;
    EmulatorFixture emulator;
    TestClock clock;
    RecordingSleeper sleeper;
    const std::unique_ptr<UploadService> service = WorkerLinks::serviceCalls();
    WatchedUploader uploader;
    UploadLedger ledger;
    UploadLoop loop;
};

// Sets environment variables for one test and restores them afterwards, settings re-read both times.
class ScopedEnvironment
{
public:
    void set(const char* name, const QString& value)
    {
        m_saved.append({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
        qputenv(name, value.toLocal8Bit());
        Settings::reload();
    }
    ~ScopedEnvironment()
    {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->had)
                qputenv(it->name, it->value);
            else
                qunsetenv(it->name);
        }
        Settings::reload();
    }

private:
    struct Saved
    {
        const char* name;
        bool had;
        QByteArray value;
    };
    QList<Saved> m_saved;
};

} // namespace

class TestUploadWorker : public QObject
{
    Q_OBJECT

private slots:
    void edgeCases_data();
    void edgeCases();
    void nameOrderAndClockPerAttempt();
    void foreignObjectUnderTheKeyIsKept();
    void serviceDownAtStartUp_data();
    void serviceDownAtStartUp();
    void tokenRefusedOnce();
    void growingFileArrivesComplete();
    void failingStoreRecovers_data();
    void failingStoreRecovers();
    void vanishedFileDoesNotBlock();
    void undeletableFileUploadedOnce();
    void multipartBody_data();
    void multipartBody();
    void storeCodes_data();
    void storeCodes();
    void overHttps_data();
    void overHttps();
    void storeConnectionSendsWithoutDelay();
    void publishedQueueState_data();
    void publishedQueueState();
};

void TestUploadWorker::edgeCases_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("uploaded");
    QTest::addColumn<QString>("extension");

    QTest::newRow("scan.JPG keyed .JPG") << QStringList{"scan.JPG"} << QStringList{"scan.JPG"} << "JPG";
    QTest::newRow("a.jpeg keyed .jpeg; gif, tif and no extension never touched")
        << QStringList{"a.jpeg", "a.gif", "a.tif", "noextension"} << QStringList{"a.jpeg"} << "jpeg";
    QTest::newRow("report.final.png keyed .png")
        << QStringList{"report.final.png"} << QStringList{"report.final.png"} << "png";
}

void TestUploadWorker::edgeCases()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, uploaded);
    QFETCH(QString, extension);

    Rig rig;
    QVERIFY(rig.emulator.isRunning());
    for (const QString& f : files)
        QVERIFY(rig.write(f, sheet("bytes of " + f.toUtf8())));

    rig.runPasses(2);

    const QStringList keys = rig.emulator->storedKeys();
    QCOMPARE(keys.size(), uploaded.size());
    QCOMPARE(rig.emulator->uploads().size(), uploaded.size());
    for (int i = 0; i < uploaded.size(); ++i) {
        QVERIFY2(QRegularExpression(QStringLiteral("^paper/origin/u7/t42/\\d{13}\\.") + extension + "$")
                     .match(keys[i])
                     .hasMatch(),
                 qPrintable(keys[i]));
        QCOMPARE(rig.emulator->objectBytes(keys[i]), sheet("bytes of " + uploaded[i].toUtf8()));
        QCOMPARE(rig.announcedUrls().value(i), rig.emulator.domain() + keys[i]);
        QVERIFY(!QFileInfo::exists(rig.path(uploaded[i])));
    }
    QCOMPARE(rig.announcedUrls().size(), uploaded.size());
    for (const QString& f : files)
        QCOMPARE(QFileInfo::exists(rig.path(f)), !uploaded.contains(f));
}

void TestUploadWorker::nameOrderAndClockPerAttempt()
{
    Rig rig;
    QVERIFY(rig.write("b.png", sheet("second")));
    QVERIFY(rig.write("a.jpg", sheet("first")));

    rig.runPasses(1);

    const QStringList keys = rig.emulator->storedKeys();
    QCOMPARE(keys.size(), 2);
    QCOMPARE(rig.uploader.files, (QStringList{"a.jpg", "b.png"}));
    QCOMPARE(rig.emulator->objectBytes(keys[0]), sheet("first"));
    QCOMPARE(rig.emulator->objectBytes(keys[1]), sheet("second"));
    QCOMPARE(keys[0], UploadLoop::objectKey(kUid, kTask, rig.uploader.readings[0], "a.jpg"));
    QCOMPARE(keys[1], UploadLoop::objectKey(kUid, kTask, rig.uploader.readings[1], "b.png"));
    // The first image was announced before the second was sent.
    const auto log = rig.emulator->requestLog();
    QStringList order;
    for (const auto& r : log)
        if (r.endpoint == Endpoint::Upload || r.endpoint == Endpoint::Analyse)
            order << ServiceEmulator::endpointName(r.endpoint);
    QCOMPARE(order, (QStringList{"upload", "analyse", "upload", "analyse"}));
}

// The clock was set back and the first key is taken by an object stored earlier: that object stays as it is and
// the file goes under the next key.
void TestUploadWorker::foreignObjectUnderTheKeyIsKept()
{
    Rig rig;
    const qint64 setBack = 1700000000123;
    rig.clock.set(setBack);
    const QString key = UploadLoop::objectKey(kUid, kTask, setBack, "sheet.jpg");
    QVERIFY(rig.emulator->storeObject(key, "stored earlier"));
    QVERIFY(rig.write("sheet.jpg", sheet("this attempt")));

    rig.runPasses(1);

    QCOMPARE(rig.emulator->uploads().size(), 2);
    QCOMPARE(rig.emulator->uploads()[0].status, 614);
    QCOMPARE(rig.emulator->uploads()[1].status, 200);
    const QString next = UploadLoop::objectKey(kUid, kTask, setBack + 1, "sheet.jpg");
    QCOMPARE(rig.emulator->objectBytes(key), QByteArray("stored earlier"));
    QCOMPARE(rig.emulator->objectBytes(next), sheet("this attempt"));
    QCOMPARE(rig.announcedUrls(), QStringList{rig.emulator.domain() + next});
    QVERIFY(!QFileInfo::exists(rig.path("sheet.jpg")));
}

void TestUploadWorker::serviceDownAtStartUp_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::newRow("connection dropped") << Fault{Fault::Drop, 0, -1};
    QTest::newRow("service answers an error code") << Fault{Fault::CodeNonZero, 1001, -1};
    QTest::newRow("reply is not JSON") << Fault{Fault::NonJson, 0, -1};
}

void TestUploadWorker::serviceDownAtStartUp()
{
    QFETCH(Fault, fault);
    Rig rig;
    QVERIFY(rig.write("sheet.jpg", sheet("x")));
    // The service comes back after the third failed call. Counted in the worker's calls, not in requests: the
    // network stack may send a request again by itself when the connection closes early.
    rig.emulator->addFault(Endpoint::UploadToken, fault);
    rig.sleeper.onSleep = [&](int pauses) {
        if (pauses == 3)
            rig.emulator->clearFaults(Endpoint::UploadToken);
    };

    rig.runPasses(1);

    QCOMPARE(rig.sleeper.sleeps, (QList<int>{20, 20, 20}));
    QStringList order;
    for (const auto& r : rig.emulator->requestLog())
        if (r.endpoint == Endpoint::Upload || r.endpoint == Endpoint::UploadToken)
            order << ServiceEmulator::endpointName(r.endpoint) + ":" + QString::number(r.status);
    // No upload before the first good token call, the first one right after it.
    QVERIFY2(order.size() >= 5, qPrintable(order.join(' ')));
    QCOMPARE(order.mid(order.size() - 2), (QStringList{"token:200", "upload:200"}));
    QCOMPARE(order.filter(QStringLiteral("upload:")).size(), 1);
    QCOMPARE(rig.emulator->uploads()[0].token, rig.emulator->currentUploadToken());
    QCOMPARE(rig.emulator->storedKeys().size(), 1);
}

void TestUploadWorker::tokenRefusedOnce()
{
    Rig rig;
    QVERIFY(rig.write("sheet.jpg", sheet("x")));
    QVERIFY(rig.loop.acquireCredentials());
    // The token the worker holds has expired meanwhile.
    rig.emulator->revokeUploadTokens();
    rig.emulator->clearRequestLog();

    rig.loop.runPass();

    QStringList order;
    for (const auto& r : rig.emulator->requestLog())
        order << ServiceEmulator::endpointName(r.endpoint) + ":" + QString::number(r.status);
    QCOMPARE(order, (QStringList{"upload:401", "token:200", "upload:200", "analyse:200"}));
    QVERIFY(rig.sleeper.sleeps.isEmpty());
    QVERIFY(!QFileInfo::exists(rig.path("sheet.jpg")));
}

void TestUploadWorker::growingFileArrivesComplete()
{
    UploadLoop::Intervals intervals = shortIntervals();
    // Far longer than the test runs: only the file's being whole can let it go.
    intervals.settleMs = 600000;
    Rig rig(intervals);
    const QString path = rig.path("slow.jpg");
    const QByteArray jpeg = TestUtils::encodedTestImage(800, 600, "JPG", 95);
    QVERIFY(!jpeg.isEmpty());
    std::atomic<bool> writerDone{false};
    // A producer that ignores the atomic hand-over: it writes a photograph straight under the final name, in eight
    // pieces 100 ms apart.
    std::thread writer([&] {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return;
        const int piece = jpeg.size() / 8 + 1;
        for (int offset = 0; offset < jpeg.size(); offset += piece) {
            file.write(jpeg.mid(offset, piece));
            file.flush();
            QThread::msleep(100);
        }
        file.close();
        writerDone = true;
    });
    QTRY_VERIFY(QFileInfo::exists(path));

    QVERIFY(rig.loop.acquireCredentials());
    QElapsedTimer timer;
    timer.start();
    while (rig.emulator->storedKeys().isEmpty() && timer.elapsed() < 10000) {
        rig.loop.runPass();
        QThread::msleep(static_cast<unsigned long>(rig.loop.nextPassDelayMs()));
    }
    writer.join();

    QVERIFY(writerDone);
    QCOMPARE(rig.emulator->storedKeys().size(), 1);
    QVERIFY(rig.emulator->objectBytes(rig.emulator->storedKeys()[0]) == jpeg);
    QCOMPARE(rig.emulator->uploads().size(), 1);
    QCOMPARE(rig.announcedUrls().size(), 1);
    QVERIFY(!QFileInfo::exists(path));
}

void TestUploadWorker::failingStoreRecovers_data()
{
    QTest::addColumn<Fault>("fault");
    // The store's timeout in ms: short only where it is what fails.
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("store answers 503") << Fault{Fault::HttpStatus, 503, -1} << 5000;
    QTest::newRow("connection dropped") << Fault{Fault::Drop, 0, -1} << 5000;
    QTest::newRow("no answer within the timeout") << Fault{Fault::Hang, 30000, -1} << 600;
}

void TestUploadWorker::failingStoreRecovers()
{
    QFETCH(Fault, fault);
    QFETCH(int, timeoutMs);
    Rig rig(shortIntervals(), timeoutMs);
    for (const char* f : {"1.jpg", "2.jpg", "3.jpg"})
        QVERIFY(rig.write(f, sheet(QByteArray("image ") + f)));
    // The store comes back after the fifth failed attempt, counted in the worker's attempts.
    rig.emulator->addFault(Endpoint::Upload, fault);
    rig.sleeper.onSleep = [&](int pauses) {
        if (pauses == 5)
            rig.emulator->clearFaults(Endpoint::Upload);
    };

    rig.runPasses(1);

    // Pauses grow between the failed attempts up to their bound; then every file arrives, each announced exactly
    // once. A loaded machine may add a failed attempt after the store is back (a new connection slower than a short
    // timeout): such a pause stays within the bound.
    const QList<int> sleeps = rig.sleeper.sleeps;
    QVERIFY2(sleeps.size() >= 5, qPrintable(QString::number(sleeps.size())));
    QCOMPARE(sleeps.mid(0, 5), (QList<int>{10, 20, 40, 80, 80}));
    for (int pause : sleeps.mid(5))
        QVERIFY(pause >= 10 && pause <= 80);
    const QStringList keys = rig.emulator->storedKeys();
    QCOMPARE(keys.size(), 3);
    QCOMPARE(rig.emulator->objectBytes(keys[2]), sheet("image 3.jpg"));
    QStringList announced = rig.announcedUrls();
    QCOMPARE(announced.size(), 3);
    announced.removeDuplicates();
    QCOMPARE(announced.size(), 3);
    QVERIFY(rig.folderFiles().isEmpty());
}

void TestUploadWorker::vanishedFileDoesNotBlock()
{
    Rig rig;
    for (const char* f : {"a.jpg", "b.jpg", "c.jpg"})
        QVERIFY(rig.write(f, sheet(f)));
    // b.jpg is taken away by someone else while a.jpg is being sent.
    rig.uploader.before = [&](const QString& path) {
        if (path.endsWith("a.jpg"))
            QFile::remove(rig.path("b.jpg"));
    };

    rig.runPasses(2);

    QCOMPARE(rig.uploader.files, (QStringList{"a.jpg", "c.jpg"}));
    QCOMPARE(rig.emulator->storedKeys().size(), 2);
    QVERIFY(rig.folderFiles().isEmpty());
}

void TestUploadWorker::undeletableFileUploadedOnce()
{
    Rig rig;
    QVERIFY(rig.write("stuck.png", sheet("stuck")));
    rig.loop.setRemoveFile([](const QString&) { return false; });

    rig.runPasses(5);

    QCOMPARE(rig.emulator->storedKeys().size(), 1);
    QCOMPARE(rig.announcedUrls().size(), 1);
    QVERIFY(QFileInfo::exists(rig.path("stuck.png")));
}

void TestUploadWorker::multipartBody_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("size");
    QTest::newRow("20 MB photograph") << "large.jpg" << 20 * 1024 * 1024;
    QTest::newRow("empty file") << "empty.png" << 0;
    QTest::newRow("non-ASCII name with spaces") << QString::fromUtf8("答题卡 第1页.jpg") << 1000;
}

void TestUploadWorker::multipartBody()
{
    QFETCH(QString, fileName);
    QFETCH(int, size);

    Rig rig;
    QVERIFY(HttpCommunicationThread::getUploadToken());
    const QByteArray bytes = TestUtils::patternBytes(size, 7);
    QVERIFY(rig.write(fileName, bytes));
    const QString key = QStringLiteral("paper/origin/u7/t42/1.jpg");

    CloudUploader client(QUrl(rig.emulator.uploadUrl()));
    QCOMPARE(client.putFile(HttpCommunicationThread::uploadToken, key, rig.path(fileName)), 200);

    const auto uploads = rig.emulator->uploads();
    QCOMPARE(uploads.size(), 1);
    const auto& upload = uploads[0];
    QVERIFY(upload.contentType.startsWith("multipart/form-data; boundary="));
    QCOMPARE(upload.parts.size(), 3);
    QCOMPARE(upload.parts[0].name, QStringLiteral("token"));
    QCOMPARE(upload.parts[1].name, QStringLiteral("key"));
    QCOMPARE(upload.parts[2].name, QStringLiteral("file"));
    QVERIFY(upload.parts[0].fileName.isEmpty());
    QCOMPARE(upload.parts[2].fileName, fileName);
    QCOMPARE(upload.parts[2].contentType, QStringLiteral("application/octet-stream"));
    QCOMPARE(upload.parts[2].size, qint64(size));
    QCOMPARE(upload.token, HttpCommunicationThread::uploadToken);
    QCOMPARE(upload.key, key);
    QVERIFY(rig.emulator->objectBytes(key) == bytes);
    // Uploading does not consume the local file: deleting it is the worker's decision.
    QVERIFY(QFileInfo::exists(rig.path(fileName)));
}

void TestUploadWorker::storeCodes_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("expected");
    QTest::newRow("stored") << "ok" << 200;
    QTest::newRow("key exists") << "exists" << 614;
    QTest::newRow("200 with a captive portal's page") << "portal" << int(UploadLoop::Unconfirmed);
    QTest::newRow("200 not naming the key") << "nokey" << int(UploadLoop::Unconfirmed);
    QTest::newRow("200 naming another key") << "otherkey" << int(UploadLoop::Unconfirmed);
    QTest::newRow("stored, the upload policy's return body names no key") << "returnbody" << 200;
    QTest::newRow("token refused") << "badtoken" << 401;
    QTest::newRow("server error") << "500" << 500;
    QTest::newRow("connection dropped") << "drop" << int(UploadLoop::NotStored);
    QTest::newRow("timeout") << "hang" << int(UploadLoop::NotStored);
    QTest::newRow("store not running") << "down" << int(UploadLoop::NotStored);
    QTest::newRow("local file missing") << "nofile" << int(UploadLoop::FileUnreadable);
}

void TestUploadWorker::storeCodes()
{
    QFETCH(QString, situation);
    QFETCH(int, expected);

    Rig rig;
    QVERIFY(HttpCommunicationThread::getUploadToken());
    QString token = HttpCommunicationThread::uploadToken;
    const QString key = QStringLiteral("paper/origin/u7/t42/2.jpg");
    QVERIFY(rig.write("s.jpg", "x"));
    if (situation == "exists")
        QVERIFY(rig.emulator->storeObject(key, "y"));
    else if (situation == "badtoken")
        token = "forged";
    else if (situation == "portal")
        rig.emulator->addFault(Endpoint::Upload, Fault{Fault::NonJson, 0, 1});
    else if (situation == "returnbody")
        rig.emulator->setCannedBody(Endpoint::Upload, R"({"name":"s.jpg","size":1})");
    else if (situation == "otherkey")
        rig.emulator->setCannedBody(Endpoint::Upload, R"({"hash":"Fh8x","key":"paper/origin/u7/t42/1.jpg"})");
    else if (situation == "nokey")
        rig.emulator->addFault(Endpoint::Upload, Fault{Fault::UploadStatus, 200, 1});
    else if (situation == "500")
        rig.emulator->addFault(Endpoint::Upload, Fault{Fault::HttpStatus, 500, 1});
    else if (situation == "drop")
        rig.emulator->addFault(Endpoint::Upload, Fault{Fault::Drop, 0, -1});
    else if (situation == "hang")
        rig.emulator->addFault(Endpoint::Upload, Fault{Fault::Hang, 3000, 1});
    else if (situation == "down")
        rig.emulator->stop();
    else if (situation == "nofile")
        QVERIFY(QFile::remove(rig.path("s.jpg")));

    // Short only where the timeout is the point, so a busy machine does not turn a slow answer into a failure.
    CloudUploader client(QUrl(rig.emulator.uploadUrl()), situation == "hang" ? 300 : 5000);
    QCOMPARE(client.putFile(token, key, rig.path("s.jpg")), expected);
    // The store behind a reply naming another key did take the bytes: the client just cannot know it did.
    if (situation != "down")
        QCOMPARE(rig.emulator->hasObject(key), expected == 200 || situation == "exists" || situation == "otherkey");
}

void TestUploadWorker::overHttps_data()
{
    QTest::addColumn<QString>("server");
    // QSslError::NoError: the exchange goes through.
    QTest::addColumn<int>("refusal");
    QTest::newRow("certificate from the authority given") << "trusted" << int(QSslError::NoError);
    QTest::newRow("certificate from an authority not given")
        << "stranger" << int(QSslError::UnableToGetLocalIssuerCertificate);
    QTest::newRow("certificate for another host name") << "elsewhere" << int(QSslError::HostNameMismatch);
}

// The whole upload path over HTTPS: the token call, the store and the announcement, with the tests' authority added
// to the system's. A certificate that does not hold stops everything before a byte of the request leaves.
void TestUploadWorker::overHttps()
{
    QFETCH(QString, server);
    QFETCH(int, refusal);

    TestAuthority school(QStringLiteral("school-authority"));
    QVERIFY2(school.isValid(), qPrintable(school.error()));
    TestAuthority stranger(QStringLiteral("stranger-authority"));
    QVERIFY2(stranger.isValid(), qPrintable(stranger.error()));
    const TestAuthority::Issued certificate = server == "trusted"    ? school.issue("loopback", "IP:127.0.0.1")
                                              : server == "stranger" ? stranger.issue("loopback", "IP:127.0.0.1")
                                                                     : school.issue("elsewhere", "DNS:other.example");
    QVERIFY(!certificate.certificateFile.isEmpty());

    QTemporaryDir logFolder;
    const QString log = logFolder.filePath("log.txt");
    ScopedEnvironment environment;
    environment.set("AMBREL_CA_FILE", school.certificateFile());
    environment.set("AMBREL_LOG_FILE", log);
    SecureTransport::applyTrustedAuthorities();
    // Added to the system's authorities, not in their place.
    const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
    for (const QSslCertificate& system : QSslConfiguration::systemCaCertificates())
        QVERIFY(trusted.contains(system));

    ServiceEmulator::Options options;
    options.tlsCertFile = certificate.certificateFile;
    options.tlsKeyFile = certificate.keyFile;
    Rig rig(shortIntervals(), 5000, options);
    QVERIFY(rig.emulator.isRunning());
    QVERIFY(rig.emulator.baseUrl().startsWith("https://127.0.0.1:"));
    const QByteArray sheet = TestUtils::patternJpeg(2000, 3);
    QVERIFY(rig.write("sheet.jpg", sheet));
    // Failed exchanges are retried after pauses: three of them end the test.
    rig.loop.setKeepGoing([&rig] { return rig.sleeper.sleeps.size() < 3; });

    if (refusal == QSslError::NoError) {
        rig.runPasses(1);
        const QStringList keys = rig.emulator->storedKeys();
        QCOMPARE(keys.size(), 1);
        QCOMPARE(rig.emulator->objectBytes(keys[0]), sheet);
        QCOMPARE(rig.announcedUrls(), QStringList{rig.emulator.domain() + keys[0]});
        QVERIFY(!QFileInfo::exists(rig.path("sheet.jpg")));
        QVERIFY(!rig.loop.secureConnectionFailing());
        return;
    }

    // The credentials call comes back empty, as with a network error.
    QVERIFY(!HttpCommunicationThread::getUploadToken());
    QVERIFY(HttpCommunicationThread::uploadToken.isEmpty());
    QVERIFY(SecureTransport::isFailing(Settings::apiHost()));
    // The store is refused the same way, with the growing pauses of any failed attempt.
    HttpCommunicationThread::uploadToken = QStringLiteral("held-upload-token");
    rig.loop.runPass();

    QCOMPARE(rig.sleeper.sleeps, (QList<int>{10, 20, 40}));
    QVERIFY(rig.loop.secureConnectionFailing());
    QVERIFY(rig.emulator->requestLog().isEmpty());
    QVERIFY(rig.emulator->uploads().isEmpty());
    QCOMPARE(TestUtils::readFile(rig.path("sheet.jpg")), sheet);

    const QString written = QString::fromUtf8(TestUtils::readFile(log));
    const QString reason = QSslError(QSslError::SslError(refusal)).errorString();
    QVERIFY2(written.contains("no secure connection to " + rig.emulator.baseUrl() + ": ") && written.contains(reason),
             qPrintable(written));
    QVERIFY2(!written.contains("teacher-token") && !written.contains("held-upload-token"), qPrintable(written));

    // The worker's own credentials call: what the queue shows is the refused certificate, not an outage.
    rig.loop.setKeepGoing([&rig] { return rig.sleeper.sleeps.size() < 4; });
    QVERIFY(!rig.loop.acquireCredentials());
    QCOMPARE(rig.loop.link(), QueueState::Link::SecureLinkFailed);
    QCOMPARE(UploadLoop::queueStateOf({&rig.loop}).summary().shortText, QStringLiteral("无法建立安全连接，1 张待上传"));
}

// Connections to the store's port have Nagle's algorithm turned off (so the last piece of a form is not held back
// for a delayed acknowledgement); a connection to any other port is left as it is.
void TestUploadWorker::storeConnectionSendsWithoutDelay()
{
#ifndef Q_OS_LINUX
    QSKIP("the process's sockets are looked up on Linux only");
#endif
    QTcpServer store;
    QTcpServer other;
    QVERIFY(store.listen(QHostAddress::LocalHost));
    QVERIFY(other.listen(QHostAddress::LocalHost));
    QTcpSocket toStore;
    QTcpSocket toOther;
    toStore.connectToHost(QHostAddress::LocalHost, store.serverPort());
    toOther.connectToHost(QHostAddress::LocalHost, other.serverPort());
    QVERIFY(toStore.waitForConnected(5000));
    QVERIFY(toOther.waitForConnected(5000));
    QCOMPARE(toStore.socketOption(QAbstractSocket::LowDelayOption).toInt(), 0);

    QCOMPARE(UploadSocket::sendWithoutDelay(store.serverPort()), 1);

    QCOMPARE(toStore.socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
    QCOMPARE(toOther.socketOption(QAbstractSocket::LowDelayOption).toInt(), 0);
    // Already without delay: nothing left to change.
    QCOMPARE(UploadSocket::sendWithoutDelay(store.serverPort()), 0);
}

void TestUploadWorker::publishedQueueState_data()
{
    QTest::addColumn<Endpoint>("endpoint");
    QTest::addColumn<QList<Fault>>("faults"); // all counted from the first request on
    QTest::addColumn<int>("arriving");        // sheets dropped in while the first attempt is under way
    QTest::addColumn<int>("pending");
    QTest::addColumn<int>("refused");
    QTest::addColumn<QueueState::Link>("link");
    QTest::addColumn<QueueState::Kind>("kind");
    QTest::addColumn<QString>("shortText");
    using L = QueueState::Link;
    using K = QueueState::Kind;
    using Faults = QList<Fault>;
    QTest::newRow("store down") << Endpoint::Upload << Faults{{Fault::HttpStatus, 503, -1}} << 0 << 2 << 0
                                << L::StoreUnreachable << K::Offline << QStringLiteral("无法连接存储服务，2 张待上传");
    QTest::newRow("store down, three dropped in during the first attempt: all five counted")
        << Endpoint::Upload << Faults{{Fault::HttpStatus, 503, -1}} << 3 << 5 << 0 << L::StoreUnreachable << K::Offline
        << QStringLiteral("无法连接存储服务，5 张待上传");
    QTest::newRow("service unreachable") << Endpoint::UploadToken << Faults{{Fault::Drop, 0, -1}} << 0 << 2 << 0
                                         << L::ServiceUnreachable << K::Offline
                                         << QStringLiteral("无法连接服务器，2 张待上传");
    QTest::newRow("service down after the token, store up: stored sheets wait, the service is named")
        << Endpoint::Analyse << Faults{{Fault::HttpStatus, 503, -1}} << 0 << 2 << 0 << L::ServiceUnreachable
        << K::Offline << QStringLiteral("无法连接服务器，2 张待上传");
    QTest::newRow("token refused") << Endpoint::Upload << Faults{{Fault::UploadStatus, 401, -1}} << 0 << 2 << 0
                                   << L::TokenRefused << K::Offline << QStringLiteral("上传授权失效，2 张待上传");
    QTest::newRow("one file refused") << Endpoint::Upload << Faults{{Fault::UploadStatus, 403, 1}} << 0 << 0 << 1
                                      << L::Ok << K::Refused << QStringLiteral("1 张照片无法上传");
    // Each sheet's announcement goes unanswered twice, then is refused once: three answers, one refusal.
    QTest::newRow("unanswered twice, refused once: not refused, taken later")
        << Endpoint::Analyse << Faults{{Fault::Drop, 0, 4}, {Fault::CodeNonZero, 0, 6}} << 0 << 0 << 0 << L::Ok
        << K::Idle << QString();
    QTest::newRow("all done") << Endpoint::Upload << Faults{{Fault::Delay, 0, 0}} << 0 << 0 << 0 << L::Ok << K::Idle
                              << QString();
}

void TestUploadWorker::publishedQueueState()
{
    QFETCH(Endpoint, endpoint);
    QFETCH(QList<Fault>, faults);
    QFETCH(int, arriving);
    QFETCH(int, pending);
    QFETCH(int, refused);
    QFETCH(QueueState::Link, link);
    QFETCH(QueueState::Kind, kind);
    QFETCH(QString, shortText);

    UploadLoop::Intervals intervals = shortIntervals();
    intervals.unansweredRepeatMs = 1;
    intervals.refusedAnnounceRetryMs = 1;
    Rig rig(intervals);
    QVERIFY(rig.write("1.jpg", TestUtils::patternJpeg(2000, 1)));
    QVERIFY(rig.write("2.jpg", TestUtils::patternJpeg(2000, 2)));
    for (const Fault& fault : faults)
        rig.emulator->addFault(endpoint, fault);
    // Sheets dropped in after the pass listed the folder, while its first sheet is on its way.
    int toDrop = arriving;
    rig.uploader.before = [&rig, &toDrop](const QString&) {
        for (; toDrop > 0; --toDrop)
            QVERIFY(rig.write(QStringLiteral("late%1.jpg").arg(toDrop), TestUtils::patternJpeg(2000, 10 + toDrop)));
    };
    QList<QueueState> published;
    const QList<const UploadLoop*> loops{&rig.loop};
    rig.loop.setOnChange([&] { published << UploadLoop::queueStateOf(loops); });
    rig.loop.setKeepGoing([&] { return rig.sleeper.sleeps.size() < 6; });

    rig.loop.run();

    QVERIFY(!published.isEmpty());
    const QueueState last = published.last();
    QCOMPARE(last.pending(), pending);
    QCOMPARE(last.refused(), refused);
    QCOMPARE(last.link, link);
    QCOMPARE(last.summary().kind, kind);
    QCOMPARE(last.summary().shortText, shortText);
    // Every file the worker still holds has its row; a refused one tells why and how often it was tried.
    QCOMPARE(last.images.size(), pending + refused);
    if (refused > 0) {
        QCOMPARE(last.images.first().name, QStringLiteral("1.jpg"));
        QCOMPARE(last.images.first().state, QueueState::ImageState::Refused);
        QCOMPARE(last.images.first().reason, QStringLiteral("存储服务拒收（HTTP 403）"));
        QCOMPARE(last.images.first().attempts, 1);
        QCOMPARE(rig.emulator->storedKeys().size(), 1);

        // "重试": the refusal leaves the task database too, and the sheet goes on the next pass.
        const QFileInfo sheet(rig.path("1.jpg"));
        const UploadLedger::Identity identity{sheet.fileName(), sheet.size(), sheet.lastModified().toMSecsSinceEpoch()};
        QVERIFY(!rig.ledger.find(identity).refusedReason.isEmpty());
        rig.loop.retry(QStringLiteral("1.jpg"));
        QVERIFY(rig.ledger.find(identity).refusedReason.isEmpty());
        rig.loop.setKeepGoing([] { return true; });
        rig.loop.runPass();
        QCOMPARE(rig.emulator->storedKeys().size(), 2);
        QVERIFY(!QFileInfo::exists(rig.path("1.jpg")));
        const QueueState after = published.last();
        QCOMPARE(after.refused(), 0);
        QCOMPARE(after.pending(), 0);
    }
    // The file being sent was shown as such whenever the store was reached at all.
    const bool sawInFlight = std::any_of(published.begin(), published.end(), [](const QueueState& state) {
        return std::any_of(state.tasks.begin(), state.tasks.end(),
                           [](const QueueState::Task& task) { return task.inFlight == 1; });
    });
    QCOMPARE(sawInFlight, endpoint != Endpoint::UploadToken);
    if (kind == QueueState::Kind::Idle)
        QVERIFY(last.lastSuccessMs > 0);
}

QTEST_GUILESS_MAIN(TestUploadWorker)
#include "tst_uploadworker.moc"
