#include <QAction>
#include <QApplication>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "EmulatorFixture.h"
#include "FakeProcessPlatform.h"
#include "TestUtils.h"
#include "app/AmbrelClient.h"
#include "app/HandOver.h"
#include "app/Housekeeping.h"
#include "app/ShutDownDialog.h"
#include "app/TrayProgramManager.h"
#include "pages/HomePage.h"
#include "service/HttpCommunicationThread.h"
#include "upload/QueueStatus.h"

namespace {

FakeProcessPlatform s_processes;
int s_exitCalls = 0;
int s_exitStatus = -1;

void recordExit(int status)
{
    ++s_exitCalls;
    s_exitStatus = status;
}

QStringList actionTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << action->text();
    return texts;
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void iconTooltipAndMenu();
    void parentIsIgnored();
    void activation_data();
    void activation();
    void quitItemAsksToClose();
    void hiddenWindowComesBackFromTheTray();
    void quitWithNothingPendingEnds();
    void quitWaitsForProofreading_data();
    void quitWaitsForProofreading();

private:
    QProcess m_trayer;
};

void TestTray::initTestCase()
{
    Q_INIT_RESOURCE(ambrelclient);
    AmbrelClient::setExitFunction(recordExit);
    Housekeeping::setDefaultPlatform(&s_processes);

    // A notification area for the icon to dock into: trayer, unless the display already has one.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayer.start(QStringLiteral("trayer"), {QStringLiteral("--SetDockType"), QStringLiteral("false")});
        m_trayer.waitForStarted(5000);
    }
    if (!QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000))
        QSKIP("no system tray on this display");
}

void TestTray::init()
{
    QApplication::setQuitOnLastWindowClosed(false);
    s_exitCalls = 0;
    s_exitStatus = -1;
}

void TestTray::iconTooltipAndMenu()
{
    TrayProgramManager manager;
    QSystemTrayIcon* icon = manager.trayIcon();
    QVERIFY(icon->isVisible());
    QCOMPARE(icon->toolTip(), QStringLiteral("岚栖"));
    QVERIFY(!icon->icon().isNull());
    QVERIFY(icon->contextMenu());
    QCOMPARE(actionTexts(icon->contextMenu()), QStringList{QStringLiteral("退出")});
    // Docked into the notification area: the host gave it a place on the screen.
    QTRY_VERIFY(icon->geometry().isValid());
    QVERIFY(manager.isHidden());
}

void TestTray::parentIsIgnored()
{
    QWidget window;
    TrayProgramManager manager(&window);
    QCOMPARE(manager.parentWidget(), nullptr);
    QVERIFY(manager.isWindow());
}

void TestTray::activation_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<int>("restores");

    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << 0;
    QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << 0;
    QTest::newRow("double-click restores") << int(QSystemTrayIcon::DoubleClick) << 1;
    QTest::newRow("single click does nothing") << int(QSystemTrayIcon::Trigger) << 0;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << 0;
}

void TestTray::activation()
{
    QFETCH(int, reason);
    QFETCH(int, restores);

    TrayProgramManager manager;
    QSignalSpy restore(&manager, &TrayProgramManager::signalMaxInterface);
    QSignalSpy close(&manager, &TrayProgramManager::signalCloseInterface);
    emit manager.trayIcon()->activated(static_cast<QSystemTrayIcon::ActivationReason>(reason));
    QCOMPARE(restore.count(), restores);
    QCOMPARE(close.count(), 0);
}

void TestTray::quitItemAsksToClose()
{
    TrayProgramManager manager;
    QSignalSpy restore(&manager, &TrayProgramManager::signalMaxInterface);
    QSignalSpy close(&manager, &TrayProgramManager::signalCloseInterface);
    manager.trayIcon()->contextMenu()->actions().first()->trigger();
    QCOMPARE(close.count(), 1);
    QCOMPARE(restore.count(), 0);
}

void TestTray::hiddenWindowComesBackFromTheTray()
{
    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    const QWidgetList before = QApplication::topLevelWidgets();
    AmbrelClient window("x//T1_tok_u9_Title/");
    TrayProgramManager* tray = TestUtils::newTopLevel<TrayProgramManager>(before);
    QVERIFY(tray);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.showMaximized();
    QTRY_VERIFY(window.isMaximized());
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("closeButton")), Qt::LeftButton);
    QVERIFY(window.isHidden());
    QVERIFY(tray->trayIcon()->isVisible());
    QCOMPARE(s_exitCalls, 0);

    emit tray->trayIcon()->activated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isHidden());

    emit tray->trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMaximized());
    QVERIFY(!window.isMinimized());
    QTRY_VERIFY(window.isActiveWindow());
    QCOMPARE(s_exitCalls, 0);
}

void TestTray::quitWithNothingPendingEnds()
{
    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    const QWidgetList before = QApplication::topLevelWidgets();
    AmbrelClient window("x//T1_tok_u9_Title/");
    TrayProgramManager* tray = TestUtils::newTopLevel<TrayProgramManager>(before);
    QVERIFY(tray);

    tray->trayIcon()->contextMenu()->actions().first()->trigger();
    QCOMPARE(s_exitCalls, 1);
    QCOMPARE(s_exitStatus, 0);
}

void TestTray::quitWaitsForProofreading_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<int>("exits");
    QTest::addColumn<bool>("homeShown");
    // Another copy holds the working folder and drains it; two sheets wait in it.
    QTest::addColumn<bool>("otherCopy");

    QTest::newRow("关闭窗口 ends the program") << "continueButton" << 1 << false << false;
    QTest::newRow("继续拍照 keeps it running on the home page") << "waitButton" << 0 << true << false;
    QTest::newRow("another copy uploads: every place says so, 关闭窗口 ends this copy")
        << "continueButton" << 1 << false << true;
}

void TestTray::quitWaitsForProofreading()
{
    QFETCH(QString, buttonName);
    QFETCH(int, exits);
    QFETCH(bool, homeShown);
    QFETCH(bool, otherCopy);

    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    emulator->setCannedData(ServiceEmulator::Endpoint::ZeroProofread,
                            QJsonObject{{"proofreadImageCount", 2}, {"totalImageCount", 5}});
    if (otherCopy) {
        // This process's worker, left running by an earlier window, is stopped as a waiting copy's is.
        HttpCommunicationThread::getInstance()->requestInterruption();
        QVERIFY(HttpCommunicationThread::getInstance()->wait(30000));
        // Held by a copy on another machine, refreshed moments ago.
        QVERIFY(TestUtils::writeFile(QLatin1String(HandOver::LockFileName), "99999\nAmbrelClient\npc-lab1\n"));
        QVERIFY(TestUtils::writeFile(QStringLiteral("image/T1/a.jpg"), TestUtils::patternJpeg(2000, 1)));
        QVERIFY(TestUtils::writeFile(QStringLiteral("image/T1/b.jpg"), TestUtils::patternJpeg(2000, 2)));
    }
    const QWidgetList before = QApplication::topLevelWidgets();
    AmbrelClient window("x//T1_tok_u9_Title/");
    TrayProgramManager* tray = TestUtils::newTopLevel<TrayProgramManager>(before);
    auto* dialog = TestUtils::newTopLevel<ShutDownDialog>(before);
    QVERIFY(tray);
    QVERIFY(dialog);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.toTakePhotoUi();
    if (otherCopy) {
        // The tooltip is set from the published state only: once it is there, the folder's state has reached the
        // title bar.
        auto* status = window.findChild<QPushButton*>(QStringLiteral("queueStatusButton"));
        QTRY_COMPARE(status->toolTip(), QStringLiteral("另一个窗口正在上传\n点击查看每张照片"));
        QCOMPARE(status->text(), QStringLiteral("另一个窗口正在上传"));
        QCOMPARE(QueueStatus::instance()->current().pending(), 2);
        QTRY_COMPARE(tray->trayIcon()->toolTip(), QStringLiteral("岚栖\n另一个窗口正在上传"));
    }

    // The service calls wait in local event loops: watch for the dialog without blocking, and click once it shows.
    bool clicked = false;
    int exitsWhileOpen = -1;
    QStringList dialogTexts;
    QTimer watcher;
    watcher.setInterval(10);
    connect(&watcher, &QTimer::timeout, dialog, [&] {
        if (clicked || !dialog->isVisible())
            return;
        clicked = true;
        exitsWhileOpen = s_exitCalls;
        dialogTexts = QStringList{dialog->findChild<QLabel*>(QStringLiteral("titleLabel"))->text(),
                                  dialog->findChild<QPushButton*>(QStringLiteral("waitButton"))->text(),
                                  dialog->findChild<QPushButton*>(buttonName)->text()};
        QTest::mouseClick(dialog->findChild<QPushButton*>(buttonName), Qt::LeftButton);
    });
    watcher.start();
    // Safety net: a dialog that never closes would otherwise hang the test.
    QTimer::singleShot(15000, dialog, &QDialog::reject);
    tray->trayIcon()->contextMenu()->actions().first()->trigger();

    QVERIFY(clicked);
    QCOMPARE(exitsWhileOpen, 0);
    if (otherCopy)
        QCOMPARE(dialogTexts, (QStringList{QStringLiteral("另一个窗口正在上传"), QStringLiteral("继续拍照"),
                                           QStringLiteral("关闭窗口")}));
    QCOMPARE(s_exitCalls, exits);
    if (exits)
        QCOMPARE(s_exitStatus, 0);
    QCOMPARE(window.findChild<HomePage*>()->isVisible(), homeShown);
    dialog->timerStop();
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
