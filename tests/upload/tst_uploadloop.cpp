#include <algorithm>
#include <functional>
#include <utility>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include "TestClock.h"
#include "TestUtils.h"
#include "core/TaskDatabase.h"
#include "core/TaskFolders.h"
#include "upload/QueueLookup.h"
#include "upload/QueuePublisher.h"
#include "upload/UploadLedger.h"
#include "upload/UploadLoop.h"

// The upload loop against fakes of the clock, the sleep, the store and the service, with the real ledger in the
// test's working folder: every step is recorded in one event list, so the order of token calls, uploads and
// announcements can be checked exactly.

namespace {

const QString kUid = QStringLiteral("u7");
const QString kTask = QStringLiteral("t42");

// Bytes that begin like a JPEG without being a whole one: taken for an image still being written.
QByteArray sheet(const QByteArray& text)
{
    return QByteArray("\xFF\xD8\xFF", 3) + text;
}

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

class FakeSleeper : public UploadLoop::Sleeper
{
public:
    FakeSleeper(TestClock& clock, Events& events) : m_clock(clock), m_events(events) {}
    QList<int> sleeps;
    std::function<void()> onSleep;
    void sleep(int ms) override
    {
        sleeps << ms;
        m_events.list << QStringLiteral("sleep:%1").arg(ms);
        m_clock.advance(ms);
        if (onSleep)
            onSleep();
    }

private:
    TestClock& m_clock;
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
    FakeUploader(TestClock& clock, Events& events) : m_clock(clock), m_events(events) {}
    QList<int> codes; // answers in order; 200 once they run out
    QList<Attempt> attempts;
    std::function<void(const QString& path)> during; // runs while the "upload" is in progress
    int putFile(const QString& uploadToken, const QString& key, const QString& localPath) override
    {
        const QString name = QFileInfo(localPath).fileName();
        m_events.list << QStringLiteral("put:") + name;
        attempts << Attempt{uploadToken, key, name, TestUtils::readFile(localPath), m_clock.lastReading()};
        if (during)
            during(localPath);
        return codes.isEmpty() ? 200 : codes.takeFirst();
    }

private:
    TestClock& m_clock;
    Events& m_events;
};

class FakeService : public UploadLoop::Service
{
public:
    explicit FakeService(Events& events) : m_events(events) {}
    QList<bool> tokenResults;   // true once they run out
    QList<bool> analyseResults; // true once they run out
    QStringList announced;      // every announcement made, taken or not
    std::function<void()> duringAnalyse;
    int tokensIssued = 0;
    bool getUploadToken() override
    {
        m_events.list << QStringLiteral("token");
        const bool ok = tokenResults.isEmpty() || tokenResults.takeFirst();
        if (ok)
            m_token = QStringLiteral("upload-token-%1").arg(++tokensIssued);
        return ok;
    }
    bool analyseAnswerImage(const QString& key) override
    {
        m_events.list << QStringLiteral("analyse:") + key;
        announced << key;
        if (duringAnalyse)
            duringAnalyse();
        return analyseResults.isEmpty() || analyseResults.takeFirst();
    }
    // How announce() ends for a key; unset, analyseAnswerImage decides.
    std::function<UploadLoop::Announcement(const QString& key)> answer;
    QStringList tasks; // the task of every announcement
    UploadLoop::Announcement announce(const QString& taskId, const QString& key) override
    {
        tasks << taskId;
        if (!answer)
            return UploadLoop::Service::announce(taskId, key);
        m_events.list << QStringLiteral("analyse:") + key;
        announced << key;
        if (duringAnalyse)
            duringAnalyse();
        return answer(key);
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
          loop(service, uploader, clock, sleeper, ledger, kUid, TaskFolders::inWorkingFolder(kTask), intervals)
    {
        // Every reading moves on by a millisecond, so two attempts never share a reading by accident.
        clock.setStepPerRead(1);
        ledger.openForTask(TaskFolders::inWorkingFolder(kTask));
        QDir().mkpath(loop.folder());
    }

    static UploadLoop::Intervals quickIntervals()
    {
        UploadLoop::Intervals i;
        i.settleMs = 0;
        return i;
    }

    QString path(const QString& name) const { return loop.folder() + name; }
    bool write(const QString& name, const QByteArray& bytes = sheet("image bytes"))
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
    // Starts at the real time so that file modification times compare sensibly.
    TestClock clock{QDateTime::currentMSecsSinceEpoch()};
    FakeSleeper sleeper;
    FakeUploader uploader;
    FakeService service;
    UploadLedger ledger;
    UploadLoop loop;
};

// A whole image of the given format, so that the loop sends it without waiting.
QByteArray wholeImage(const char* format)
{
    return TestUtils::encodedTestImage(40, 30, format);
}

UploadLoop::Announcement outcome(UploadLoop::Announcement::Outcome kind, const QString& reason = QString())
{
    UploadLoop::Announcement announcement;
    announcement.outcome = kind;
    announcement.reason = reason;
    return announcement;
}

qint64 keyMs(const QString& key)
{
    return QFileInfo(key).completeBaseName().toLongLong();
}

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
    void publishedAtMostPerIntervalAndBeforeEachPause();
    void nameOrderAndOneKeyPerImage();
    void handOver_data();
    void handOver();
    void restartResumesWhereTheLastRunStopped_data();
    void restartResumesWhereTheLastRunStopped();
    void wholeImagesGoAtOnce_data();
    void wholeImagesGoAtOnce();
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
    void deletedImageComingBackIsSentAgain();
    void refusedImageDoesNotBlockTheOthers_data();
    void refusedImageDoesNotBlockTheOthers();
    void unansweredAnnouncementRepeatsAtAGrowingInterval();
    void sameNameSizeAndTimeWithOtherBytesIsANewSheet();
    void otherTasksOfTheSameTeacherAreFinished();
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
    QTest::newRow("jpeg taken as it is; gif, tif and no extension never touched")
        << QStringList{"a.jpeg", "a.gif", "a.tif", "noextension", "a.jpg.txt"} << QStringList() << QStringList{"a.jpeg"}
        << QStringList{"jpeg"};
    // "link:" makes a symbolic link to a file outside the folder, "empty:" an empty file.
    QTest::newRow("symbolic link never followed out of the folder")
        << QStringList{"link:secret.jpg", "real.jpg"} << QStringList() << QStringList{"real.jpg"} << QStringList{"jpg"};
    QTest::newRow("empty file left in place")
        << QStringList{"empty:blank.png", "full.png"} << QStringList() << QStringList{"full.png"} << QStringList{"png"};
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
    const QString outside = rig.cwd.filePath(QStringLiteral("outside.jpg"));
    QVERIFY(TestUtils::writeFile(outside, "not for the store"));
    for (QString& f : files) {
        if (f.startsWith(QLatin1String("link:"))) {
            f = f.mid(5);
            QVERIFY(QFile::link(outside, rig.path(f)));
        } else if (f.startsWith(QLatin1String("empty:"))) {
            f = f.mid(6);
            QVERIFY(rig.write(f, QByteArray()));
        } else {
            QVERIFY(rig.write(f, sheet(f.toUtf8())));
        }
    }
    for (const QString& d : folders)
        QVERIFY(QDir().mkpath(rig.path(d)));
    // The pending count of each state the worker publishes, a repeat of the same count left out.
    QList<int> published;
    const QList<const UploadLoop*> loops{&rig.loop};
    rig.loop.setOnChange([&] {
        const int pending = UploadLoop::queueStateOf(loops).pending();
        if (published.isEmpty() || published.last() != pending)
            published << pending;
    });

    rig.runPasses(2);

    QCOMPARE(rig.puts(), uploaded);
    // What the wait dialog is told: the images to send, one less as each is done, down to an empty folder; what
    // the worker leaves alone is never counted.
    QList<int> counted;
    for (int left = uploaded.size(); left >= 0; --left)
        counted << left;
    QCOMPARE(published, counted);
    QCOMPARE(rig.service.announced.size(), uploaded.size());
    for (int i = 0; i < uploaded.size(); ++i) {
        QVERIFY2(QRegularExpression(keyPattern(extensions[i])).match(rig.service.announced[i]).hasMatch(),
                 qPrintable(rig.service.announced[i]));
        QCOMPARE(rig.uploader.attempts[i].bytes, sheet(uploaded[i].toUtf8()));
        QVERIFY(!QFileInfo::exists(rig.path(uploaded[i])));
    }
    for (const QString& f : files)
        if (!uploaded.contains(f))
            QVERIFY2(QFileInfo::exists(rig.path(f)), qPrintable(f));
    QVERIFY(QFileInfo::exists(outside));
    for (const QString& d : folders)
        QVERIFY(QFileInfo(rig.path(d)).isDir());
}

void TestUploadLoop::nameOrderAndOneKeyPerImage()
{
    Rig rig;
    for (const char* f : {"b.jpg", "c.bmp", "a.png"})
        QVERIFY(rig.write(f));
    // The retry of a.png keeps its key: the failed attempt may have stored the object after all.
    rig.uploader.codes = {500, 200, 200, 200};

    rig.runPasses(1);

    QCOMPARE(rig.puts(), (QStringList{"a.png", "a.png", "b.jpg", "c.bmp"}));
    QSet<QString> keys;
    for (const Attempt& a : rig.uploader.attempts) {
        const QString ext = QFileInfo(a.fileName).suffix();
        QCOMPARE(a.key, UploadLoop::objectKey(kUid, kTask, a.clockAtCall, a.fileName));
        QVERIFY(a.key.endsWith(QString::number(a.clockAtCall) + "." + ext));
        keys.insert(a.key);
    }
    QCOMPARE(keys.size(), 3);
    QCOMPARE(rig.uploader.attempts[0].key, rig.uploader.attempts[1].key);
    // Each image is announced with its own key before the next upload begins.
    QCOMPARE(rig.events.list.filter(QRegularExpression("^(put|analyse)")),
             (QStringList{"put:a.png", "put:a.png", "analyse:" + rig.uploader.attempts[1].key, "put:b.jpg",
                          "analyse:" + rig.uploader.attempts[2].key, "put:c.bmp",
                          "analyse:" + rig.uploader.attempts[3].key}));
}

void TestUploadLoop::handOver_data()
{
    QTest::addColumn<QList<int>>("codes");   // the store's answers, in order (200 once they run out)
    QTest::addColumn<QList<bool>>("taken");  // the service's answers to announcements (true once they run out)
    QTest::addColumn<qint64>("clockStepMs"); // the wall clock moves by this during the first attempt
    QTest::addColumn<int>("keys");           // distinct keys sent
    QTest::addColumn<int>("announcements");
    QTest::addColumn<QList<int>>("sleeps");
    QTest::addColumn<bool>("deleted");

    const int unconfirmed = UploadLoop::Unconfirmed;
    const int noAnswer = UploadLoop::NotStored;
    QTest::newRow("stored under our key, announced")
        << QList<int>{200} << QList<bool>() << qint64(0) << 1 << 1 << QList<int>() << true;
    QTest::newRow("announce refused twice, then taken: sent once, same key announced")
        << QList<int>{200} << QList<bool>{false, false} << qint64(0) << 1 << 3 << QList<int>{1000, 2000} << true;
    QTest::newRow("announce never taken: the file stays")
        << QList<int>{200} << QList<bool>{false, false, false, false} << qint64(0) << 1 << 3
        << QList<int>{1000, 2000, 4000} << false;
    QTest::newRow("200 not naming our key (portal page, other key) is a failure, same key again")
        << QList<int>{unconfirmed, 200} << QList<bool>() << qint64(0) << 1 << 1 << QList<int>{1000} << true;
    QTest::newRow("614 for a fresh key is another object: fresh key")
        << QList<int>{614, 200} << QList<bool>() << qint64(0) << 2 << 1 << QList<int>() << true;
    QTest::newRow("614 after an answer was lost is ours")
        << QList<int>{noAnswer, 614} << QList<bool>() << qint64(0) << 1 << 1 << QList<int>{1000} << true;
    QTest::newRow("614 twice in a row on fresh keys pauses")
        << QList<int>{614, 614, 200} << QList<bool>() << qint64(0) << 3 << 1 << QList<int>{1000} << true;
    QTest::newRow("clock set back an hour: keys still go forward")
        << QList<int>{614, 200} << QList<bool>() << qint64(-3600 * 1000) << 2 << 1 << QList<int>() << true;
    QTest::newRow("clock standing still: keys never repeat")
        << QList<int>{614, 614, 200} << QList<bool>() << qint64(-1) << 3 << 1 << QList<int>{1000} << true;
}

// One image through store and announcement, whatever the store and the service answer: it is stored under one key
// at a time, only a key the ledger knows as ours counts as already stored, and only an announcement the service
// took lets the file go.
void TestUploadLoop::handOver()
{
    QFETCH(QList<int>, codes);
    QFETCH(QList<bool>, taken);
    QFETCH(qint64, clockStepMs);
    QFETCH(int, keys);
    QFETCH(int, announcements);
    QFETCH(QList<int>, sleeps);
    QFETCH(bool, deleted);

    Rig rig;
    QVERIFY(rig.write("sheet.jpg", wholeImage("JPG")));
    rig.uploader.codes = codes;
    rig.service.analyseResults = taken;
    rig.uploader.during = [&](const QString&) {
        if (clockStepMs == -1)
            rig.clock.advance(-1); // every reading is the same
        else if (rig.uploader.attempts.size() == 1)
            rig.clock.advance(clockStepMs);
    };

    rig.runPasses(3);

    QStringList sent;
    for (const Attempt& a : rig.uploader.attempts) {
        if (sent.isEmpty() || sent.last() != a.key) {
            QVERIFY2(sent.isEmpty() || keyMs(a.key) > keyMs(sent.last()), qPrintable(a.key));
            sent << a.key;
        }
    }
    QCOMPARE(sent.size(), keys);
    QCOMPARE(rig.uploader.attempts.size(), codes.size());
    // Every announcement names the key the store confirmed, and nothing is announced once it was taken.
    QCOMPARE(rig.service.announced, QStringList(QVector<QString>(announcements, sent.last()).toList()));
    QCOMPARE(rig.sleeper.sleeps, sleeps);
    QCOMPARE(!QFileInfo::exists(rig.path("sheet.jpg")), deleted);
}

void TestUploadLoop::restartResumesWhereTheLastRunStopped_data()
{
    QTest::addColumn<QString>("stopAt");
    QTest::addColumn<QStringList>("afterRestart"); // what the new run does, in order
    QTest::newRow("sent, answer never came") << "sent" << QStringList{"put", "analyse"};
    QTest::newRow("stored, not yet announced") << "stored" << QStringList{"analyse"};
    QTest::newRow("announced, not yet deleted") << "announced" << QStringList();
}

// The process is killed at each step of an image; a new run on the same task database neither stores a second
// object nor announces twice, and ends with the file deleted.
void TestUploadLoop::restartResumesWhereTheLastRunStopped()
{
    QFETCH(QString, stopAt);
    QFETCH(QStringList, afterRestart);

    Rig first;
    QVERIFY(first.write("sheet.jpg", wholeImage("PNG")));
    bool killed = false;
    first.loop.setKeepGoing([&] { return !killed; });
    if (stopAt == "sent")
        first.uploader.during = [&](const QString&) { killed = true; };
    else if (stopAt == "stored")
        first.service.duringAnalyse = [&] { killed = true; };
    else
        first.loop.setRemoveFile([&](const QString&) { return !(killed = true); });
    if (stopAt != "announced")
        first.uploader.codes = {UploadLoop::NotStored};
    if (stopAt == "stored") {
        first.uploader.codes = {200};
        first.service.analyseResults = {false}; // the announcement never reached the service
    }
    first.runPasses(1);
    QVERIFY(killed);
    QVERIFY(QFileInfo::exists(first.path("sheet.jpg")));
    const QString key = first.uploader.attempts.value(0).key;
    first.ledger.close();

    // The new run: its own loop and connection, in the same working folder, with a clock set back meanwhile.
    Events events;
    TestClock clock(QDateTime::currentMSecsSinceEpoch() - 3600 * 1000);
    clock.setStepPerRead(1);
    FakeSleeper sleeper(clock, events);
    FakeUploader uploader(clock, events);
    uploader.codes = {614}; // the store already holds the object sent before the crash
    FakeService service(events);
    UploadLedger ledger;
    QVERIFY(ledger.openForTask(TaskFolders::inWorkingFolder(kTask)));
    UploadLoop loop(service, uploader, clock, sleeper, ledger, kUid, TaskFolders::inWorkingFolder(kTask),
                    Rig::quickIntervals());
    QVERIFY(loop.acquireCredentials());
    loop.runPass();
    loop.runPass();

    QStringList done;
    for (const QString& e : events.list)
        if (e.startsWith(QLatin1String("put:")) || e.startsWith(QLatin1String("analyse:")))
            done << e.section(QLatin1Char(':'), 0, 0);
    QCOMPARE(done, afterRestart);
    for (const Attempt& a : uploader.attempts)
        QCOMPARE(a.key, key);
    for (const QString& k : service.announced)
        QCOMPARE(k, key);
    QVERIFY(!QFileInfo::exists(first.path("sheet.jpg")));

    // Still nothing sent twice after yet another start.
    loop.runPass();
    QCOMPARE(uploader.attempts.size() + service.announced.size(), afterRestart.size());
}

void TestUploadLoop::wholeImagesGoAtOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("whole");

    const QByteArray jpeg = wholeImage("JPG");
    const QByteArray png = wholeImage("PNG");
    const QByteArray bmp = wholeImage("BMP");
    QTest::newRow("whole JPEG") << "a.jpg" << jpeg << true;
    QTest::newRow("JPEG cut short") << "a.jpg" << jpeg.left(jpeg.size() / 2) << false;
    QTest::newRow("JPEG missing only its end marker") << "a.jpg" << jpeg.left(jpeg.size() - 2) << false;
    QTest::newRow("whole PNG") << "a.png" << png << true;
    QTest::newRow("PNG cut inside its IEND chunk") << "a.png" << png.left(png.size() - 4) << false;
    QTest::newRow("whole BMP") << "a.bmp" << bmp << true;
    QTest::newRow("BMP cut short") << "a.bmp" << bmp.left(bmp.size() - 100) << false;
    QTest::newRow("BMP longer than its header says") << "a.bmp" << bmp + QByteArray(64, '\0') << false;
    QTest::newRow("whole PNG named .jpg") << "a.jpg" << png << true;
    QTest::newRow("only the first bytes of a JPEG") << "a.jpg" << jpeg.left(2) << false;
}

// A whole image is sent in the pass that finds it, however fresh; one that is not whole waits until it has stayed
// unchanged for the settle time, then goes as it is.
void TestUploadLoop::wholeImagesGoAtOnce()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, whole);

    UploadLoop::Intervals intervals;
    Rig rig(intervals);
    QVERIFY(rig.loop.acquireCredentials());
    QVERIFY(rig.write(name, bytes));
    QVERIFY(TestUtils::setModified(rig.path(name), QDateTime::fromMSecsSinceEpoch(rig.clock.now())));

    rig.loop.runPass();
    QCOMPARE(rig.puts().size(), whole ? 1 : 0);
    if (whole)
        return;
    QCOMPARE(rig.loop.nextPassDelayMs(), intervals.waitingPauseMs);

    rig.clock.advance(intervals.settleMs - 100);
    rig.loop.runPass();
    QVERIFY(rig.puts().isEmpty());

    rig.clock.advance(100);
    rig.loop.runPass();
    QCOMPARE(rig.puts(), QStringList{name});
    QCOMPARE(rig.uploader.attempts[0].bytes, bytes);
    QVERIFY(!QFileInfo::exists(rig.path(name)));
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
    QCOMPARE(rig.uploader.attempts[0].key, rig.uploader.attempts[1].key);
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
    QTest::newRow("bad gateway") << 502;
}

void TestUploadLoop::failingStoreBacksOffAndLosesNothing()
{
    QFETCH(int, code);
    Rig rig;
    for (const char* f : {"1.jpg", "2.jpg", "3.png"})
        QVERIFY(rig.write(f, sheet(f)));
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
    intervals.waitingPauseMs = 1000;
    Rig rig(intervals);
    QVERIFY(rig.write("sheet.jpg"));
    QVERIFY(rig.loop.acquireCredentials());
    QFile file(rig.path("sheet.jpg"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    // The next reading of the clock is now().
    QVERIFY(file.setFileTime(QDateTime::fromMSecsSinceEpoch(rig.clock.now() - modifiedAgo),
                             QFileDevice::FileModificationTime));
    file.close();

    rig.loop.runPass();
    if (waitFirst == 0) {
        QCOMPARE(rig.puts(), QStringList{"sheet.jpg"});
        return;
    }
    QVERIFY(rig.puts().isEmpty());
    QCOMPARE(rig.loop.nextPassDelayMs(), waitFirst);

    rig.clock.advance(waitFirst - 10);
    rig.loop.runPass();
    QVERIFY(rig.puts().isEmpty());

    rig.clock.advance(10);
    rig.loop.runPass();
    QCOMPARE(rig.puts(), QStringList{"sheet.jpg"});
    QCOMPARE(rig.service.announced.size(), 1);
}

void TestUploadLoop::fileChangedWhileSentIsSentAgain()
{
    Rig rig;
    QVERIFY(rig.write("slow.jpg", sheet("first half")));
    rig.uploader.during = [&](const QString& path) {
        if (rig.uploader.attempts.size() == 1) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::Append));
            f.write(" and the second half");
        }
    };

    rig.runPasses(2);

    QCOMPARE(rig.uploader.attempts.size(), 2);
    QCOMPARE(rig.uploader.attempts[1].bytes, sheet("first half and the second half"));
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
    QVERIFY(rig.write("stuck.jpg", sheet("v1")));
    QVERIFY(rig.write("other.jpg"));
    bool readOnly = true;
    int tries = 0;
    rig.loop.setRemoveFile([&](const QString& path) {
        if (!path.endsWith(QLatin1String("stuck.jpg")))
            return QFile::remove(path);
        ++tries;
        return !readOnly && QFile::remove(path);
    });

    rig.runPasses(4);

    QCOMPARE(rig.puts(), (QStringList{"other.jpg", "stuck.jpg"}));
    QCOMPARE(rig.service.announced.size(), 2);
    QVERIFY(QFileInfo::exists(rig.path("stuck.jpg")));
    // Tried again only after a while, not on every pass.
    QCOMPARE(tries, 1);
    // Announced already: nobody waits for it any more.
    int published = -1;
    const QList<const UploadLoop*> loops{&rig.loop};
    rig.loop.setOnChange([&] { published = UploadLoop::queueStateOf(loops).pending(); });
    rig.clock.advance(UploadLoop::Intervals().deleteRetryMs);
    rig.loop.runPass();
    QCOMPARE(tries, 2);
    QCOMPARE(published, 0);

    // New contents at the same path are a new image.
    QVERIFY(rig.write("stuck.jpg", sheet("version two")));
    readOnly = false;
    rig.loop.runPass();
    rig.loop.runPass();
    QCOMPARE(rig.puts(), (QStringList{"other.jpg", "stuck.jpg", "stuck.jpg"}));
    QCOMPARE(rig.uploader.attempts.last().bytes, sheet("version two"));
    QVERIFY(!QFileInfo::exists(rig.path("stuck.jpg")));
    QCOMPARE(rig.service.announced.size(), 3);
}

// A sheet copied in again with the same name, size and time after its first copy was announced and deleted is
// a new image: sent and announced again, never deleted unsent.
void TestUploadLoop::deletedImageComingBackIsSentAgain()
{
    Rig rig;
    QVERIFY(rig.write("again.jpg", wholeImage("JPEG")));
    const QDateTime modified = QFileInfo(rig.path("again.jpg")).lastModified();
    rig.runPasses(2);
    QVERIFY(!QFileInfo::exists(rig.path("again.jpg")));

    QVERIFY(rig.write("again.jpg", wholeImage("JPEG")));
    QVERIFY(TestUtils::setModified(rig.path("again.jpg"), modified));
    rig.loop.runPass();
    rig.loop.runPass();

    QCOMPARE(rig.puts(), (QStringList{"again.jpg", "again.jpg"}));
    QCOMPARE(rig.service.announced.size(), 2);
    QVERIFY(rig.service.announced.at(0) != rig.service.announced.at(1));
    QVERIFY(!QFileInfo::exists(rig.path("again.jpg")));
}

void TestUploadLoop::refusedImageDoesNotBlockTheOthers_data()
{
    QTest::addColumn<QByteArray>("bytes");    // of a.jpg, the first file of the three
    QTest::addColumn<QList<int>>("codes");    // the store's answers, in order (200 once they run out)
    QTest::addColumn<int>("serviceRefusals"); // announcements of a.jpg the service refuses before taking one
    QTest::addColumn<int>("putsOfA");         // uploads of a.jpg until it is refused
    QTest::addColumn<QString>("reason");

    const QByteArray jpeg = wholeImage("JPG");
    QTest::newRow("store answers 413 for that file") << jpeg << QList<int>{413} << 0 << 1 << "存储服务拒收（HTTP 413）";
    QTest::newRow("store answers 400 for that file") << jpeg << QList<int>{400} << 0 << 1 << "存储服务拒收（HTTP 400）";
    QTest::newRow("a text file named .jpg is refused before it is sent")
        << QByteArray("plain text, no image") << QList<int>() << 0 << 0 << "不是图片文件";
    QTest::newRow("service refuses the announcement every time") << jpeg << QList<int>() << 99 << 1 << "图片无法识别";
    QTest::newRow("service refuses twice, then takes it") << jpeg << QList<int>() << 2 << 1 << "";
}

// A file the store or the service will not take is marked refused with the reason and kept; the files behind it
// go on, it is not tried again in this run, the wait counts leave it out and name it, and a new start tries it once
// more.
void TestUploadLoop::refusedImageDoesNotBlockTheOthers()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, codes);
    QFETCH(int, serviceRefusals);
    QFETCH(int, putsOfA);
    QFETCH(QString, reason);

    Rig rig;
    QVERIFY(rig.write("a.jpg", bytes));
    QVERIFY(rig.write("b.jpg", wholeImage("PNG")));
    QVERIFY(rig.write("c.jpg", wholeImage("BMP")));
    rig.uploader.codes = codes;
    int refusals = 0;
    rig.service.answer = [&](const QString& key) {
        // a.jpg is the first file sent.
        if (key == rig.uploader.attempts.first().key && refusals < serviceRefusals) {
            ++refusals;
            return outcome(UploadLoop::Announcement::Refused, QStringLiteral("图片无法识别"));
        }
        return outcome(UploadLoop::Announcement::Taken);
    };

    // Long enough for every retry the service's refusals allow.
    QVERIFY(rig.loop.acquireCredentials());
    for (int pass = 0; pass < 8; ++pass) {
        rig.loop.runPass();
        rig.clock.advance(UploadLoop::Intervals().refusedAnnounceRetryMs);
    }

    QCOMPARE(rig.puts().count("a.jpg"), putsOfA);
    QCOMPARE(rig.puts().count("b.jpg"), 1);
    QCOMPARE(rig.puts().count("c.jpg"), 1);
    QVERIFY(!QFileInfo::exists(rig.path("b.jpg")));
    QVERIFY(!QFileInfo::exists(rig.path("c.jpg")));
    // The store is not hammered: a refusal costs no back-off pause either.
    QVERIFY(rig.sleeper.sleeps.isEmpty());
    const QueueState counts = QueueLookup::ofFolder(QString(), rig.loop.folder(), rig.ledger);
    if (reason.isEmpty()) {
        QVERIFY(!QFileInfo::exists(rig.path("a.jpg")));
        QCOMPARE(rig.service.announced.size(), 3 + serviceRefusals);
        QCOMPARE(counts.refused(), 0);
        return;
    }
    QCOMPARE(TestUtils::readFile(rig.path("a.jpg")), bytes);
    QCOMPARE(counts.pending(), 0);
    QCOMPARE(counts.refused(), 1);
    QCOMPARE(counts.refusedImages(), QStringList{"a.jpg（" + reason + "）"});
    const int announcementsOfA = rig.service.announced.size() - 2;
    QCOMPARE(announcementsOfA, serviceRefusals ? UploadLoop::Intervals().announceRefusalsAllowed : 0);

    // A new start tries it once more, under the same key when it was sent.
    const QString keyOfA = putsOfA ? rig.uploader.attempts.first().key : QString();
    rig.ledger.close();
    Events events;
    FakeUploader uploader(rig.clock, events);
    FakeService service(events);
    UploadLedger ledger;
    QVERIFY(ledger.openForTask(TaskFolders::inWorkingFolder(kTask)));
    UploadLoop again(service, uploader, rig.clock, rig.sleeper, ledger, kUid, TaskFolders::inWorkingFolder(kTask),
                     Rig::quickIntervals());
    QVERIFY(again.acquireCredentials());
    again.runPass();
    if (bytes.startsWith("plain")) {
        QVERIFY(uploader.attempts.isEmpty());
        QVERIFY(QFileInfo::exists(rig.path("a.jpg")));
        return;
    }
    QCOMPARE(uploader.attempts.size(), serviceRefusals ? 0 : 1);
    if (!serviceRefusals)
        QCOMPARE(uploader.attempts.first().key, keyOfA);
    QCOMPARE(service.announced, QStringList{keyOfA});
    QVERIFY(!QFileInfo::exists(rig.path("a.jpg")));
}

// The service acts on the announcement but answers after the client gave up: each repeat may be a second
// announcement, so they follow at a growing interval under the same key, and are counted, on a clock that a
// correction of the system's time does not move.
void TestUploadLoop::unansweredAnnouncementRepeatsAtAGrowingInterval()
{
    Rig rig;
    QVERIFY(rig.write("sheet.jpg", wholeImage("JPG")));
    const qint64 timeoutMs = 30000;
    QList<qint64> startedAt;
    rig.service.duringAnalyse = [&] {
        startedAt << rig.clock.now();
        rig.clock.advance(timeoutMs);
    };
    // The system's clock set back an hour while the first repeat is waited for: the repeats keep their pace.
    bool clockSetBack = false;
    rig.sleeper.onSleep = [&] {
        if (!std::exchange(clockSetBack, true))
            rig.clock.stepWallClock(-3600 * 1000);
    };
    rig.service.answer = [](const QString&) { return outcome(UploadLoop::Announcement::Unanswered); };
    const qint64 start = rig.clock.now();
    rig.loop.setKeepGoing([&] { return rig.clock.now() - start < 10 * 60 * 1000; });

    rig.loop.run();

    // Ten minutes: the first announcement and four repeats, 30 s, 1, 2 and 4 min after each timeout.
    QCOMPARE(rig.puts(), QStringList{"sheet.jpg"});
    QCOMPARE(rig.service.announced.size(), 5);
    QCOMPARE(QSet<QString>(rig.service.announced.begin(), rig.service.announced.end()).size(), 1);
    QList<qint64> gapsSeconds;
    for (int i = 1; i < startedAt.size(); ++i)
        gapsSeconds << (startedAt[i] - startedAt[i - 1] - timeoutMs + 500) / 1000;
    QCOMPARE(gapsSeconds, (QList<qint64>{30, 60, 120, 240}));
    QVERIFY(QFileInfo::exists(rig.path("sheet.jpg")));
    QCOMPARE(rig.ledger
                 .find({"sheet.jpg", QFileInfo(rig.path("sheet.jpg")).size(),
                        QFileInfo(rig.path("sheet.jpg")).lastModified().toMSecsSinceEpoch()})
                 .attempts,
             5);
    QCOMPARE(QueueLookup::waitingImages(rig.loop.folder(), rig.ledger), 1);
}

// A stored sheet whose announcement failed is replaced by another of the same name, size and time: the new one
// is sent under a key of its own, never announced under the old key nor deleted unsent.
void TestUploadLoop::sameNameSizeAndTimeWithOtherBytesIsANewSheet()
{
    Rig rig;
    const QByteArray first = wholeImage("BMP");
    QByteArray second = first;
    second[second.size() - 1] = char(~second.at(second.size() - 1));
    QVERIFY(rig.write("scan.bmp", first));
    const QDateTime modified = QFileInfo(rig.path("scan.bmp")).lastModified();
    rig.service.analyseResults = {false};
    rig.runPasses(1);
    QCOMPARE(rig.service.announced.size(), 1);

    QVERIFY(rig.write("scan.bmp", second));
    QVERIFY(TestUtils::setModified(rig.path("scan.bmp"), modified));
    rig.loop.runPass();

    QCOMPARE(rig.puts(), (QStringList{"scan.bmp", "scan.bmp"}));
    QCOMPARE(rig.uploader.attempts.last().bytes, second);
    QCOMPARE(rig.service.announced.size(), 2);
    QCOMPARE(rig.service.announced.last(), rig.uploader.attempts.last().key);
    QVERIFY(rig.uploader.attempts.first().key != rig.uploader.attempts.last().key);
    QVERIFY(!QFileInfo::exists(rig.path("scan.bmp")));
}

// Images the same teacher queued under another task are uploaded under that task's key path, announced with that
// task's id and deleted; another teacher's, and a folder nobody claimed, are left alone.
void TestUploadLoop::otherTasksOfTheSameTeacherAreFinished()
{
    Rig rig;
    rig.loop.claimTask();
    const auto queue = [](const QString& task, const QString& owner) {
        QVERIFY(TestUtils::writeFile(TaskFolders::inWorkingFolder(task).imageFolder() + "left.jpg", wholeImage("JPG")));
        if (owner.isEmpty())
            return;
        UploadLedger ledger;
        QVERIFY(ledger.openForTask(TaskFolders::inWorkingFolder(task)));
        QVERIFY(ledger.setOwner(owner));
    };
    queue("t1", kUid);
    queue("t2", "someone else");
    queue("t3", QString());

    const QList<TaskFolders> others = QueueLookup::otherTasksOf(kUid, TaskFolders::inWorkingFolder(kTask));
    QCOMPARE(others.size(), 1);
    QCOMPARE(others.first().taskId(), QStringLiteral("t1"));
    QVERIFY(!QFileInfo::exists(TaskFolders::inWorkingFolder("t3").databasePath()));
    UploadLedger ledgerOfT1;
    QVERIFY(ledgerOfT1.openForTask(TaskFolders::inWorkingFolder("t1")));
    QCOMPARE(QueueLookup::waitingImages(TaskFolders::inWorkingFolder("t1").imageFolder(), ledgerOfT1), 1);
    UploadLoop t1(rig.service, rig.uploader, rig.clock, rig.sleeper, ledgerOfT1, kUid,
                  TaskFolders::inWorkingFolder("t1"), Rig::quickIntervals());
    QVERIFY(rig.write("own.jpg", wholeImage("PNG")));
    rig.loop.setKeepGoing([&] { return rig.sleeper.sleeps.size() < 3; });
    t1.setKeepGoing([&] { return rig.sleeper.sleeps.size() < 3; });

    rig.loop.run({&t1});

    QCOMPARE(rig.service.tasks, (QStringList{kTask, "t1"}));
    QVERIFY(rig.service.announced.at(1).startsWith(QStringLiteral("paper/origin/%1/t1/").arg(kUid)));
    QVERIFY(!QFileInfo::exists(TaskFolders::inWorkingFolder("t1").imageFolder() + "left.jpg"));
    QVERIFY(QFileInfo::exists(TaskFolders::inWorkingFolder("t2").imageFolder() + "left.jpg"));
    QVERIFY(QFileInfo::exists(TaskFolders::inWorkingFolder("t3").imageFolder() + "left.jpg"));
    QCOMPARE(QueueLookup::waitingImages(TaskFolders::inWorkingFolder("t1").imageFolder(), ledgerOfT1), 0);
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
    UploadLoop loop(rig.service, rig.uploader, rig.clock, rig.sleeper, rig.ledger, kUid, TaskFolders(),
                    Rig::quickIntervals());
    QVERIFY(rig.write(QStringLiteral("../a.jpg")));
    loop.setKeepGoing([&rig] { return rig.events.list.size() < 50; });
    loop.run();
    loop.runPass();
    QCOMPARE(rig.events.list, QStringList());
    QVERIFY(QFileInfo::exists(rig.cwd.filePath("image/a.jpg")));
    QCOMPARE(QDir(rig.cwd.filePath("image")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"a.jpg", kTask}));
}

// The worker's publisher: the first state at once, the steps of a busy pass folded together, and the last state
// before the worker pauses, so what the teacher sees while the worker waits is never an old one.
void TestUploadLoop::publishedAtMostPerIntervalAndBeforeEachPause()
{
    Rig rig;
    for (const QString& name : QStringList{"a.jpg", "b.jpg", "c.jpg"})
        QVERIFY(rig.write(name, sheet(name.toUtf8())));
    QList<int> published;
    QueuePublisher publisher(
        rig.sleeper, rig.clock, [&](const QueueState& state) { published << state.pending(); }, 60000);
    UploadLoop loop(rig.service, rig.uploader, rig.clock, publisher, rig.ledger, kUid,
                    TaskFolders::inWorkingFolder(kTask), Rig::quickIntervals());
    publisher.watch({&loop});
    loop.setKeepGoing([&] { return rig.sleeper.sleeps.isEmpty(); });

    loop.run();

    QCOMPARE(rig.puts().size(), 3);
    QCOMPARE(published, (QList<int>{3, 0}));
}

QTEST_GUILESS_MAIN(TestUploadLoop)
#include "tst_uploadloop.moc"
