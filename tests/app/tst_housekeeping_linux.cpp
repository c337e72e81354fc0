#include "TestUtils.h"
#include "app/Housekeeping.h"
#include "app/ProcessPlatformLinux.h"

#include <climits>

#include <QtTest>

namespace {

// Builds a fake /proc folder: one sub-folder per process with a comm file and, optionally, an exe link.
class FakeProc
{
public:
    QString root() const { return m_dir.path(); }

    void add(const QString& id, const QString& comm, const QString& exeTarget = QString())
    {
        const QString folder = m_dir.path() + QLatin1Char('/') + id;
        QDir().mkpath(folder);
        if (!comm.isNull())
            TestUtils::writeFile(folder + QStringLiteral("/comm"), comm.toLocal8Bit() + '\n');
        if (!exeTarget.isEmpty())
            QFile::link(exeTarget, folder + QStringLiteral("/exe"));
    }

private:
    QTemporaryDir m_dir;
};

QStringList names(const std::vector<ProcessEntry>& entries)
{
    QStringList list;
    for (const ProcessEntry& entry : entries)
        list.append(QString::number(entry.id) + QLatin1Char(':') + QString::fromStdWString(entry.name));
    return list;
}

} // namespace

class TestHousekeepingLinux : public QObject
{
    Q_OBJECT

private slots:
    void processList_data();
    void processList();
    void ownFolderFromTheSelfLink();
    void findsItselfInTheRealProc();
    void endsTheFirstOtherCopyWithSigterm();
    void refusesIdsThatSignalProcessGroups_data();
    void refusesIdsThatSignalProcessGroups();
    void updaterRunningFromProc();
    void startsThePresentUpdaterDetachedInItsFolder();
    void missingUpdaterStartsNothing();
};

void TestHousekeepingLinux::processList_data()
{
    QTest::addColumn<QStringList>("folders"); // id|comm|exe target; a comm of "-" means no comm file
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("numeric order, not name order") << QStringList{"10|AmbrelClient|", "9|bash|", "100|AutoUpdate|"}
                                                   << QStringList{"9:bash", "10:AmbrelClient", "100:AutoUpdate"};
    QTest::newRow("folders that are not processes are left out")
        << QStringList{"self|x|", "sys|y|", "12abc|z|", "7|init|"} << QStringList{"7:init"};
    QTest::newRow("a cut comm is completed from the exe link")
        << QStringList{"5|AmbrelClientLon|/opt/a/AmbrelClientLongName"} << QStringList{"5:AmbrelClientLongName"};
    QTest::newRow("a short comm wins over an interpreter's exe link")
        << QStringList{"5|AutoUpdate|/usr/bin/python3"} << QStringList{"5:AutoUpdate"};
    QTest::newRow("no comm: the exe link's name")
        << QStringList{"6|-|/opt/a/AmbrelClient (deleted)"} << QStringList{"6:AmbrelClient"};
    QTest::newRow("a process that vanished is left out") << QStringList{"8|-|", "9|ok|"} << QStringList{"9:ok"};
}

void TestHousekeepingLinux::processList()
{
    QFETCH(QStringList, folders);
    QFETCH(QStringList, expected);

    FakeProc proc;
    for (const QString& folder : folders) {
        const QStringList parts = folder.split(QLatin1Char('|'));
        proc.add(parts[0], parts[1] == QLatin1String("-") ? QString() : parts[1], parts[2]);
    }
    ProcessPlatformLinux platform(proc.root());
    QCOMPARE(names(platform.processes()), expected);
}

void TestHousekeepingLinux::ownFolderFromTheSelfLink()
{
    FakeProc proc;
    proc.add(QStringLiteral("self"), QStringLiteral("AmbrelClient"), QStringLiteral("/opt/ambrel/AmbrelClient"));
    ProcessPlatformLinux platform(proc.root());
    Housekeeping housekeeping(platform);
    QCOMPARE(housekeeping.moduleDirectory(), QStringLiteral("/opt/ambrel/"));
    QCOMPARE(housekeeping.updaterPath(), QStringLiteral("/opt/ambrel/./AutoUpdate"));

    ProcessPlatformLinux nothing(proc.root() + QStringLiteral("/missing"));
    QCOMPARE(Housekeeping(nothing).updaterPath(), QString());
}

void TestHousekeepingLinux::findsItselfInTheRealProc()
{
    // This test's name is longer than the kernel keeps: the whole name comes from the exe link.
    const QString ownName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QVERIFY(ownName.size() > 15);
    ProcessPlatformLinux platform;
    QString found;
    for (const ProcessEntry& entry : platform.processes()) {
        if (qint64(entry.id) == QCoreApplication::applicationPid())
            found = QString::fromStdWString(entry.name);
    }
    QCOMPARE(found, ownName);
    Housekeeping housekeeping(platform);
    QCOMPARE(housekeeping.moduleDirectory(), QFileInfo(QCoreApplication::applicationFilePath()).path() + '/');
}

void TestHousekeepingLinux::endsTheFirstOtherCopyWithSigterm()
{
    QProcess first;
    QProcess second;
    first.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    second.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(first.waitForStarted());
    QVERIFY(second.waitForStarted());

    FakeProc proc;
    proc.add(QStringLiteral("1"), QStringLiteral("AmbrelClient"));
    proc.add(QString::number(QCoreApplication::applicationPid()), QStringLiteral("AmbrelClient"));
    proc.add(QString::number(first.processId()), QStringLiteral("AmbrelClient"));
    proc.add(QString::number(second.processId()), QStringLiteral("AmbrelClient"));
    ProcessPlatformLinux platform(proc.root());

    // The fake list orders by id; whichever child has the lower id is the first copy.
    QProcess& target = first.processId() < second.processId() ? first : second;
    QProcess& survivor = &target == &first ? second : first;
    QVERIFY(Housekeeping(platform).endOtherCopy(QStringLiteral("AmbrelClient"), QCoreApplication::applicationPid()));

    QVERIFY(target.waitForFinished(5000));
    QCOMPARE(target.exitStatus(), QProcess::CrashExit);
    QCOMPARE(survivor.state(), QProcess::Running);
    survivor.kill();
    survivor.waitForFinished(5000);
}

void TestHousekeepingLinux::refusesIdsThatSignalProcessGroups_data()
{
    QTest::addColumn<uint>("id");
    QTest::newRow("zero: our own process group") << 0u;
    QTest::newRow("above the largest id: a negative pid") << uint(INT_MAX) + 1u;
    QTest::newRow("all ones: pid -1, every process") << UINT_MAX;
}

void TestHousekeepingLinux::refusesIdsThatSignalProcessGroups()
{
    QFETCH(uint, id);
    ProcessPlatformLinux platform;
    QVERIFY(!platform.endProcess(id));
}

void TestHousekeepingLinux::updaterRunningFromProc()
{
    FakeProc proc;
    proc.add(QStringLiteral("1"), QStringLiteral("systemd"));
    proc.add(QStringLiteral("2"), QStringLiteral("bash"));
    ProcessPlatformLinux platform(proc.root());
    QVERIFY(!Housekeeping(platform).isUpdaterRunning());
    proc.add(QStringLiteral("3"), QStringLiteral("autoupdate"));
    QVERIFY(Housekeeping(platform).isUpdaterRunning());
}

void TestHousekeepingLinux::startsThePresentUpdaterDetachedInItsFolder()
{
    QTemporaryDir program;
    const QString folder = program.path() + QLatin1Char('/');
    const QString marker = folder + QStringLiteral("started-in");
    const QString updater = folder + QStringLiteral("AutoUpdate");
    QVERIFY(TestUtils::writeFile(updater, QByteArrayLiteral("#!/bin/sh\npwd > started-in\n")));
    QVERIFY(QFile::setPermissions(updater, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    FakeProc proc;
    proc.add(QStringLiteral("self"), QStringLiteral("AmbrelClient"), folder + QStringLiteral("AmbrelClient"));
    proc.add(QStringLiteral("1"), QStringLiteral("systemd"));
    ProcessPlatformLinux platform(proc.root());
    Housekeeping housekeeping(platform);

    QVERIFY(!housekeeping.isUpdaterRunning());
    QVERIFY(housekeeping.launchAsLoggedInUser(housekeeping.updaterPath(), housekeeping.moduleDirectory()));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(marker).size() > 0, 5000);
    QCOMPARE(QDir(QString::fromLocal8Bit(TestUtils::readFile(marker)).trimmed()).canonicalPath(),
             QDir(folder).canonicalPath());
}

void TestHousekeepingLinux::missingUpdaterStartsNothing()
{
    QTemporaryDir program;
    const QString folder = program.path() + QLatin1Char('/');
    FakeProc proc;
    proc.add(QStringLiteral("self"), QStringLiteral("AmbrelClient"), folder + QStringLiteral("AmbrelClient"));
    ProcessPlatformLinux platform(proc.root());
    Housekeeping housekeeping(platform);
    QVERIFY(!housekeeping.launchAsLoggedInUser(housekeeping.updaterPath(), housekeeping.moduleDirectory()));

    // Present but not executable: not started either.
    QVERIFY(TestUtils::writeFile(folder + QStringLiteral("AutoUpdate"), QByteArrayLiteral("#!/bin/sh\n")));
    QVERIFY(!housekeeping.launchAsLoggedInUser(housekeeping.updaterPath(), housekeeping.moduleDirectory()));
}

QTEST_GUILESS_MAIN(TestHousekeepingLinux)
#include "tst_housekeeping_linux.moc"
