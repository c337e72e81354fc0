#include <atomic>

#include <QLockFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "TestClock.h"
#include "TestUtils.h"
#include "app/HandOver.h"
#include "core/Settings.h"

// A copy that does not get the working folder at once keeps trying and ends up owning it, whatever held it: a lock it
// cannot write, a lock left by a crashed copy on another machine, a running copy whose hand-over takes longer than
// the wait, a system clock set back meanwhile.
class TestHandOver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void waiterEndsUpOwningTheFolder_data();
    void waiterEndsUpOwningTheFolder();

private:
    QTemporaryDir m_runtime;
};

namespace {

enum Scenario
{
    LockNotWritable,
    ForeignHostLock,
    SlowHandOver,
    WallClockStep,
    TakenWhileAsleep
};

constexpr int kBeatMs = 100;

// The running copy's thread: stopped, and the copy deleted in it, however the test ends.
struct HolderThread
{
    QThread thread;
    HandOver* holder = new HandOver;
    ~HolderThread()
    {
        if (thread.isRunning())
            QMetaObject::invokeMethod(
                holder, [this] { delete holder; }, Qt::BlockingQueuedConnection);
        else
            delete holder;
        thread.quit();
        thread.wait();
    }
};

void configure(HandOver& handOver)
{
    handOver.setHeartbeatInterval(kBeatMs);
    handOver.setRetryInterval(20);
    handOver.setAnswerTimeout(300);
}

// Left by a copy that crashed on another machine sharing the folder: a process id that means nothing here.
bool writeForeignLock(const QString& folder)
{
    return TestUtils::writeFile(QDir(folder).filePath(QLatin1String(HandOver::LockFileName)),
                                "99999\nAmbrelClient\npc-lab1\n");
}

} // namespace

void TestHandOver::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    // The lock and the channel live in the runtime folder: one of the run's own.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    Settings::reload();
}

void TestHandOver::waiterEndsUpOwningTheFolder_data()
{
    QTest::addColumn<int>("scenario");
    QTest::addColumn<bool>("ownsAtOnce");
    QTest::addColumn<QString>("logSays");

    QTest::newRow("lock not writable: the only copy uploads")
        << int(LockNotWritable) << true << QStringLiteral("cannot write the lock file");
    QTest::newRow("foreign-host lock with an old heartbeat")
        << int(ForeignHostLock) << false << QStringLiteral("the lock of process 99999 on pc-lab1 was not refreshed");
    QTest::newRow("a hand-over longer than the wait")
        << int(SlowHandOver) << false << QStringLiteral("the running copy is handing over");
    QTest::newRow("a wall-clock step back while waiting")
        << int(WallClockStep) << false << QStringLiteral("the lock of process 99999 on pc-lab1 was not refreshed");
    // A copy on another machine took the lock while this one slept, and crashed in turn: this copy stops, waits,
    // and takes the folder back once that lock is stale.
    QTest::newRow("lock taken by another machine while this copy slept")
        << int(TakenWhileAsleep) << true << QStringLiteral("now names process 99999 on pc-lab1");
}

void TestHandOver::waiterEndsUpOwningTheFolder()
{
    QFETCH(int, scenario);
    QFETCH(bool, ownsAtOnce);
    QFETCH(QString, logSays);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    // A folder whose lock cannot be created (as on a full disk: the file system refuses the file).
    const QString folder = scenario == LockNotWritable ? work.filePath(QStringLiteral("gone")) : work.path();
    const QString logFile = qEnvironmentVariable("AMBREL_LOG_FILE");
    const qint64 logBefore = QFileInfo(logFile).size();
    TestClock clock;
    clock.followSystemTime();

    // The running copy: in a thread of its own, so that it answers while the new one waits for the answer. It
    // keeps its heartbeat while it finishes, and lets go well after the new start's answer time.
    HolderThread running;
    HandOver* holder = running.holder;
    std::atomic<bool> released{false};
    if (scenario == SlowHandOver) {
        configure(*holder);
        holder->moveToThread(&running.thread);
        running.thread.start();
        bool owns = false;
        QMetaObject::invokeMethod(
            holder, [&] { owns = holder->takeOver(folder); }, Qt::BlockingQueuedConnection);
        QVERIFY(owns);
        connect(holder, &HandOver::handOverRequested, holder, [&] {
            QTimer::singleShot(15 * kBeatMs, holder, [&] {
                released = true;
                holder->release();
            });
        });
    } else if (scenario == ForeignHostLock || scenario == WallClockStep) {
        QVERIFY(writeForeignLock(folder));
    }

    HandOver waiter;
    configure(waiter);
    QSignalSpy won(&waiter, &HandOver::folderWon);
    QSignalSpy lost(&waiter, &HandOver::folderLost);
    connect(
        &waiter, &HandOver::folderLost, this, [&] { waiter.takeOver(folder); }, Qt::QueuedConnection);
    QCOMPARE(waiter.takeOver(folder), ownsAtOnce);
    if (scenario == WallClockStep)
        clock.stepWallClock(-3600 * 1000);
    if (scenario == TakenWhileAsleep) {
        QVERIFY(QFile::remove(QDir(folder).filePath(QLatin1String(HandOver::LockFileName))));
        QVERIFY(writeForeignLock(folder));
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 20000);
        QVERIFY(!waiter.ownsFolder());
    }
    if (!ownsAtOnce || scenario == TakenWhileAsleep) {
        QVERIFY(waiter.waitsForFolder() || scenario == TakenWhileAsleep);
        QTRY_COMPARE_WITH_TIMEOUT(won.count(), 1, 20000);
    }
    QVERIFY(waiter.ownsFolder());
    if (scenario == SlowHandOver)
        QVERIFY2(released, "the folder was taken from a copy that still held it");
    if (scenario != LockNotWritable) {
        QLockFile lock(QDir(folder).filePath(QLatin1String(HandOver::LockFileName)));
        qint64 pid = 0;
        QVERIFY(lock.getLockInfo(&pid, nullptr, nullptr));
        QCOMPARE(pid, QCoreApplication::applicationPid());
    }
    QFile log(logFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    log.seek(logBefore);
    const QString said = QString::fromUtf8(log.readAll());
    QVERIFY2(said.contains(logSays), qPrintable(said));
}

QTEST_GUILESS_MAIN(TestHandOver)
#include "tst_handover.moc"
