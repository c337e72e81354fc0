#include <algorithm>
#include <climits>

#include <unistd.h>

#include <QtTest>

#include "TestUtils.h"
#include "app/Housekeeping.h"
#include "app/ProcessPlatformLinux.h"

namespace {

// Builds a fake /proc folder: one sub-folder per process with a comm file and, optionally, an exe link.
class FakeProc
{
public:
    QString root() const { return m_dir.path(); }

    void add(const QString& id, const QString& comm, const QString& exeTarget = QString(), int uid = -1)
    {
        const QString folder = m_dir.path() + QLatin1Char('/') + id;
        QDir().mkpath(folder);
        if (!comm.isNull())
            TestUtils::writeFile(folder + QStringLiteral("/comm"), comm.toLocal8Bit() + '\n');
        if (!exeTarget.isEmpty())
            QFile::link(exeTarget, folder + QStringLiteral("/exe"));
        if (uid >= 0) {
            const QByteArray ids = QByteArray::number(uid);
            TestUtils::writeFile(folder + QStringLiteral("/status"), "Name:\t" + comm.toLocal8Bit() + "\nUid:\t" + ids +
                                                                         '\t' + ids + '\t' + ids + '\t' + ids +
                                                                         "\nGid:\t0\t0\t0\t0\n");
        }
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

// Only processes of our user that run our very executable file are copies: a name is anybody's to take.
void TestHousekeepingLinux::endsTheFirstOtherCopyWithSigterm()
{
    QTemporaryDir install;
    const QString program = install.filePath(QStringLiteral("AmbrelClient"));
    const QString impostor = install.filePath(QStringLiteral("other/AmbrelClient"));
    QVERIFY(TestUtils::writeFile(program, "#!/bin/sh\n"));
    QVERIFY(TestUtils::writeFile(impostor, "#!/bin/sh\n"));
    const int ownUid = int(::getuid());

    QProcess children[4];
    for (QProcess& child : children) {
        child.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(child.waitForStarted());
    }
    // The fake list orders by id: the two lowest ids get the roles that must survive although they come first.
    std::vector<QProcess*> byId{&children[0], &children[1], &children[2], &children[3]};
    std::sort(byId.begin(), byId.end(), [](QProcess* a, QProcess* b) { return a->processId() < b->processId(); });
    QProcess& otherUser = *byId[0];
    QProcess& otherExecutable = *byId[1];
    QProcess& copy = *byId[2];
    QProcess& secondCopy = *byId[3];

    FakeProc proc;
    proc.add(QStringLiteral("self"), QStringLiteral("AmbrelClient"), program, ownUid);
    proc.add(QStringLiteral("1"), QStringLiteral("AmbrelClient"), program, ownUid);
    proc.add(QString::number(QCoreApplication::applicationPid()), QStringLiteral("AmbrelClient"), program, ownUid);
    proc.add(QString::number(otherUser.processId()), QStringLiteral("AmbrelClient"), program, ownUid + 1);
    proc.add(QString::number(otherExecutable.processId()), QStringLiteral("AmbrelClient"), impostor, ownUid);
    proc.add(QString::number(copy.processId()), QStringLiteral("AmbrelClient"), program, ownUid);
    proc.add(QString::number(secondCopy.processId()), QStringLiteral("AmbrelClient"), program, ownUid);
    ProcessPlatformLinux platform(proc.root());

    QVERIFY(Housekeeping(platform).endOtherCopy(QStringLiteral("AmbrelClient"), QCoreApplication::applicationPid()));

    QVERIFY(copy.waitForFinished(5000));
    QCOMPARE(copy.exitStatus(), QProcess::CrashExit);
    for (QProcess* survivor : {&otherUser, &otherExecutable, &secondCopy})
        QCOMPARE(survivor->state(), QProcess::Running);
    for (QProcess& child : children) {
        child.kill();
        child.waitForFinished(5000);
    }
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
