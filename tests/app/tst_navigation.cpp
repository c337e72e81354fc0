#include <atomic>

#include <QAction>
#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include "EmulatorFixture.h"
#include "FakeProcessPlatform.h"
#include "TestUtils.h"
#include "app/AmbrelClient.h"
#include "app/HandOver.h"
#include "app/Housekeeping.h"
#include "app/QueueModel.h"
#include "app/QueueWindow.h"
#include "app/ShutDownDialog.h"
#include "app/TrayProgramManager.h"
#include "capture/CaptureSession.h"
#include "capture/TakePhoto.h"
#include "core/Settings.h"
#include "core/TaskFolders.h"
#include "pages/DisplayPhoto.h"
#include "pages/HomePage.h"
#include "pages/PhotoTableWidgetItem.h"
#include "pages/ReTakePhoto.h"
#include "service/HttpCommunicationThread.h"
#include "upload/CloudUploader.h"
#include "upload/QueueStatus.h"
#include "upload/UploadLedger.h"
#include "upload/WaitingQueuePublisher.h"
#include "viewer/ViewPhoto.h"
#include "widgets/FileDialog.h"
#include "widgets/MessageBox.h"

using Endpoint = ServiceEmulator::Endpoint;

namespace {

FakeProcessPlatform s_processes;
int s_exitCalls = 0;

void recordExit(int)
{
    ++s_exitCalls;
}

QJsonObject paperStatus()
{
    QJsonArray answers;
    for (int s = 0; s < 3; ++s) {
        QJsonArray images;
        for (int p = 0; p <= s; ++p)
            images.append(QJsonObject{{"url", QString()}, {"beginPage", 2 * s + p + 1}, {"endPage", 2 * s + p + 1}});
        answers.append(QJsonObject{{"studentId", QString::number(s)},
                                   {"studentName", QStringLiteral("学生%1").arg(s)},
                                   {"scoreDesc", QStringLiteral("9%1分").arg(s)},
                                   {"images", images}});
    }
    return QJsonObject{
        {"analyseSuccessStudentCount", 3}, {"unAnalyseSuccessStudentCount", 2}, {"studentAnswers", answers}};
}

QJsonObject replenish()
{
    QJsonArray list;
    for (const QString& name : {QStringLiteral("甲"), QStringLiteral("乙")})
        list.append(QJsonObject{
            {"realName", name},
            {"images", QJsonArray{QJsonObject{{"page", "1"}, {"failReason", "模糊"}, {"proposals", "重拍"}}}}});
    return QJsonObject{{"students", list}};
}

void setProofread(EmulatorFixture& emulator, int proofread, int total)
{
    emulator->setCannedData(Endpoint::ZeroProofread,
                            QJsonObject{{"proofreadImageCount", proofread}, {"totalImageCount", total}});
}

// The main window as the teacher sees it: its pages, which of them shows, and the buttons on them.
struct Client
{
    explicit Client(AmbrelClient& window)
        : window(window), home(window.findChild<HomePage*>()), capture(window.findChild<TakePhoto*>()),
          reTake(window.findChild<ReTakePhoto*>()), progress(window.findChild<DisplayPhoto*>()),
          viewer(window.findChild<ViewPhoto*>())
    {
    }

    // h, c, r, p for the page shown, v when the viewer lies over it.
    QString shown() const
    {
        QString pages;
        for (auto [page, letter] :
             {std::pair<QWidget*, char>{home, 'h'}, {capture, 'c'}, {reTake, 'r'}, {progress, 'p'}, {viewer, 'v'}})
            if (page->isVisible())
                pages += QLatin1Char(letter);
        return pages;
    }

    void click(QWidget* page, const char* button) const
    {
        auto* target = page->findChild<QPushButton*>(QLatin1String(button));
        QVERIFY2(target && target->isVisible(), button);
        QTest::mouseClick(target, Qt::LeftButton);
    }

    int tiles() const { return progress->findChild<QListWidget*>(QStringLiteral("listWidget"))->count(); }
    int rows() const { return reTake->findChild<QListWidget*>(QStringLiteral("listWidget"))->count(); }
    bool loading() const { return progress->findChild<QLabel*>(QStringLiteral("label"))->isVisible(); }

    AmbrelClient& window;
    HomePage* home;
    TakePhoto* capture;
    ReTakePhoto* reTake;
    DisplayPhoto* progress;
    ViewPhoto* viewer;
};

QString cell(const QueueWindow& queue, int row, int column)
{
    return queue.model()->index(row, column).data().toString();
}

// Clicks the queue window's cell as the teacher does, in the middle of where the view shows it.
void clickCell(const QueueWindow& queue, int row, int column)
{
    QTableView* view = queue.table();
    const QRect rect = view->visualRect(queue.model()->index(row, column));
    QVERIFY(rect.isValid() && view->viewport()->rect().contains(rect.center()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

// Runs action once, as soon as the dialog is on the screen (it runs modally, so the test waits inside it).
void whenShown(QDialog* dialog, std::function<void()> action)
{
    auto* poll = new QTimer(dialog);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, dialog, [poll, dialog, action] {
        if (!dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start();
}

} // namespace

// The real main window against the emulator, driven through its buttons from page to page.
class TestNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startUpShowsTheWindowBeforeWaiting_data();
    void startUpShowsTheWindowBeforeWaiting();
    void everyPageSwitch();
    void closingWithoutANotificationArea();
    void queueStatusOpensTheQueueWindowAndRetries();
    void refusedSheetOpensNoDialogAndIsSetAside();
    void waitingCopyListsTheFolderAsItDrains();
};

void TestNavigation::initTestCase()
{
    AmbrelClient::setExitFunction(recordExit);
    Housekeeping::setDefaultPlatform(&s_processes);
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestNavigation::init()
{
    s_exitCalls = 0;
    CaptureSession::process().reset();
    FileDialog::setChooser([](const FileDialog::Request&) { return QStringList(); });
    TrayProgramManager::setAvailabilityForTests(TrayProgramManager::Availability::Available);
}

void TestNavigation::cleanup()
{
    FileDialog::setChooser({});
    MessageBox::setAnswerer({});
    TrayProgramManager::setAvailabilityForTests(TrayProgramManager::Availability::System);
}

void TestNavigation::startUpShowsTheWindowBeforeWaiting_data()
{
    QTest::addColumn<bool>("waitDialog");
    QTest::newRow("slow first refresh") << false;
    QTest::newRow("proofreading still running") << true;
}

void TestNavigation::startUpShowsTheWindowBeforeWaiting()
{
    QFETCH(bool, waitDialog);
    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    emulator->setCannedData(Endpoint::PaperStatus,
                            QJsonObject{{"uploadedImageCount", 5}, {"analyseFailImageCount", 2}});
    setProofread(emulator, waitDialog ? 2 : 5, 5);
    emulator->setCannedData(Endpoint::PaperStatusWithPage, paperStatus());
    emulator->addFault(Endpoint::PaperStatusWithPage, {ServiceEmulator::Fault::Delay, 800, -1});

    // Watches the screen while start-up waits for the service: what was visible when the dialog was open or the
    // progress page was loading.
    bool dialogOverWindow = false;
    bool dialogSeen = false;
    bool loadingSeen = false;
    QTimer watcher;
    watcher.setInterval(10);
    connect(&watcher, &QTimer::timeout, this, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<ShutDownDialog*>(widget);
            if (dialog && dialog->isVisible() && !dialogSeen) {
                dialogSeen = true;
                for (QWidget* other : QApplication::topLevelWidgets())
                    if (qobject_cast<AmbrelClient*>(other) && other->isVisible())
                        dialogOverWindow = true;
                setProofread(emulator, 5, 5);
                dialog->setPollInterval(20);
            }
            if (auto* window = qobject_cast<AmbrelClient*>(widget))
                if (window->isVisible() && Client(*window).progress->isVisible() && Client(*window).loading())
                    loadingSeen = true;
        }
    });
    watcher.start();

    AmbrelClient window("x//T1_tok_u9_Title/");
    const Client client(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTRY_VERIFY_WITH_TIMEOUT(loadingSeen, 10000);
    QCOMPARE(dialogSeen, waitDialog);
    QCOMPARE(dialogOverWindow, waitDialog);
    QTRY_COMPARE_WITH_TIMEOUT(client.tiles(), 3, 10000);
    QVERIFY(!client.loading());
    QCOMPARE(client.shown(), QStringLiteral("p"));
}

void TestNavigation::everyPageSwitch()
{
    ScopedWorkingDirectory work;
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    emulator->setCannedData(Endpoint::PaperStatus,
                            QJsonObject{{"uploadedImageCount", 0}, {"analyseFailImageCount", 0}});
    setProofread(emulator, 0, 0);
    emulator->setCannedData(Endpoint::PaperStatusWithPage, paperStatus());
    emulator->setCannedData(Endpoint::ReplenishStudents, replenish());
    const QWidgetList before = QApplication::topLevelWidgets();
    AmbrelClient window("x//T1_tok_u9_Title/");
    auto* dialog = TestUtils::newTopLevel<ShutDownDialog>(before);
    auto* tray = TestUtils::newTopLevel<TrayProgramManager>(before);
    QVERIFY(dialog && tray);
    dialog->setPollInterval(20);
    const Client client(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(emulator->requestCount(Endpoint::PaperStatus), 1);
    QCOMPARE(client.shown(), QStringLiteral("h"));
    auto refreshes = [&] { return emulator->requestCount(Endpoint::PaperStatusWithPage); };
    auto reloads = [&] { return emulator->requestCount(Endpoint::ReplenishStudents); };
    // Each import asks for files only when the window handed it the task's folders; a page without them warns
    // instead (answered here, so that the count fails rather than the box waits).
    int filesAsked = 0;
    FileDialog::setChooser([&](const FileDialog::Request&) {
        ++filesAsked;
        return QStringList();
    });
    MessageBox::setAnswerer([](const MessageBox::Shown&) { return QMessageBox::Ok; });

    // Home: start photographing, then back home through the wait dialog's "继续拍照".
    client.click(client.home, "pushButton");
    QCOMPARE(client.shown(), QStringLiteral("c"));
    QVERIFY(CaptureSession::process().isOpen());
    // Home: import files (none chosen) leads to the progress page, which fetches.
    QVERIFY(QMetaObject::invokeMethod(&window, "toHomePageUi"));
    client.click(client.home, "pushButton_2");
    QCOMPARE(filesAsked, 1);
    QCOMPARE(client.shown(), QStringLiteral("p"));
    QCOMPARE(refreshes(), 1);
    QCOMPARE(client.tiles(), 3);

    // Progress header: take photos.
    QVERIFY(QMetaObject::invokeMethod(client.capture, "stopPNG"));
    QVERIFY(!CaptureSession::process().isOpen());
    client.click(client.progress, "takePhoto");
    QCOMPARE(client.shown(), QStringLiteral("c"));
    QVERIFY(CaptureSession::process().isOpen());

    // Capture: finish, while the service still proofreads: the wait dialog comes first, then the refresh.
    setProofread(emulator, 2, 5);
    bool dialogShown = false;
    whenShown(dialog, [&] {
        dialogShown = window.isVisible();
        setProofread(emulator, 5, 5);
    });
    client.click(client.capture, "finishButton");
    QVERIFY(dialogShown);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(client.shown(), QStringLiteral("p"));
    QCOMPARE(refreshes(), 2);

    // Footer: process now opens the re-take page, which fetches its list.
    client.click(client.progress, "pushButton");
    QCOMPARE(client.shown(), QStringLiteral("r"));
    QCOMPARE(reloads(), 1);
    QCOMPARE(client.rows(), 2);

    // Re-take header: back to the progress page, refreshed, without asking the wait dialog.
    const int polls = emulator->requestCount(Endpoint::ZeroProofread);
    client.click(client.reTake, "back");
    QCOMPARE(client.shown(), QStringLiteral("p"));
    QCOMPARE(refreshes(), 3);
    QCOMPARE(emulator->requestCount(Endpoint::ZeroProofread), polls);

    // Re-take footer: take photos again, and import files.
    client.click(client.progress, "pushButton");
    QCOMPARE(reloads(), 2);
    QVERIFY(QMetaObject::invokeMethod(client.capture, "stopPNG"));
    client.click(client.reTake, "takePhoto");
    QCOMPARE(client.shown(), QStringLiteral("c"));
    QVERIFY(CaptureSession::process().isOpen());
    client.click(client.capture, "finishButton");
    QCOMPARE(refreshes(), 4);
    client.click(client.progress, "pushButton");
    QCOMPARE(reloads(), 3);
    client.click(client.reTake, "pushButton_2");
    QCOMPARE(filesAsked, 2);
    QCOMPARE(client.shown(), QStringLiteral("p"));
    QCOMPARE(refreshes(), 5);

    // Progress header: import files refreshes the page.
    client.click(client.progress, "pushButton_2");
    QCOMPARE(filesAsked, 3);
    QCOMPARE(client.shown(), QStringLiteral("p"));
    QCOMPARE(refreshes(), 6);

    // A tile opens the viewer on that student's pages; its close button returns to the page.
    auto tiles = client.progress->findChildren<PhotoTableWidgetItem*>();
    QCOMPARE(tiles.size(), 3);
    QTest::mousePress(tiles.at(2), Qt::LeftButton);
    QCOMPARE(client.shown(), QStringLiteral("pv"));
    QCOMPARE(client.viewer->size(), window.size());
    QCOMPARE(client.viewer->findChild<QLabel*>(QStringLiteral("label_2"))->text(), QStringLiteral("5-5"));
    client.click(client.viewer, "guanbi");
    QCOMPARE(client.shown(), QStringLiteral("p"));

    // Close: to the tray, and back from it where it was left.
    window.move(window.pos() + QPoint(37, 23));
    const QPoint left = window.pos();
    client.click(&window, "closeButton");
    QVERIFY(window.isHidden());
    emit tray->trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(window.isVisible());
    QTRY_COMPARE(window.pos(), left);

    // The wait dialog's "继续拍照" brings the home page up.
    setProofread(emulator, 2, 5);
    whenShown(dialog, [&] { client.click(dialog, "waitButton"); });
    QVERIFY(QMetaObject::invokeMethod(&window, "toDisplayPhotoUi"));
    QCOMPARE(client.shown(), QStringLiteral("h"));

    // The tray's "退出" while proofreading: the wait dialog's "关闭窗口" ends the program.
    whenShown(dialog, [&] { client.click(dialog, "continueButton"); });
    tray->trayIcon()->contextMenu()->actions().first()->trigger();
    QCOMPARE(s_exitCalls, 1);
}

void TestNavigation::closingWithoutANotificationArea()
{
    TrayProgramManager::setAvailabilityForTests(TrayProgramManager::Availability::Unavailable);
    ScopedWorkingDirectory work;
    // Neither the service nor the store answers.
    qputenv("AMBREL_API_HOST", "http://127.0.0.1:9");
    qputenv("AMBREL_UPLOAD_HOST", "http://127.0.0.1:9/upload");
    Settings::reload();
    const QWidgetList before = QApplication::topLevelWidgets();
    AmbrelClient window("x//T1_tok_u9_Title/");
    auto* dialog = TestUtils::newTopLevel<ShutDownDialog>(before);
    QVERIFY(dialog);
    dialog->setPollInterval(20);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString folder = work.filePath(QStringLiteral("image/T1"));
    for (const QString& name : {QStringLiteral("a.jpg"), QStringLiteral("b.jpg")})
        QVERIFY(TestUtils::writeFile(folder + QLatin1Char('/') + name, TestUtils::encodedTestImage(64, 48, "JPG")));

    // Once the dialog offers to quit, what it says, where it is, and the window still there; then quit.
    QString subtitle;
    QRect dialogFrame;
    QRect windowFrame;
    bool windowShown = false;
    QTimer offer;
    offer.setInterval(10);
    connect(&offer, &QTimer::timeout, dialog, [&] {
        auto* quit = dialog->findChild<QPushButton*>(QStringLiteral("continueButton"));
        if (!dialog->isVisible() || quit->text() != QStringLiteral("关闭窗口"))
            return;
        offer.stop();
        subtitle = dialog->findChild<QLabel*>(QStringLiteral("subtitleLabel"))->text();
        dialogFrame = dialog->frameGeometry();
        windowFrame = window.frameGeometry();
        windowShown = window.isVisible() && !window.isMinimized();
        QTest::mouseClick(quit, Qt::LeftButton);
    });
    offer.start();
    // Safety net: a dialog that never offers to quit would otherwise hang the test.
    QTimer::singleShot(30000, dialog, &QDialog::reject);

    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("closeButton")), Qt::LeftButton);

    QTRY_COMPARE_WITH_TIMEOUT(s_exitCalls, 1, 35000);
    QCOMPARE(subtitle, QStringLiteral("照片已保存在本机，下次打开时自动上传"));
    QVERIFY(windowShown);
    // Centred on the window, to the pixel that halving an odd size leaves.
    QVERIFY2(qAbs(dialogFrame.center().x() - windowFrame.center().x()) <= 1 &&
                 qAbs(dialogFrame.center().y() - windowFrame.center().y()) <= 1,
             qPrintable(QStringLiteral("dialog %1,%2 %3x%4 over window %5,%6 %7x%8")
                            .arg(dialogFrame.x())
                            .arg(dialogFrame.y())
                            .arg(dialogFrame.width())
                            .arg(dialogFrame.height())
                            .arg(windowFrame.x())
                            .arg(windowFrame.y())
                            .arg(windowFrame.width())
                            .arg(windowFrame.height())));
    // Kept for the next start.
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
    qunsetenv("AMBREL_API_HOST");
    qunsetenv("AMBREL_UPLOAD_HOST");
    Settings::reload();
}

void TestNavigation::queueStatusOpensTheQueueWindowAndRetries()
{
    ScopedWorkingDirectory work;
    // The worker keeps the store it was started with for the whole run: the store listens there again.
    ServiceEmulator::Options options;
    options.port = quint16(CloudUploader::globalUploadUrl().port(0));
    EmulatorFixture emulator(options);
    QVERIFY(emulator.isRunning());
    emulator->addFault(Endpoint::Upload, ServiceEmulator::Fault{ServiceEmulator::Fault::UploadStatus, 403, 1});
    const QWidgetList before = QApplication::topLevelWidgets();
    const QString sheet = QDir::currentPath() + QStringLiteral("/image/T1/sheet.jpg");
    QVERIFY(TestUtils::writeFile(sheet, TestUtils::patternJpeg(2000)));
    AmbrelClient window("x//T1_tok_u9_Title/");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The store refuses the sheet until the teacher steps in: the title bar says so, in the warning colour.
    auto* status = window.findChild<QPushButton*>(QStringLiteral("queueStatusButton"));
    QVERIFY(status);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("1 张照片无法上传"), 30000);
    QVERIFY(status->isVisible());
    QVERIFY(status->styleSheet().contains(QStringLiteral("rgba(255,82,82,1)")));
    auto* tray = TestUtils::newTopLevel<TrayProgramManager>(before);
    QVERIFY(tray);
    QCOMPARE(tray->trayIcon()->toolTip(), QStringLiteral("岚栖\n1 张照片无法上传"));
    QCOMPARE(emulator->storedKeys().size(), 0);

    QTest::mouseClick(status, Qt::LeftButton);
    auto* queue = window.findChild<QueueWindow*>();
    QVERIFY(queue && queue->isVisible());
    QueueModel* rows = queue->model();
    QCOMPARE(rows->rowCount(), 1);
    QCOMPARE(cell(*queue, 0, QueueModel::TaskColumn), QStringLiteral("Title"));
    QCOMPARE(cell(*queue, 0, QueueModel::NameColumn), QStringLiteral("sheet.jpg"));
    QCOMPARE(cell(*queue, 0, QueueModel::StateColumn), QStringLiteral("无法上传"));
    QCOMPARE(cell(*queue, 0, QueueModel::ReasonColumn), QStringLiteral("存储服务拒收（HTTP 403）"));

    // "重试": the sheet goes again, is stored once, and the status clears.
    QCOMPARE(cell(*queue, 0, QueueModel::RetryColumn), QStringLiteral("重试"));
    clickCell(*queue, 0, QueueModel::RetryColumn);
    QTRY_COMPARE_WITH_TIMEOUT(emulator->storedKeys().size(), 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(sheet), 30000);
    QTRY_VERIFY(status->isHidden());
    QTRY_COMPARE(rows->rowCount(), 0);
    QCOMPARE(tray->trayIcon()->toolTip(), QStringLiteral("岚栖"));
}

// A sheet refused in an earlier run is one the teacher decides about once: the status names it, neither the start nor
// a visit to the progress page opens the wait dialog for it, and "不再上传" moves it (never deletes it) into the
// task's "未上传" folder, out of every count.
void TestNavigation::refusedSheetOpensNoDialogAndIsSetAside()
{
    ScopedWorkingDirectory work;
    ServiceEmulator::Options options;
    options.port = quint16(CloudUploader::globalUploadUrl().port(0));
    EmulatorFixture emulator(options);
    QVERIFY(emulator.isRunning());
    setProofread(emulator, 5, 5);
    const TaskFolders folders = TaskFolders::inWorkingFolder(QStringLiteral("T1"));
    QVERIFY(folders.ensure());
    const QString bad = folders.imageFolder() + QStringLiteral("bad.jpg");
    const QByteArray text("not an image at all");
    QVERIFY(TestUtils::writeFile(bad, text));
    {
        UploadLedger ledger;
        QVERIFY(ledger.openForTask(folders));
        const QFileInfo info(bad);
        QVERIFY(ledger.markRefused({info.fileName(), info.size(), info.lastModified().toMSecsSinceEpoch()},
                                   QStringLiteral("不是图片文件")));
    }

    // Any wait dialog that shows up is noted and closed, so that the test never sits in its event loop.
    int dialogs = 0;
    QTimer watcher;
    watcher.setInterval(5);
    connect(&watcher, &QTimer::timeout, this, [&dialogs] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<ShutDownDialog*>(widget); dialog && dialog->isVisible()) {
                ++dialogs;
                dialog->reject();
            }
        }
    });
    watcher.start();

    AmbrelClient window("x//T1_tok_u9_Title/");
    const Client client(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* status = window.findChild<QPushButton*>(QStringLiteral("queueStatusButton"));
    QVERIFY(status);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("1 张照片无法上传"), 30000);
    // The progress page, where a sheet still waiting would open the dialog.
    window.toDisplayPhotoUi();
    QCOMPARE(client.shown(), QStringLiteral("p"));
    QTest::qWait(50);
    QCOMPARE(dialogs, 0);

    QTest::mouseClick(status, Qt::LeftButton);
    auto* queue = window.findChild<QueueWindow*>();
    QVERIFY(queue && queue->isVisible());
    QueueModel* rows = queue->model();
    QTRY_COMPARE(rows->rowCount(), 1);
    QCOMPARE(cell(*queue, 0, QueueModel::NameColumn), QStringLiteral("bad.jpg"));
    QCOMPARE(cell(*queue, 0, QueueModel::SetAsideColumn), QStringLiteral("不再上传"));
    clickCell(*queue, 0, QueueModel::SetAsideColumn);

    const QString moved = folders.setAsideFolder() + QStringLiteral("bad.jpg");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(moved), 30000);
    QVERIFY(!QFile::exists(bad));
    QCOMPARE(TestUtils::readFile(moved), text);
    QTRY_VERIFY(status->isHidden());
    QTRY_COMPARE(rows->rowCount(), 0);
    QCOMPARE(dialogs, 0);
    queue->accept();
}

// A copy started while another one holds the working folder does not upload, but its queue window lists the folder's
// sheets as the other copy drains it: a sheet dropped in, one the other copy sent, one stored and not yet announced.
// Once the other copy lets go, this copy's worker takes over, and the waiting copy's looks publish nothing more.
void TestNavigation::waitingCopyListsTheFolderAsItDrains()
{
    ScopedWorkingDirectory work;
    ServiceEmulator::Options options;
    options.port = quint16(CloudUploader::globalUploadUrl().port(0));
    EmulatorFixture emulator(options);
    QVERIFY(emulator.isRunning());
    // This process's worker, left running by an earlier window, is stopped as a waiting copy's is; made now, when
    // this test runs alone, it sends to the emulator's store.
    HttpCommunicationThread::getInstance()->requestInterruption();
    QVERIFY(HttpCommunicationThread::getInstance()->wait(30000));
    setProofread(emulator, 5, 5);
    // Held by a copy on another machine, refreshed moments ago.
    const QString lock = QDir::current().filePath(QLatin1String(HandOver::LockFileName));
    QVERIFY(TestUtils::writeFile(lock, "99999\nAmbrelClient\npc-lab1\n"));
    const TaskFolders folders = TaskFolders::inWorkingFolder(QStringLiteral("T1"));
    QVERIFY(folders.ensure());
    const auto sheet = [&folders](const char* name) -> QString { return folders.imageFolder() + QLatin1String(name); };
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "e.jpg"})
        QVERIFY(TestUtils::writeFile(sheet(name), TestUtils::patternJpeg(2000, quint32(qHash(QByteArray(name))))));
    {
        // The other copy stored c.jpg and waits for the service to take it; the service refused e.jpg.
        UploadLedger ledger;
        QVERIFY(ledger.openForTask(folders));
        const auto identity = [&sheet](const char* name) {
            const QFileInfo info(sheet(name));
            return UploadLedger::Identity{info.fileName(), info.size(), info.lastModified().toMSecsSinceEpoch()};
        };
        QVERIFY(ledger.recordSending(identity("c.jpg"), QStringLiteral("paper/origin/u9/T1/1.jpg"), 1));
        QVERIFY(ledger.markStored(identity("c.jpg")));
        QVERIFY(ledger.markRefused(identity("e.jpg"), QStringLiteral("不是答题卡")));
    }
    AmbrelClient window("x//T1_tok_u9_Title/");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* status = window.findChild<QPushButton*>(QStringLiteral("queueStatusButton"));
    QVERIFY(status && status->isVisible());
    QTest::mouseClick(status, Qt::LeftButton);
    auto* queue = window.findChild<QueueWindow*>();
    QVERIFY(queue && queue->isVisible());
    const auto rows = [queue] {
        QStringList named;
        for (int row = 0; row < queue->model()->rowCount(); ++row)
            named << cell(*queue, row, QueueModel::NameColumn) + QLatin1Char(' ') +
                         cell(*queue, row, QueueModel::StateColumn);
        named.sort();
        return named;
    };
    QTRY_COMPARE(rows(),
                 (QStringList{"a.jpg 等待上传", "b.jpg 等待上传", "c.jpg 已上传，等待服务确认", "e.jpg 无法上传"}));
    QCOMPARE(cell(*queue, 0, QueueModel::TaskColumn), QStringLiteral("Title"));
    // The refused sheet's "重试" belongs to the copy that sends: here it is no action and says where to take it, and
    // a click asks nothing of a worker that does not run.
    int refusedRow = -1;
    for (int row = 0; row < queue->model()->rowCount(); ++row) {
        if (cell(*queue, row, QueueModel::NameColumn) == QLatin1String("e.jpg"))
            refusedRow = row;
    }
    QVERIFY(refusedRow >= 0);
    const QModelIndex retry = queue->model()->index(refusedRow, QueueModel::RetryColumn);
    QCOMPARE(retry.data().toString(), QStringLiteral("重试"));
    QVERIFY(!queue->model()->isAction(retry));
    QCOMPARE(retry.data(Qt::ToolTipRole).toString(), QStringLiteral("另一个窗口正在上传，请在那个窗口中操作"));
    clickCell(*queue, refusedRow, QueueModel::RetryColumn);
    clickCell(*queue, refusedRow, QueueModel::SetAsideColumn);
    QVERIFY(QueueStatus::instance()->takeRetryRequests(QStringLiteral("T1")).isEmpty());
    QVERIFY(QueueStatus::instance()->takeSetAsideRequests(QStringLiteral("T1")).isEmpty());
    QVERIFY(QFileInfo::exists(sheet("e.jpg")));
    // The teacher takes it away by hand: this test's own copy takes over below with three sheets to send.
    QVERIFY(QFile::remove(sheet("e.jpg")));
    QTRY_COMPARE(rows().size(), 3);

    // The teacher drops a sheet in; the other copy sends a.jpg and deletes it.
    QVERIFY(TestUtils::writeFile(sheet("d.jpg"), TestUtils::patternJpeg(2000, 4)));
    QTRY_COMPARE(rows().size(), 4);
    QVERIFY(QFile::remove(sheet("a.jpg")));
    QTRY_COMPARE(rows(), (QStringList{"b.jpg 等待上传", "c.jpg 已上传，等待服务确认", "d.jpg 等待上传"}));
    QCOMPARE(status->text(), QStringLiteral("另一个窗口正在上传"));
    QCOMPARE(emulator->storedKeys().size(), 0);
    // The waiting copy's looks have ended by the time the worker starts: the two never publish at once.
    auto* looks = window.findChild<WaitingQueuePublisher*>();
    QVERIFY(looks && looks->isRunning());
    std::atomic<int> looksAtWorkerStart{-1};
    connect(
        HttpCommunicationThread::getInstance(), &QThread::started, looks,
        [&looksAtWorkerStart, looks] { looksAtWorkerStart = looks->isRunning() ? 1 : 0; }, Qt::DirectConnection);

    // The other copy ends: this one owns the folder within a retry, and its worker empties it.
    QVERIFY(QFile::remove(lock));
    QTRY_COMPARE_WITH_TIMEOUT(emulator->requestCount(Endpoint::Analyse), 3, 30000);
    QTRY_COMPARE(rows(), QStringList());
    QTRY_VERIFY(status->isHidden());
    QCOMPARE(looksAtWorkerStart.load(), 0);
    queue->accept();
}

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
