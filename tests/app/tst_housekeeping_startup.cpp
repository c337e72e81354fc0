#include <QtTest>

#include "EmulatorFixture.h"
#include "FakeProcessPlatform.h"
#include "TestUtils.h"
#include "app/AmbrelClient.h"
#include "app/Housekeeping.h"

// The main window's construction starts the updater when it is not running, and ends no other copy.
class TestHousekeepingStartup : public QObject
{
    Q_OBJECT

private slots:
    void startUpOrder_data();
    void startUpOrder();
};

void TestHousekeepingStartup::startUpOrder_data()
{
    QTest::addColumn<QString>("updater");
    QTest::addColumn<QStringList>("calls");

    // Other copies are asked to hand over, never ended: one that holds the folder is waited for.
    QTest::newRow("updater not running: updater started, no copy ended") << "Updater.exe" << QStringList{"start"};
    QTest::newRow("updater running: nothing started, no copy ended") << "AUTOUPDATE.EXE" << QStringList{};
}

void TestHousekeepingStartup::startUpOrder()
{
    QFETCH(QString, updater);
    QFETCH(QStringList, calls);

    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    FakeProcessPlatform platform;
    const qint64 own = QCoreApplication::applicationPid();
    platform.addProcess(0, L"[System Process]");
    platform.addProcess(uint(own), L"AmbrelClient.exe");
    platform.addProcess(77, L"AmbrelClient.exe");
    platform.addProcess(78, L"AmbrelClient.exe");
    platform.addProcess(300, L"explorer.exe");
    platform.addProcess(301, updater.toStdWString());
    platform.m_moduleFilePath = L"C:/Program Files/Ambrel/AmbrelClient.exe";
    Housekeeping::setDefaultPlatform(&platform);
    {
        AmbrelClient window("x//T1_tok_u9_Title/");
    }
    Housekeeping::setDefaultPlatform(nullptr);

    QStringList seen;
    for (const std::string& call : platform.calls)
        seen << QString::fromStdString(call);
    QCOMPARE(seen, calls);
    if (!platform.starts.empty()) {
        const FakeProcessPlatform::Start& start = platform.starts.front();
        QCOMPARE(QString::fromStdWString(start.application),
                 QStringLiteral("C:/Program Files/Ambrel/./AutoUpdate.exe"));
        QCOMPARE(QString::fromStdWString(start.workingDirectory), QStringLiteral("C:/Program Files/Ambrel/"));
        QCOMPARE(start.shellId, 300u);
    }
}

QTEST_MAIN(TestHousekeepingStartup)
#include "tst_housekeeping_startup.moc"
