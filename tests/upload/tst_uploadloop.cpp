#include <functional>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include "TestUtils.h"
#include "upload/UploadLoop.h"

// The upload loop against fakes of the clock, the sleep, the store and the service: every step is recorded in one
// event list, so the order of token calls, uploads and announcements can be checked exactly.

namespace {

const QString kUid = QStringLiteral("u7");
const QString kTask = QStringLiteral("t42");

struct Events
{
    QStringList list;
    int count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& e : list)
            n += e.startsWith(prefix) ? 1 : 0;
        return n;
    }
};

class FakeClock : public UploadLoop::Clock
{
public:
    // Starts at the real time so that file modification times compare sensibly.
    qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 lastReading = 0;
    qint64 currentMSecsSinceEpoch() override
    {
        // Every reading moves on by a millisecond, so two attempts never share a reading by accident.
        lastReading = ++now;
        return lastReading;
    }
};

class FakeSleeper : public UploadLoop::Sleeper
{
public:
    FakeSleeper(FakeClock& clock, Events& events) : m_clock(clock), m_events(events) {}
    QList<int> sleeps;
    std::function<void()> onSleep;
    void sleep(int ms) override
    {
        sleeps << ms;
        m_events.list << QStringLiteral("sleep:%1").arg(ms);
        m_clock.now += ms;
        if (onSleep)
            onSleep();
    }

private:
    FakeClock& m_clock;
    Events& m_events;
};

struct Attempt
{
    QString token;
    QString key;
    QString fileName;
    QByteArray bytes; // what the store would have read
    qint64 clockAtCall = 0;
};

class FakeUploader : public UploadLoop::Uploader
{
public:
    FakeUploader(FakeClock& clock, Events& events) : m_clock(clock), m_events(events) {}
    QList<int> codes; // answers in order; 200 once they run out
    QList<Attempt> attempts;
    std::function<void(const QString& path)> during; // runs while the "upload" is in progress
    int putFile(const QString& uploadToken, const QString& key, const QString& localPath) override
    {
        const QString name = QFileInfo(localPath).fileName();
        m_events.list << QStringLiteral("put:") + name;
        attempts << Attempt{uploadToken, key, name, TestUtils::readFile(localPath), m_clock.lastReading};
        if (during)
            during(localPath);
        return codes.isEmpty() ? 200 : codes.takeFirst();
    }

private:
    FakeClock& m_clock;
    Events& m_events;
};

class FakeService : public UploadLoop::Service
{
public:
    explicit FakeService(Events& events) : m_events(events) {}
    QList<bool> tokenResults; // true once they run out
    QStringList announced;
    int tokensIssued = 0;
    bool getUploadToken() override
    {
        m_events.list << QStringLiteral("token");
        const bool ok = tokenResults.isEmpty() || tokenResults.takeFirst();
        if (ok)
            m_token = QStringLiteral("upload-token-%1").arg(++tokensIssued);
        return ok;
    }
    void analyseAnswerImage(const QString& key) override
    {
        m_events.list << QStringLiteral("analyse:") + key;
        announced << key;
    }
    QString uploadToken() const override { return m_token; }

private:
    Events& m_events;
    QString m_token;
};

// Everything one test needs, in a fresh working folder.
struct Rig
{
    explicit Rig(UploadLoop::Intervals intervals = quickIntervals())
        : sleeper(clock, events), uploader(clock, events), service(events),
          loop(service, uploader, clock, sleeper, kUid, kTask, intervals)
    {
        QDir().mkpath(loop.folder());
    }

    static UploadLoop::Intervals quickIntervals()
    {
        UploadLoop::Intervals i;
        i.settleMs = 0;
        return i;
    }

    QString path(const QString& name) const { return loop.folder() + name; }
    bool write(const QString& name, const QByteArray& bytes = QByteArray("image bytes"))
    {
        return TestUtils::writeFile(path(name), bytes);
    }
    // Credentials, then passes until `passes` passes ran.
    void runPasses(int passes)
    {
        QVERIFY(loop.acquireCredentials());
        for (int i = 0; i < passes; ++i)
            loop.runPass();
    }
    QStringList puts() const
    {
        QStringList names;
        for (const QString& e : events.list)
            if (e.startsWith(QLatin1String("put:")))
                names << e.mid(4);
        return names;
    }

    ScopedWorkingDirectory cwd;
    Events events;
    FakeClock clock;
    FakeSleeper sleeper;
    FakeUploader uploader;
    FakeService service;
    UploadLoop loop;
};

QString keyPattern(const QString& extension)
{
    return QStringLiteral("^paper/origin/%1/%2/\\d+\\.%3$").arg(kUid, kTask, QRegularExpression::escape(extension));
}

} // namespace

class TestUploadLoop : public QObject
{
    Q_OBJECT

private slots:
    void listing_data();
    void listing();
    void nameOrderAndOneClockReadingPerAttempt();
    void storedCodes_data();
    void storedCodes();
    void credentialsBeforeAnyUpload();
    void tokenRefusedOnceMeansOneTokenCall();
    void tokenRefusedAgainBacksOff();
    void failingStoreBacksOffAndLosesNothing_data();
    void failingStoreBacksOffAndLosesNothing();
    void backOffStartsAgainAfterSuccess();
    void idlePassesPause();
    void settleGuard_data();
    void settleGuard();
    void fileChangedWhileSentIsSentAgain();
    void vanishedFileDoesNotBlock_data();
    void vanishedFileDoesNotBlock();
    void lockedFileDoesNotBlock();
    void undeletableFileUploadedOnce();
    void missingFolderIsCreated();
    void withoutTaskNothingIsUploaded();
};

void TestUploadLoop::listing_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("uploaded"); // in order
    QTest::addColumn<QStringList>("extensions");

    QTest::newRow("upper-case extension kept in the key")
        << QStringList{"scan.JPG"} << QStringList() << QStringList{"scan.JPG"} << QStringList{"JPG"};
    QTest::newRow("mixed-case bmp") << QStringList{"x.BmP"} << QStringList() << QStringList{"x.BmP"}
                                    << QStringList{"BmP"};
    QTest::newRow("other image types and no extension never touched")
        << QStringList{"a.jpeg", "a.gif", "a.tif", "noextension", "a.jpg.txt"} << QStringList() << QStringList()
        << QStringList();
    QTest::newRow("last dot gives the extension")
        << QStringList{"report.final.png"} << QStringList() << QStringList{"report.final.png"} << QStringList{"png"};
    QTest::newRow("hidden file left alone")
        << QStringList{".hidden.jpg", "seen.jpg"} << QStringList() << QStringList{"seen.jpg"} << QStringList{"jpg"};
    QTest::newRow("temporary name of the atomic hand-over left alone")
        << QStringList{"photo.jpg.Ab12Cd", "done.png"} << QStringList() << QStringList{"done.png"}
        << QStringList{"png"};
    QTest::newRow("folder named like an image left alone")
        << QStringList{"z.jpg"} << QStringList{"preview", "folder.jpg"} << QStringList{"z.jpg"} << QStringList{"jpg"};
}

void TestUploadLoop::listing()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, folders);
    QFETCH(QStringList, uploaded);
    QFETCH(QStringList, extensions);

    Rig rig;
    for (const QString& f : files)
        QVERIFY(rig.write(f, f.toUtf8()));
    for (const QString& d : folders)
        QVERIFY(QDir().mkpath(rig.path(d)));

    rig.runPasses(2);

    QCOMPARE(rig.puts(), uploaded);
    QCOMPARE(rig.service.announced.size(), uploaded.size());
    for (int i = 0; i < uploaded.size(); ++i) {
        QVERIFY2(QRegularExpression(keyPattern(extensions[i])).match(rig.service.announced[i]).hasMatch(),
                 qPrintable(rig.service.announced[i]));
        QCOMPARE(rig.uploader.attempts[i].bytes, uploaded[i].toUtf8());
        QVERIFY(!QFileInfo::exists(rig.path(uploaded[i])));
    }
    for (const QString& f : files)
        if (!uploaded.contains(f))
            QVERIFY2(QFileInfo::exists(rig.path(f)), qPrintable(f));
    for (const QString& d : folders)
        QVERIFY(QFileInfo(rig.path(d)).isDir());
}

void TestUploadLoop::nameOrderAndOneClockReadingPerAttempt()
{
    Rig rig;
    for (const char* f : {"b.jpg", "c.bmp", "a.png"})
        QVERIFY(rig.write(f));
    rig.uploader.codes = {500, 200, 200, 200}; // a retry of a.png must carry a reading of its own

    rig.runPasses(1);

    QCOMPARE(rig.puts(), (QStringList{"a.png", "a.png", "b.jpg", "c.bmp"}));
    QSet<QString> keys;
    for (const Attempt& a : rig.uploader.attempts) {
        const QString ext = QFileInfo(a.fileName).suffix();
        QCOMPARE(a.key, UploadLoop::objectKey(kUid, kTask, a.clockAtCall, a.fileName));
        QVERIFY(a.key.endsWith(QString::number(a.clockAtCall) + "." + ext));
        keys.insert(a.key);
    }
    QCOMPARE(keys.size(), 4);
    // Each image is announced with its own key before the next upload begins.
    QCOMPARE(rig.events.list.filter(QRegularExpression("^(put|analyse)")),
             (QStringList{"put:a.png", "put:a.png", "analyse:" + rig.uploader.attempts[1].key, "put:b.jpg",
                          "analyse:" + rig.uploader.attempts[2].key, "put:c.bmp",
                          "analyse:" + rig.uploader.attempts[3].key}));
}

void TestUploadLoop::storedCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("stored (200)") << 200;
    QTest::newRow("already stored (614)") << 614;
}

void TestUploadLoop::storedCodes()
{
    QFETCH(int, code);
    Rig rig;
    QVERIFY(rig.write("sheet.jpg"));
    rig.uploader.codes = {code};

    rig.runPasses(1);

    QCOMPARE(rig.uploader.attempts.size(), 1);
    QCOMPARE(rig.service.announced, QStringList{rig.uploader.attempts[0].key});
    QVERIFY(!QFileInfo::exists(rig.path("sheet.jpg")));
    QVERIFY(rig.sleeper.sleeps.isEmpty());
}

void TestUploadLoop::credentialsBeforeAnyUpload()
{
    Rig rig;
    QVERIFY(rig.write("sheet.jpg"));
    rig.service.tokenResults = {false, false, false, true};

    rig.runPasses(1);

    QCOMPARE(rig.events.list, (QStringList{"token", "sleep:5000", "token", "sleep:5000", "token", "sleep:5000", "token",
                                           "put:sheet.jpg", "analyse:" + rig.uploader.attempts[0].key}));
    QCOMPARE(rig.uploader.attempts[0].token, QStringLiteral("upload-token-1"));
}

void TestUploadLoop::tokenRefusedOnceMeansOneTokenCall()
{
    Rig rig;
    QVERIFY(rig.write("sheet.jpg"));
    rig.uploader.codes = {401, 200};

    rig.runPasses(1);

    // The initial token call, then exactly one more between the refused attempt and the next, without a pause.
    QCOMPARE(rig.events.list, (QStringList{"token", "put:sheet.jpg", "token", "put:sheet.jpg",
                                           "analyse:" + rig.uploader.attempts[1].key}));
    QCOMPARE(rig.uploader.attempts[0].token, QStringLiteral("upload-token-1"));
    QCOMPARE(rig.uploader.attempts[1].token, QStringLiteral("upload-token-2"));
    QVERIFY(rig.uploader.attempts[0].key != rig.uploader.attempts[1].key);
}

void TestUploadLoop::tokenRefusedAgainBacksOff()
{
    Rig rig;
    QVERIFY(rig.write("sheet.jpg"));
    rig.uploader.codes = {401, 401, 401, 200};

    rig.runPasses(1);

    QCOMPARE(rig.events.list,
             (QStringList{"token", "put:sheet.jpg", "token", "put:sheet.jpg", "sleep:1000", "token", "put:sheet.jpg",
                          "sleep:2000", "token", "put:sheet.jpg", "analyse:" + rig.uploader.attempts[3].key}));
}

void TestUploadLoop::failingStoreBacksOffAndLosesNothing_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("server error") << 500;
    QTest::newRow("no answer at all") << int(UploadLoop::NotStored);
    QTest::newRow("bad request") << 400;
}

void TestUploadLoop::failingStoreBacksOffAndLosesNothing()
{
    QFETCH(int, code);
    Rig rig;
    for (const char* f : {"1.jpg", "2.jpg", "3.png"})
        QVERIFY(rig.write(f, QByteArray(f)));
    rig.uploader.codes = QVector<int>(8, code).toList();

    rig.runPasses(1);

    QCOMPARE(rig.sleeper.sleeps, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    QCOMPARE(rig.puts(), (QStringList{"1.jpg", "1.jpg", "1.jpg", "1.jpg", "1.jpg", "1.jpg", "1.jpg", "1.jpg", "1.jpg",
                                      "2.jpg", "3.png"}));
    QCOMPARE(rig.service.announced.size(), 3);
    QCOMPARE(QSet<QString>(rig.service.announced.begin(), rig.service.announced.end()).size(), 3);
    QVERIFY(QDir(rig.loop.folder()).entryList(QDir::Files).isEmpty());
}

void TestUploadLoop::backOffStartsAgainAfterSuccess()
{
    Rig rig;
    QVERIFY(rig.write("1.jpg"));
    QVERIFY(rig.write("2.jpg"));
    rig.uploader.codes = {500, 500, 200, 500, 200};

    rig.runPasses(1);

    QCOMPARE(rig.sleeper.sleeps, (QList<int>{1000, 2000, 1000}));
    QCOMPARE(rig.service.announced.size(), 2);
}

void TestUploadLoop::idlePassesPause()
{
    UploadLoop::Intervals intervals = Rig::quickIntervals();
    intervals.idlePauseMs = 250;
    Rig rig(intervals);
    int passesLeft = 5;
    rig.loop.setKeepGoing([&] { return passesLeft > 0; });
    rig.sleeper.onSleep = [&] {
        if (--passesLeft == 2)
            rig.write("late.jpg");
    };

    rig.loop.run();

    // Every pass that found nothing is followed by the pause; the one that stored a file is not.
    QCOMPARE(rig.events.list.filter(QRegularExpression("^(sleep|put)")),
             (QStringList{"sleep:250", "sleep:250", "sleep:250", "put:late.jpg", "sleep:250", "sleep:250"}));
}

void TestUploadLoop::settleGuard_data()
{
    QTest::addColumn<qint64>("modifiedAgo"); // ms before the clock's present; negative: in the future
    QTest::addColumn<int>("waitFirst");      // expected delay before the next pass, 0 when sent at once

    QTest::newRow("fresh file waits for the rest of the second") << qint64(100) << 900;
    QTest::newRow("file older than a second goes at once") << qint64(5000) << 0;
    QTest::newRow("time stamp in the future settles on our clock") << qint64(-3600 * 1000) << 1000;
}

void TestUploadLoop::settleGuard()
{
    QFETCH(qint64, modifiedAgo);
    QFETCH(int, waitFirst);

    UploadLoop::Intervals intervals;
    intervals.settleMs = 1000;
    intervals.idlePauseMs = 1000;
    Rig rig(intervals);
    QVERIFY(rig.write("sheet.jpg"));
    QVERIFY(rig.loop.acquireCredentials());
    QFile file(rig.path("sheet.jpg"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    // The next reading of the fake clock is now + 1.
    QVERIFY(file.setFileTime(QDateTime::fromMSecsSinceEpoch(rig.clock.now + 1 - modifiedAgo),
                             QFileDevice::FileModificationTime));
    file.close();

    rig.loop.runPass();
    if (waitFirst == 0) {
        QCOMPARE(rig.puts(), QStringList{"sheet.jpg"});
        return;
    }
    QVERIFY(rig.puts().isEmpty());
    QCOMPARE(rig.loop.nextPassDelayMs(), waitFirst);

    rig.clock.now += waitFirst - 10;
    rig.loop.runPass();
    QVERIFY(rig.puts().isEmpty());

    rig.clock.now += 10;
    rig.loop.runPass();
    QCOMPARE(rig.puts(), QStringList{"sheet.jpg"});
    QCOMPARE(rig.service.announced.size(), 1);
}

void TestUploadLoop::fileChangedWhileSentIsSentAgain()
{
    Rig rig;
    QVERIFY(rig.write("slow.jpg", "first half"));
    rig.uploader.during = [&](const QString& path) {
        if (rig.uploader.attempts.size() == 1) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append));
            f.write(" and the second half");
        }
    };

    rig.runPasses(2);

    QCOMPARE(rig.uploader.attempts.size(), 2);
    QCOMPARE(rig.uploader.attempts[1].bytes, QByteArray("first half and the second half"));
    // Only the complete image is announced.
    QCOMPARE(rig.service.announced, QStringList{rig.uploader.attempts[1].key});
    QVERIFY(!QFileInfo::exists(rig.path("slow.jpg")));
}

void TestUploadLoop::vanishedFileDoesNotBlock_data()
{
    QTest::addColumn<QString>("removedDuring"); // the attempt during which a file disappears
    QTest::addColumn<QString>("removed");
    QTest::addColumn<int>("code");

    QTest::newRow("removed while it was sent, store failed") << "a.jpg"
                                                             << "a.jpg" << 500;
    QTest::newRow("removed while it was sent, token refused") << "a.jpg"
                                                              << "a.jpg" << 401;
    QTest::newRow("next file removed before its turn") << "a.jpg"
                                                       << "b.jpg" << 200;
}

void TestUploadLoop::vanishedFileDoesNotBlock()
{
    QFETCH(QString, removedDuring);
    QFETCH(QString, removed);
    QFETCH(int, code);

    Rig rig;
    for (const char* f : {"a.jpg", "b.jpg", "c.jpg"})
        QVERIFY(rig.write(f));
    rig.uploader.codes = {code};
    rig.uploader.during = [&](const QString& path) {
        if (QFileInfo(path).fileName() == removedDuring && rig.uploader.attempts.size() == 1)
            QFile::remove(rig.path(removed));
    };

    rig.runPasses(2);

    QVERIFY(!rig.puts().contains(removed) || removed == removedDuring);
    QVERIFY(rig.puts().contains("c.jpg"));
    QVERIFY(QDir(rig.loop.folder()).entryList(QDir::Files).isEmpty());
    QVERIFY(rig.sleeper.sleeps.isEmpty());
    QCOMPARE(rig.service.announced.size(), 2);
}

void TestUploadLoop::lockedFileDoesNotBlock()
{
    Rig rig;
    for (const char* f : {"a.jpg", "b.jpg"})
        QVERIFY(rig.write(f));
    rig.uploader.codes = {UploadLoop::FileUnreadable};

    rig.loop.acquireCredentials();
    rig.loop.runPass();

    QCOMPARE(rig.puts(), (QStringList{"a.jpg", "b.jpg"}));
    QVERIFY(rig.sleeper.sleeps.isEmpty());
    QVERIFY(QFileInfo::exists(rig.path("a.jpg")));
    QVERIFY(!QFileInfo::exists(rig.path("b.jpg")));

    rig.loop.runPass();
    QVERIFY(!QFileInfo::exists(rig.path("a.jpg")));
    QCOMPARE(rig.service.announced.size(), 2);
}

void TestUploadLoop::undeletableFileUploadedOnce()
{
    Rig rig;
    QVERIFY(rig.write("stuck.jpg", "v1"));
    QVERIFY(rig.write("other.jpg"));
    rig.loop.setRemoveFile(
        [](const QString& path) { return !path.endsWith(QLatin1String("stuck.jpg")) && QFile::remove(path); });

    rig.runPasses(4);

    QCOMPARE(rig.puts(), (QStringList{"other.jpg", "stuck.jpg"}));
    QCOMPARE(rig.service.announced.size(), 2);
    QVERIFY(QFileInfo::exists(rig.path("stuck.jpg")));

    // New contents at the same path are a new image.
    QVERIFY(rig.write("stuck.jpg", "version two"));
    rig.loop.runPass();
    rig.loop.runPass();
    QCOMPARE(rig.puts(), (QStringList{"other.jpg", "stuck.jpg", "stuck.jpg"}));
    QCOMPARE(rig.uploader.attempts.last().bytes, QByteArray("version two"));
}

void TestUploadLoop::missingFolderIsCreated()
{
    Rig rig;
    QVERIFY(QDir(rig.loop.folder()).removeRecursively());
    rig.runPasses(1);
    QVERIFY(QFileInfo(rig.loop.folder()).isDir());
    QCOMPARE(rig.loop.nextPassDelayMs(), UploadLoop::Intervals().idlePauseMs);
}

// Without a task the folder would be image/ itself: whatever lies there stays, and no folder is made.
void TestUploadLoop::withoutTaskNothingIsUploaded()
{
    Rig rig;
    UploadLoop loop(rig.service, rig.uploader, rig.clock, rig.sleeper, kUid, QString(), Rig::quickIntervals());
    QVERIFY(rig.write(QStringLiteral("../a.jpg")));
    loop.setKeepGoing([&rig] { return rig.events.list.size() < 50; });
    loop.run();
    loop.runPass();
    QCOMPARE(rig.events.list, QStringList());
    QVERIFY(QFileInfo::exists(rig.cwd.filePath("image/a.jpg")));
    QCOMPARE(QDir(rig.cwd.filePath("image")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"a.jpg", kTask}));
}

QTEST_GUILESS_MAIN(TestUploadLoop)
#include "tst_uploadloop.moc"
