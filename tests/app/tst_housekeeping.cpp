#include <QtTest>

#include "FakeProcessPlatform.h"
#include "app/Housekeeping.h"

namespace {

// Rows list processes as "id:name", in the system's order.
void fill(FakeProcessPlatform& platform, const QStringList& processes)
{
    for (const QString& process : processes) {
        const int colon = process.indexOf(QLatin1Char(':'));
        platform.addProcess(process.left(colon).toUInt(), process.mid(colon + 1).toStdWString());
    }
}

QList<uint> toList(const std::vector<std::uint32_t>& ids)
{
    QList<uint> list;
    for (std::uint32_t id : ids)
        list.append(id);
    return list;
}

} // namespace

class TestHousekeeping : public QObject
{
    Q_OBJECT

private slots:
    void endOtherCopy_data();
    void endOtherCopy();
    void copyThatCannotBeOpenedEndsNothing();
    void isUpdaterRunning_data();
    void isUpdaterRunning();
    void paths_data();
    void paths();
    void launchAsLoggedInUser_data();
    void launchAsLoggedInUser();
    void overlongPathIsCutAndTheStartFailsQuietly();
    void defaultPlatformCanBeReplaced();
};

void TestHousekeeping::endOtherCopy_data()
{
    QTest::addColumn<QStringList>("processes");
    QTest::addColumn<uint>("ownId");
    QTest::addColumn<QList<uint>>("ended");

    const QString idle = QStringLiteral("0:[System Process]");
    QTest::newRow("two other copies: only the first is ended")
        << QStringList{idle, "4:System", "120:AmbrelClient.exe", "130:AmbrelClient.exe"} << 500u << QList<uint>{120};
    QTest::newRow("a copy as the list's first entry is skipped")
        << QStringList{"7:AmbrelClient.exe", "8:svchost.exe", "9:AmbrelClient.exe"} << 500u << QList<uint>{9};
    QTest::newRow("a name that only contains the program name counts")
        << QStringList{idle, "77:OldAmbrelClient.exe"} << 500u << QList<uint>{77};
    QTest::newRow("the name in other letter case does not count")
        << QStringList{idle, "77:ambrelclient.exe", "78:AMBRELCLIENT.EXE"} << 500u << QList<uint>{};
    QTest::newRow("own process is never ended, even as the first match")
        << QStringList{idle, "500:AmbrelClient.exe", "501:AmbrelClient.exe"} << 500u << QList<uint>{501};
    QTest::newRow("only the own process") << QStringList{idle, "500:AmbrelClient.exe"} << 500u << QList<uint>{};
    QTest::newRow("no process list") << QStringList{} << 500u << QList<uint>{};
}

void TestHousekeeping::endOtherCopy()
{
    QFETCH(QStringList, processes);
    QFETCH(uint, ownId);
    QFETCH(QList<uint>, ended);

    FakeProcessPlatform platform;
    fill(platform, processes);
    Housekeeping housekeeping(platform);
    QVERIFY(housekeeping.endOtherCopy(QStringLiteral("AmbrelClient.exe"), ownId));
    QCOMPARE(toList(platform.ended), ended);
}

void TestHousekeeping::copyThatCannotBeOpenedEndsNothing()
{
    FakeProcessPlatform platform;
    fill(platform, {"0:[System Process]", "10:AmbrelClient.exe", "11:AmbrelClient.exe"});
    platform.unopenable.insert(10);
    Housekeeping housekeeping(platform);

    QVERIFY(housekeeping.endOtherCopy(QStringLiteral("AmbrelClient.exe"), 99));
    // The first copy was the target; the second is not tried in its place.
    QCOMPARE(toList(platform.openAttempts), QList<uint>{10});
    QVERIFY(platform.ended.empty());
}

void TestHousekeeping::isUpdaterRunning_data()
{
    QTest::addColumn<QStringList>("processes");
    QTest::addColumn<bool>("running");

    QTest::newRow("running under its name") << QStringList{"0:idle", "40:AutoUpdate.exe"} << true;
    QTest::newRow("any letter case counts") << QStringList{"0:idle", "40:autoupdate.exe"} << true;
    QTest::newRow("the first entry counts too") << QStringList{"40:AUTOUPDATE.EXE", "41:x.exe"} << true;
    QTest::newRow("a longer name is another program") << QStringList{"0:idle", "40:AutoUpdate.exe.old"} << false;
    QTest::newRow("a shorter name is another program") << QStringList{"0:idle", "40:AutoUpdate"} << false;
    QTest::newRow("not running") << QStringList{"0:idle", "40:explorer.exe"} << false;
    QTest::newRow("no process list") << QStringList{} << false;
}

void TestHousekeeping::isUpdaterRunning()
{
    QFETCH(QStringList, processes);
    QFETCH(bool, running);

    FakeProcessPlatform platform;
    fill(platform, processes);
    QCOMPARE(Housekeeping(platform).isUpdaterRunning(), running);
}

void TestHousekeeping::paths_data()
{
    QTest::addColumn<QString>("moduleFile");
    QTest::addColumn<QString>("configured");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("updater");

    QTest::newRow("updater beside the program") << "C:/Program Files/Ambrel/AmbrelClient.exe"
                                                << "./AutoUpdate.exe"
                                                << "C:/Program Files/Ambrel/"
                                                << "C:/Program Files/Ambrel/./AutoUpdate.exe";
    QTest::newRow("own path unknown") << QString() << "./AutoUpdate.exe" << QString() << QString();
    QTest::newRow("configured path used unchanged without a leading ./") << "C:/Ambrel/AmbrelClient.exe"
                                                                         << "D:/tools/AutoUpdate.exe"
                                                                         << "C:/Ambrel/"
                                                                         << "D:/tools/AutoUpdate.exe";
    QTest::newRow("a leading dot without a separator is not the own folder") << "C:/Ambrel/AmbrelClient.exe"
                                                                             << ".AutoUpdate.exe"
                                                                             << "C:/Ambrel/"
                                                                             << ".AutoUpdate.exe";
}

void TestHousekeeping::paths()
{
    QFETCH(QString, moduleFile);
    QFETCH(QString, configured);
    QFETCH(QString, directory);
    QFETCH(QString, updater);

    FakeProcessPlatform platform;
    platform.m_moduleFilePath = moduleFile.toStdWString();
    platform.m_conventions.configuredUpdaterPath = configured.toStdWString();
    Housekeeping housekeeping(platform);
    QCOMPARE(housekeeping.moduleDirectory(), directory);
    QCOMPARE(housekeeping.updaterPath(), updater);
}

void TestHousekeeping::launchAsLoggedInUser_data()
{
    QTest::addColumn<QStringList>("processes");
    QTest::addColumn<QString>("shellName");
    QTest::addColumn<bool>("startable");
    QTest::addColumn<bool>("attempted");
    QTest::addColumn<uint>("shellId");
    QTest::addColumn<bool>("result");

    const QString explorer = QStringLiteral("explorer.exe");
    QTest::newRow("started with the shell's user")
        << QStringList{"0:idle", "300:explorer.exe", "301:explorer.exe"} << explorer << true << true << 300u << true;
    QTest::newRow("shell name in any letter case")
        << QStringList{"0:idle", "300:EXPLORER.EXE"} << explorer << true << true << 300u << true;
    QTest::newRow("no shell process: nothing started")
        << QStringList{"0:idle", "4:System", "9:winlogon.exe"} << explorer << true << false << 0u << false;
    QTest::newRow("the shell as the list's first entry is skipped")
        << QStringList{"300:explorer.exe", "4:System"} << explorer << true << false << 0u << false;
    QTest::newRow("no process list: nothing started") << QStringList{} << explorer << true << false << 0u << false;
    QTest::newRow("the start fails") << QStringList{"0:idle", "300:explorer.exe"} << explorer << false << true << 300u
                                     << false;
    QTest::newRow("a system without a user shell starts as is")
        << QStringList{"1:init"} << QString() << true << true << 0u << true;
}

void TestHousekeeping::launchAsLoggedInUser()
{
    QFETCH(QStringList, processes);
    QFETCH(QString, shellName);
    QFETCH(bool, startable);
    QFETCH(bool, attempted);
    QFETCH(uint, shellId);
    QFETCH(bool, result);

    FakeProcessPlatform platform;
    fill(platform, processes);
    platform.m_conventions.shellProcessName = shellName.toStdWString();
    const std::wstring updater = L"C:/Ambrel/./AutoUpdate.exe";
    if (startable)
        platform.startable.insert(updater);

    Housekeeping housekeeping(platform);
    QCOMPARE(housekeeping.launchAsLoggedInUser(QString::fromStdWString(updater), QStringLiteral("C:/Ambrel/")), result);
    QCOMPARE(platform.starts.size(), attempted ? std::size_t(1) : std::size_t(0));
    if (attempted) {
        const FakeProcessPlatform::Start& start = platform.starts.front();
        QCOMPARE(QString::fromStdWString(start.application), QString::fromStdWString(updater));
        QCOMPARE(QString::fromStdWString(start.workingDirectory), QStringLiteral("C:/Ambrel/"));
        QCOMPARE(start.withShell, !shellName.isEmpty());
        QCOMPARE(uint(start.shellId), shellId);
    }
}

void TestHousekeeping::overlongPathIsCutAndTheStartFailsQuietly()
{
    // 244 characters of folder: with "./AutoUpdate.exe" the path has 260 characters and loses its last one.
    const QString folder = QStringLiteral("C:/") + QString(240, QLatin1Char('d')) + QStringLiteral("/");
    QCOMPARE(folder.size(), 244);
    FakeProcessPlatform platform;
    fill(platform, {"0:idle", "300:explorer.exe"});
    platform.m_moduleFilePath = QString(folder + QStringLiteral("AmbrelClient.exe")).toStdWString();
    const QString whole = folder + QStringLiteral("./AutoUpdate.exe");
    platform.startable.insert(whole.toStdWString());

    Housekeeping housekeeping(platform);
    const QString updater = housekeeping.updaterPath();
    QCOMPARE(updater.size(), 259);
    QCOMPARE(updater, whole.left(259));
    QCOMPARE(housekeeping.moduleDirectory(), folder);
    QVERIFY(!housekeeping.isUpdaterRunning());
    QVERIFY(!housekeeping.launchAsLoggedInUser(updater, housekeeping.moduleDirectory()));
    QCOMPARE(platform.starts.size(), std::size_t(1));
    QCOMPARE(QString::fromStdWString(platform.starts.front().application), whole.left(259));

    // One character less fits exactly.
    FakeProcessPlatform fitting;
    fitting.m_moduleFilePath = QString(folder.left(242) + QStringLiteral("/AmbrelClient.exe")).toStdWString();
    QCOMPARE(Housekeeping(fitting).updaterPath().size(), 259);
    QCOMPARE(Housekeeping(fitting).updaterPath(), folder.left(242) + QStringLiteral("/./AutoUpdate.exe"));
}

void TestHousekeeping::defaultPlatformCanBeReplaced()
{
    FakeProcessPlatform platform;
    fill(platform, {"0:idle", "12:AmbrelClient.exe"});
    Housekeeping::setDefaultPlatform(&platform);
    Housekeeping().endOtherCopy(QStringLiteral("AmbrelClient.exe"), 1);
    Housekeeping::setDefaultPlatform(nullptr);
    QCOMPARE(toList(platform.ended), QList<uint>{12});
}

QTEST_GUILESS_MAIN(TestHousekeeping)
#include "tst_housekeeping.moc"
