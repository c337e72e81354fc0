#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "EmulatorFixture.h"
#include "FakeProcessPlatform.h"
#include "TestUtils.h"
#include "app/AmbrelClient.h"
#include "app/Housekeeping.h"
#include "app/StartUp.h"
#include "app/TrayProgramManager.h"
#include "capture/TakePhoto.h"
#include "core/Settings.h"
#include "pages/DisplayPhoto.h"
#include "pages/HomePage.h"
#include "pages/ReTakePhoto.h"
#include "viewer/ViewPhoto.h"

namespace {

// The main window ends other copies of the program at start: here it sees an empty process table instead.
FakeProcessPlatform s_processes;
int s_exitStatus = -1;
int s_exitCalls = 0;

void recordExit(int status)
{
    s_exitStatus = status;
    ++s_exitCalls;
}

struct Pages
{
    HomePage* home;
    TakePhoto* capture;
    ReTakePhoto* reTake;
    DisplayPhoto* progress;
    ViewPhoto* viewer;
};

Pages pagesOf(AmbrelClient& window)
{
    return {window.findChild<HomePage*>(), window.findChild<TakePhoto*>(), window.findChild<ReTakePhoto*>(),
            window.findChild<DisplayPhoto*>(), window.findChild<ViewPhoto*>()};
}

// Which of home, capture, re-take and progress is visible, as one letter each (h, c, r, p), plus v for the viewer.
QString visiblePages(AmbrelClient& window)
{
    const Pages pages = pagesOf(window);
    QString visible;
    if (pages.home->isVisible())
        visible += 'h';
    if (pages.capture->isVisible())
        visible += 'c';
    if (pages.reTake->isVisible())
        visible += 'r';
    if (pages.progress->isVisible())
        visible += 'p';
    if (pages.viewer->isVisible())
        visible += 'v';
    return visible;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void construction();
    void foldersForEmptyArgument();
    void hostileTaskIdTouchesNothingOutside_data();
    void hostileTaskIdTouchesNothingOutside();
    void pageSwitching_data();
    void pageSwitching();
    void viewerCoversTheWindow();
    void closeHidesAndKeepsRunning();
    void quitOnLastWindowClosed();
    void closeInterfaceWithNothingPendingEnds();
    void tipsOverlayPlacement();
    void executableLogsRedactedArgument();
    void workingDataPrivateToOwner();
    void firstPageFollowsPaperStatus_data();
    void firstPageFollowsPaperStatus();
    void qtDialogsSpeakChinese();
};

void TestMainWindow::initTestCase()
{
    // No service here: every call fails at once.
    qputenv("AMBREL_API_HOST", "http://127.0.0.1:9");
    qputenv("AMBREL_UPLOAD_HOST", "http://127.0.0.1:9/upload");
    Settings::reload();
    AmbrelClient::setExitFunction(recordExit);
    Housekeeping::setDefaultPlatform(&s_processes);
    TrayProgramManager::setAvailabilityForTests(TrayProgramManager::Availability::Available);
}

void TestMainWindow::init()
{
    QApplication::setQuitOnLastWindowClosed(true);
    s_exitStatus = -1;
    s_exitCalls = 0;
}

void TestMainWindow::construction()
{
    ScopedWorkingDirectory work;
    AmbrelClient window("x//T1_tok_u9_Title/");
    QCOMPARE(window.objectName(), QStringLiteral("AmbrelClientClass"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Title"));
    QCOMPARE(window.size(), QSize(860, 543));
    QCOMPARE(window.minimumSize(), QSize(860, 543));
    QCOMPARE(window.maximumSize(), QSize(860000, 33300));
    QCOMPARE(int(window.windowFlags()), 0xE801);
    QVERIFY(window.centralWidget());
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralWidget"));
    // The window makes the task folder one level at a time before "save/" exists, so only a second start would make
    // it; the upload worker's task database, which lives there, makes it on the first start all the same.
    QVERIFY(QFileInfo(work.filePath("save")).isDir());
    QVERIFY(QFileInfo(work.filePath("image")).isDir());
    QTRY_VERIFY(QFileInfo(work.filePath("save/T1/task.sqlite")).isFile());
    QVERIFY(QMetaType::type("QList<std::pair<QString,QString>>") != QMetaType::UnknownType);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(visiblePages(window), QStringLiteral("h"));
    QCOMPARE(pagesOf(window).home->styleSheet(), QStringLiteral("#HomePage{background:rgba(255,255,255,1)}"));
}

void TestMainWindow::foldersForEmptyArgument()
{
    ScopedWorkingDirectory work;
    AmbrelClient window(QByteArray{});
    QCOMPARE(window.windowTitle(), QString());
    QVERIFY(QFileInfo(work.filePath("save")).isDir());
    QVERIFY(QFileInfo(work.filePath("image")).isDir());
    // Nothing but the two parent folders and, with an empty task id, nothing below save/.
    QCOMPARE(QDir(work.filePath("save")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestMainWindow::hostileTaskIdTouchesNothingOutside_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::newRow("task id climbing to a sibling folder") << QByteArray("ambrel://../../victim_tok_u9_T/");
    QTest::newRow("the same, percent-encoded") << QByteArray("ambrel:%2F%2F..%2F..%2Fvictim_tok_u9_T/");
    QTest::newRow("task id naming the working folder") << QByteArray("ambrel://.._tok_u9_T/");
    QTest::newRow("uid climbing out") << QByteArray("ambrel://T1_tok_../../victim_T/");
}

// The argument is a task, never a path: a folder beside the working folder keeps its images and gains nothing.
void TestMainWindow::hostileTaskIdTouchesNothingOutside()
{
    QFETCH(QByteArray, argument);
    ScopedWorkingDirectory outer;
    QVERIFY(QDir().mkpath(outer.filePath("work")));
    QVERIFY(TestUtils::writeFile(outer.filePath("victim/secret.png"), "not the teacher's to send"));
    QVERIFY(QDir::setCurrent(outer.filePath("work")));

    AmbrelClient window(argument);
    QCOMPARE(window.windowTitle(), QString());
    QCOMPARE(QDir(outer.filePath("victim")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"secret.png"});
    QCOMPARE(QDir(outer.filePath("work/image")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(QDir(outer.filePath("work/save")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(!QFileInfo::exists(outer.filePath("work/preview")));
}

void TestMainWindow::pageSwitching_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("visible");

    QTest::newRow("capture from home") << QByteArray() << QByteArray("toTakePhotoUi") << "c";
    QTest::newRow("progress from home") << QByteArray() << QByteArray("toDisplayPhotoUi") << "p";
    QTest::newRow("progress from re-take")
        << QByteArray("toReMakeupPhotoUi") << QByteArray("reTakePhotoToDisplayPhotoUi") << "p";
    QTest::newRow("re-take from progress") << QByteArray("toDisplayPhotoUi") << QByteArray("toReMakeupPhotoUi") << "r";
    QTest::newRow("home from capture") << QByteArray("toTakePhotoUi") << QByteArray("toHomePageUi") << "h";
    QTest::newRow("viewer over progress") << QByteArray("toDisplayPhotoUi") << QByteArray("toViewPhotoUi") << "pv";
    QTest::newRow("viewer closed") << QByteArray("toViewPhotoUi") << QByteArray("closeViewPhoto") << "h";
    QTest::newRow("switching hides the viewer") << QByteArray("toViewPhotoUi") << QByteArray("toTakePhotoUi") << "c";
}

void TestMainWindow::pageSwitching()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, slot);
    ScopedWorkingDirectory work;
    AmbrelClient window("x//T1_tok_u9_Title/");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (!before.isEmpty())
        QVERIFY(QMetaObject::invokeMethod(&window, before.constData()));
    QVERIFY(QMetaObject::invokeMethod(&window, slot.constData()));
    QTEST(visiblePages(window), "visible");
}

void TestMainWindow::viewerCoversTheWindow()
{
    ScopedWorkingDirectory work;
    AmbrelClient window("x//T1_tok_u9_Title/");
    window.resize(1000, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.toViewPhotoUi(QStringLiteral("s1"));
    const ViewPhoto* viewer = pagesOf(window).viewer;
    QVERIFY(viewer->isVisible());
    QCOMPARE(viewer->minimumSize(), QSize(1000, 700));
    QCOMPARE(viewer->maximumSize(), QSize(1000, 700));
}

void TestMainWindow::closeHidesAndKeepsRunning()
{
    ScopedWorkingDirectory work;
    AmbrelClient window("x//T1_tok_u9_Title/");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.close());
    QVERIFY(window.isHidden());
    QCOMPARE(s_exitCalls, 0);
    window.maxInterface();
    QVERIFY(window.isVisible());
    QCOMPARE(window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen),
             Qt::WindowNoState);
}

void TestMainWindow::quitOnLastWindowClosed()
{
    ScopedWorkingDirectory work;
    AmbrelClient window("x//T1_tok_u9_Title/");
    QVERIFY(QApplication::quitOnLastWindowClosed());
    window.toTakePhotoUi();
    QVERIFY(QApplication::quitOnLastWindowClosed());
    window.toDisplayPhotoUi();
    QVERIFY(!QApplication::quitOnLastWindowClosed());
}

void TestMainWindow::closeInterfaceWithNothingPendingEnds()
{
    ScopedWorkingDirectory work;
    AmbrelClient window("x//T1_tok_u9_Title/");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.closeInterface();
    QCOMPARE(s_exitCalls, 1);
    QCOMPARE(s_exitStatus, 0);
    QVERIFY(QApplication::quitOnLastWindowClosed());
}

void TestMainWindow::tipsOverlayPlacement()
{
    ScopedWorkingDirectory work;
    AmbrelClient window("x//T1_tok_u9_Title/");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.toShowTips();
    QWidget* tips = nullptr;
    for (QWidget* child : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (QByteArray(child->metaObject()->className()) == "Tips")
            tips = child;
    QVERIFY(tips);
    QVERIFY(tips->isVisible());
    // The overlay keeps its own minimum height, so on the smallest window it reaches below the bottom edge.
    QCOMPARE(tips->geometry(), QRect(0, 20, window.width(), qMax(window.height() - 20, tips->minimumHeight())));
    window.toHideTips();
    QVERIFY(tips->isHidden());
}

namespace {

// Starts the real client in work with this log file and the launch argument, inside a process namespace of its own:
// the client ends another running copy of itself at start, and there it sees none, so a client someone runs from
// this same build is never ended by the test. False when no namespace can be made here.
bool startIsolatedClient(QProcess& client, const QString& work, const QString& log, const QString& argument)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("AMBREL_LOG_FILE", log);
    env.insert("AMBREL_API_HOST", "http://127.0.0.1:9");
    env.insert("AMBREL_UPLOAD_HOST", "http://127.0.0.1:9/upload");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    client.setProcessEnvironment(env);
    client.setWorkingDirectory(work);
    const QStringList isolation = TestUtils::isolationArguments();
    if (isolation.isEmpty())
        return false;
    client.start(QStringLiteral("unshare"),
                 isolation + QStringList{QStringLiteral(AMBREL_CLIENT_EXECUTABLE), argument});
    return true;
}

// "path mode" for each path below root, the mode in octal as the system keeps it.
QStringList modesOf(const QString& root, const QStringList& paths)
{
    QStringList modes;
    for (const QString& path : paths) {
        struct stat status;
        const QByteArray native = QFile::encodeName(root + QLatin1Char('/') + path);
        const QString mode = ::lstat(native.constData(), &status) == 0 ? QString::number(status.st_mode & 07777, 8)
                                                                       : QStringLiteral("-");
        modes << path + QLatin1Char(' ') + mode;
    }
    return modes;
}

} // namespace

void TestMainWindow::executableLogsRedactedArgument()
{
    ScopedWorkingDirectory work;
    const QString log = work.filePath("log/log.txt");
    QProcess client;
    if (!startIsolatedClient(client, work.path(), log, QStringLiteral("x//T1_secretToken_u9_Title/")))
        AMBREL_SKIP_ENVIRONMENT("no process namespace can be made here: the real client is not started");
    QVERIFY(client.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(work.filePath("image")).isDir(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(work.filePath("save")).isDir(), 20000);
    // The worker's own log entries may follow; the token is in none of them.
    const QByteArray written = TestUtils::readFile(log);
    // Each entry starts with the local time.
    QVERIFY2(written.indexOf(" x//T1_***_u9_Title/\n") == 23, written.constData());
    // Which service it talks to, and which setting said so.
    QVERIFY2(written.contains("settings: api_host=http://127.0.0.1:9 (environment AMBREL_API_HOST); "
                              "upload_host=http://127.0.0.1:9/upload (environment AMBREL_UPLOAD_HOST)\n"),
             written.constData());
    QVERIFY(!written.contains("secretToken"));
    // Both hosts are plain here: said once, at start.
    QCOMPARE(written.count("tls: not encrypted, plain http to http://127.0.0.1:9\n"), 1);
    QCOMPARE(client.state(), QProcess::Running);
    client.kill();
    client.waitForFinished();
}

// Photos, downloaded sheets, the task database and the log are readable by their owner alone, also where an
// earlier run left them readable by everybody.
void TestMainWindow::workingDataPrivateToOwner()
{
    ScopedWorkingDirectory work;
    QVERIFY(TestUtils::writeFile(work.filePath("image/T1/left.jpg"), "sheet of an earlier run"));
    QVERIFY(TestUtils::writeFile(work.filePath("save/T1/s1/page.jpg"), "downloaded by an earlier run"));
    for (const char* folder : {"image", "image/T1", "save", "save/T1", "save/T1/s1"})
        QVERIFY(::chmod(QFile::encodeName(work.filePath(folder)).constData(), 0755) == 0);
    for (const char* file : {"image/T1/left.jpg", "save/T1/s1/page.jpg"})
        QVERIFY(::chmod(QFile::encodeName(work.filePath(file)).constData(), 0644) == 0);
    // A folder kept read-only by its owner stays read-only.
    QVERIFY(QDir().mkpath(work.filePath("save/T1/kept")));
    QVERIFY(::chmod(QFile::encodeName(work.filePath("save/T1/kept")).constData(), 0555) == 0);

    QProcess client;
    if (!startIsolatedClient(client, work.path(), work.filePath("log/log.txt"), QStringLiteral("x//T2_tok_u9_Title/")))
        AMBREL_SKIP_ENVIRONMENT("no process namespace can be made here: the real client is not started");
    QVERIFY(client.waitForStarted());

    // The task database of T2 is made by the upload worker, the log's folder by the first log entry.
    const QStringList expected{"image 700",
                               "image/T1 700",
                               "image/T1/left.jpg 600",
                               "save 700",
                               "save/T1 700",
                               "save/T1/s1 700",
                               "save/T1/s1/page.jpg 600",
                               "save/T1/kept 500",
                               "save/T2 700",
                               "save/T2/task.sqlite 600",
                               "log 700",
                               "log/log.txt 600"};
    QStringList paths;
    for (const QString& entry : expected)
        paths << entry.section(QLatin1Char(' '), 0, 0);
    QTRY_COMPARE_WITH_TIMEOUT(modesOf(work.path(), paths), expected, 20000);
    QCOMPARE(client.state(), QProcess::Running);
    client.kill();
    client.waitForFinished();
}

void TestMainWindow::firstPageFollowsPaperStatus_data()
{
    QTest::addColumn<int>("uploaded");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QString>("visible");
    QTest::newRow("uploads, some analysed") << 5 << 2 << "p";
    QTest::newRow("uploads, all failed") << 5 << 5 << "h";
    QTest::newRow("nothing uploaded") << 0 << 0 << "h";
}

void TestMainWindow::firstPageFollowsPaperStatus()
{
    QFETCH(int, uploaded);
    QFETCH(int, failed);
    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    emulator->setCannedData(ServiceEmulator::Endpoint::PaperStatus,
                            QJsonObject{{"uploadedImageCount", uploaded}, {"analyseFailImageCount", failed}});
    // Everything proofread: the wait dialog has nothing to wait for.
    emulator->setCannedData(ServiceEmulator::Endpoint::ZeroProofread,
                            QJsonObject{{"proofreadImageCount", uploaded}, {"totalImageCount", uploaded}});
    AmbrelClient window("x//T1_tok_u9_Title/");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(emulator->requestCount(ServiceEmulator::Endpoint::PaperStatus) >= 1);
    QFETCH(QString, visible);
    QTRY_COMPARE(visiblePages(window), visible);
}

void TestMainWindow::qtDialogsSpeakChinese()
{
    QVERIFY(StartUp::installQtTranslations(qApp));

    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"))->text(), QStringLiteral("查找范围："));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("fileNameLabel"))->text(), QStringLiteral("文件名称(&N)："));
}

AMBREL_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
