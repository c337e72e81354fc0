#include <QJsonObject>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "app/ShutDownDialog.h"
#include "app/Tips.h"
#include "core/TaskFolders.h"
#include "service/HttpCommunicationThread.h"
#include "upload/UploadLedger.h"
#include "widgets/MyMessageBox.h"

Q_DECLARE_METATYPE(QueueState::Link)

namespace {

const QString kTaskId = QStringLiteral("T1");

QString label(const ShutDownDialog& dialog, const char* name)
{
    return dialog.findChild<QLabel*>(QLatin1String(name))->text();
}

QPushButton* button(const ShutDownDialog& dialog, const char* name)
{
    return dialog.findChild<QPushButton*>(QLatin1String(name));
}

QProgressBar* bar(const ShutDownDialog& dialog)
{
    return dialog.findChild<QProgressBar*>(QStringLiteral("progressBar"));
}

void setCounts(EmulatorFixture& emulator, int proofread, int total)
{
    emulator->setCannedData(ServiceEmulator::Endpoint::ZeroProofread,
                            QJsonObject{{"proofreadImageCount", proofread}, {"totalImageCount", total}});
}

} // namespace

class TestShutDownDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void countsOnlyImageFiles();
    void refusedImagesAreNamedAndOtherTasksCounted();
    void uploadPhaseFollowsTheFolder();
    void imagesAddedWhileWaitingKeepThePercentageInRange();
    void serviceCounts_data();
    void serviceCounts();
    void recognitionClosesItselfWhenAllAreProofread();
    void execReturnsOnceTheServiceHasProofreadEverything();
    void totalOfZeroKeepsThePreviousPercentage();
    void buttons_data();
    void buttons();
    void hiddenDialogKeepsPolling();
    void slowPollNeverOverlapsTheNext();
    void tipsOverlayPlaysOverItsParent();
    void hintBoxShowsItsText();

private:
    QString imagePath(const QString& name) const;
    void addImages(const QStringList& names);

    ScopedWorkingDirectory* m_work = nullptr;
    EmulatorFixture* m_emulator = nullptr;
    ShutDownDialog* m_dialog = nullptr;
};

void TestShutDownDialog::initTestCase()
{
    Q_INIT_RESOURCE(ambrelclient);
    HttpCommunicationThread::setTaskId(kTaskId);
    HttpCommunicationThread::setToken(QStringLiteral("tok"));
    HttpCommunicationThread::setUid(QStringLiteral("u9"));
}

void TestShutDownDialog::init()
{
    m_work = new ScopedWorkingDirectory();
    QVERIFY(QDir().mkdir(m_work->filePath(QStringLiteral("image"))));
    m_emulator = new EmulatorFixture();
    QVERIFY(m_emulator->isRunning());
    setCounts(*m_emulator, 0, 0);
    m_dialog = new ShutDownDialog();
    // Long enough never to fire by itself: the tests tick by hand.
    m_dialog->setPollInterval(3600 * 1000);
    m_dialog->setImageFolder(TaskFolders::inWorkingFolder(kTaskId));
}

void TestShutDownDialog::cleanup()
{
    delete m_dialog;
    delete m_emulator;
    delete m_work;
}

QString TestShutDownDialog::imagePath(const QString& name) const
{
    return m_work->filePath(QStringLiteral("image/") + kTaskId + QLatin1Char('/') + name);
}

void TestShutDownDialog::addImages(const QStringList& names)
{
    for (const QString& name : names)
        QVERIFY(TestUtils::writeFile(imagePath(name), QByteArrayLiteral("image bytes")));
}

void TestShutDownDialog::countsOnlyImageFiles()
{
    QVERIFY(QFileInfo(m_work->filePath(QStringLiteral("image/T1"))).isDir());
    addImages({"a.jpg", "b.PNG", "c.Bmp", "d.jpeg", "e.txt", ".f.jpg.part", "preview/g.jpg", "stuck.jpg"});
    QVERIFY(QDir().mkdir(imagePath(QStringLiteral("folder.jpg"))));
    // What the worker never sends, or has finished with, holds nobody up: an empty file, a link, and an image the
    // service took whose file could not be deleted.
    QVERIFY(TestUtils::writeFile(imagePath(QStringLiteral("empty.jpg")), QByteArray()));
    QVERIFY(QFile::link(imagePath(QStringLiteral("a.jpg")), imagePath(QStringLiteral("link.jpg"))));
    UploadLedger ledger;
    QVERIFY(ledger.openForTask(TaskFolders::inWorkingFolder(kTaskId)));
    const QFileInfo stuck(imagePath(QStringLiteral("stuck.jpg")));
    const UploadLedger::Identity image{stuck.fileName(), stuck.size(), stuck.lastModified().toMSecsSinceEpoch()};
    QVERIFY(ledger.recordSending(image, QStringLiteral("paper/origin/u9/T1/1.jpg"), 1));
    QVERIFY(ledger.markAnnounced(image));

    QVERIFY(m_dialog->checkPending());
    QCOMPARE(bar(*m_dialog)->maximum(), 4);
}

// The teacher waits for what the worker still sends, the images queued under another of the teacher's tasks
// included, but not for refused images: those are named with their reasons.
void TestShutDownDialog::refusedImagesAreNamedAndOtherTasksCounted()
{
    addImages({"a.jpg", "b.jpg"});
    const QString otherTask = m_work->filePath(QStringLiteral("image/T7/c.jpg"));
    QVERIFY(TestUtils::writeFile(otherTask, QByteArrayLiteral("image bytes")));
    QVERIFY(TestUtils::writeFile(m_work->filePath(QStringLiteral("image/T8/d.jpg")), QByteArrayLiteral("image bytes")));
    {
        UploadLedger ledger;
        QVERIFY(ledger.openForTask(TaskFolders::inWorkingFolder(kTaskId)));
        const QFileInfo refused(imagePath(QStringLiteral("a.jpg")));
        QVERIFY(ledger.markRefused({refused.fileName(), refused.size(), refused.lastModified().toMSecsSinceEpoch()},
                                   QStringLiteral("不是图片文件")));
        UploadLedger ofT7;
        QVERIFY(ofT7.openForTask(TaskFolders::inWorkingFolder(QStringLiteral("T7"))));
        QVERIFY(ofT7.setOwner(QStringLiteral("u9")));
        UploadLedger ofT8;
        QVERIFY(ofT8.openForTask(TaskFolders::inWorkingFolder(QStringLiteral("T8"))));
        QVERIFY(ofT8.setOwner(QStringLiteral("another teacher")));
    }

    QVERIFY(m_dialog->checkPending());
    QCOMPARE(bar(*m_dialog)->maximum(), 2);
    QCOMPARE(label(*m_dialog, "estimateLabel"), QStringLiteral("1张照片未能上传：a.jpg（不是图片文件）"));

    // The other task's image sent, b.jpg still waiting.
    QVERIFY(QFile::remove(otherTask));
    m_dialog->timerTimeout();
    QVERIFY(m_dialog->isUploadPhase());
    QCOMPARE(bar(*m_dialog)->value(), 1);
    QCOMPARE(label(*m_dialog, "estimateLabel"), QStringLiteral("1张照片未能上传：a.jpg（不是图片文件）"));

    // b.jpg sent too: only the refused image is left, still named, and the teacher may quit.
    QVERIFY(QFile::remove(imagePath(QStringLiteral("b.jpg"))));
    m_dialog->timerTimeout();
    QVERIFY(!m_dialog->isUploadPhase());
    QVERIFY(!m_dialog->isPolling());
    QCOMPARE(label(*m_dialog, "titleLabel"), QStringLiteral("1 张照片无法上传"));
    QCOMPARE(label(*m_dialog, "estimateLabel"), QStringLiteral("1张照片未能上传：a.jpg（不是图片文件）"));
}

void TestShutDownDialog::uploadPhaseFollowsTheFolder()
{
    addImages({"1.jpg", "2.jpg", "3.png"});

    QVERIFY(m_dialog->checkPending());
    QVERIFY(m_dialog->isUploadPhase());
    QVERIFY(m_dialog->isPolling());
    QCOMPARE(label(*m_dialog, "titleLabel"), QStringLiteral("照片正在上传中"));
    QCOMPARE(label(*m_dialog, "subtitleLabel"), QStringLiteral("照片数量越多需要的时间越长，上传过程中请不要关闭程序"));
    QCOMPARE(bar(*m_dialog)->value(), 0);
    QCOMPARE(bar(*m_dialog)->maximum(), 3);
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("0%"));
    QCOMPARE(label(*m_dialog, "estimateLabel"), QStringLiteral("  "));
    QCOMPARE(button(*m_dialog, "waitButton")->text(), QStringLiteral("等待"));
    QCOMPARE(button(*m_dialog, "continueButton")->text(), QStringLiteral("继续拍照"));
    // The service is only asked once the folder is empty.
    QCOMPARE(m_emulator->server().requestCount(ServiceEmulator::Endpoint::ZeroProofread), 0);

    QVERIFY(QFile::remove(imagePath(QStringLiteral("1.jpg"))));
    m_dialog->timerTimeout();
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("33%"));
    QCOMPARE(bar(*m_dialog)->value(), 1);

    QVERIFY(QFile::remove(imagePath(QStringLiteral("2.jpg"))));
    m_dialog->timerTimeout();
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("66%"));

    QVERIFY(QFile::remove(imagePath(QStringLiteral("3.png"))));
    m_dialog->timerTimeout();
    QVERIFY(!m_dialog->isUploadPhase());
    QVERIFY(m_dialog->isPolling());
    QCOMPARE(label(*m_dialog, "titleLabel"), QStringLiteral("正在识别需要补拍学生名单"));
    QCOMPARE(label(*m_dialog, "subtitleLabel"), QStringLiteral("正在拼命识别中，请给我一首歌的时间"));
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("0%"));
    QCOMPARE(bar(*m_dialog)->maximum(), 100);
    QCOMPARE(bar(*m_dialog)->value(), 0);
    QCOMPARE(button(*m_dialog, "waitButton")->text(), QStringLiteral("继续拍照"));
    QCOMPARE(button(*m_dialog, "continueButton")->text(), QStringLiteral("关闭窗口"));
}

void TestShutDownDialog::imagesAddedWhileWaitingKeepThePercentageInRange()
{
    addImages({"1.jpg", "2.jpg"});
    QVERIFY(m_dialog->checkPending());
    QVERIFY(QFile::remove(imagePath(QStringLiteral("1.jpg"))));
    m_dialog->timerTimeout();
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("50%"));
    QCOMPARE(bar(*m_dialog)->value(), 1);

    // Three new images: more waiting than at the start.
    addImages({"3.jpg", "4.jpg", "5.jpg"});
    m_dialog->timerTimeout();
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("0%"));
    QCOMPARE(bar(*m_dialog)->value(), 1);
    QVERIFY(m_dialog->isUploadPhase());
}

void TestShutDownDialog::serviceCounts_data()
{
    QTest::addColumn<int>("proofread");
    QTest::addColumn<int>("total");
    QTest::addColumn<bool>("serviceFails");
    QTest::addColumn<bool>("pending");

    QTest::newRow("everything proofread") << 5 << 5 << false << false;
    QTest::newRow("nothing uploaded") << 0 << 0 << false << false;
    QTest::newRow("two of five proofread") << 2 << 5 << false << true;
    QTest::newRow("service unreachable counts as done") << 2 << 5 << true << false;
}

void TestShutDownDialog::serviceCounts()
{
    QFETCH(int, proofread);
    QFETCH(int, total);
    QFETCH(bool, serviceFails);
    QFETCH(bool, pending);

    setCounts(*m_emulator, proofread, total);
    if (serviceFails)
        m_emulator->server().addFault(ServiceEmulator::Endpoint::ZeroProofread, {ServiceEmulator::Fault::NonJson});

    QCOMPARE(m_dialog->checkPending(), pending);
    QCOMPARE(m_emulator->server().requestCount(ServiceEmulator::Endpoint::ZeroProofread), 1);
    QCOMPARE(m_dialog->isPolling(), pending);
    if (pending) {
        QVERIFY(!m_dialog->isUploadPhase());
        QCOMPARE(label(*m_dialog, "titleLabel"), QStringLiteral("正在识别需要补拍学生名单"));
        QCOMPARE(label(*m_dialog, "estimateLabel"), QStringLiteral(" "));
        QCOMPARE(button(*m_dialog, "waitButton")->text(), QStringLiteral("继续拍照"));
        QCOMPARE(button(*m_dialog, "continueButton")->text(), QStringLiteral("关闭窗口"));
    } else {
        // Nothing to wait for: the texts are left as they were.
        QCOMPARE(label(*m_dialog, "titleLabel"), QStringLiteral("照片正在上传中"));
        QCOMPARE(button(*m_dialog, "continueButton")->text(), QStringLiteral("继续拍照"));
    }
}

void TestShutDownDialog::recognitionClosesItselfWhenAllAreProofread()
{
    setCounts(*m_emulator, 2, 5);
    QVERIFY(m_dialog->checkPending());
    m_dialog->show();
    QSignalSpy accepted(m_dialog, &QDialog::accepted);

    setCounts(*m_emulator, 3, 5);
    m_dialog->timerTimeout();
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("60%"));
    QCOMPARE(bar(*m_dialog)->maximum(), 5);
    QCOMPARE(bar(*m_dialog)->value(), 3);
    QCOMPARE(accepted.count(), 0);

    setCounts(*m_emulator, 5, 5);
    m_dialog->timerTimeout();
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("100%"));
    QCOMPARE(bar(*m_dialog)->maximum(), 1);
    QCOMPARE(bar(*m_dialog)->value(), 1);
    QCOMPARE(label(*m_dialog, "estimateLabel"), QStringLiteral("  "));
    QVERIFY(!m_dialog->isPolling());
    QCOMPARE(accepted.count(), 1);
    QVERIFY(m_dialog->isHidden());
}

void TestShutDownDialog::execReturnsOnceTheServiceHasProofreadEverything()
{
    setCounts(*m_emulator, 2, 5);
    QVERIFY(m_dialog->checkPending());
    m_dialog->setPollInterval(20);
    QSignalSpy shutDown(m_dialog, &ShutDownDialog::shutDownApplication);
    QSignalSpy home(m_dialog, &ShutDownDialog::toHomePageUi);
    QTimer::singleShot(100, this, [this] { setCounts(*m_emulator, 5, 5); });
    // A safety net so a fault cannot hang the test: it would show as Rejected.
    QTimer::singleShot(10000, m_dialog, &QDialog::reject);

    QCOMPARE(m_dialog->exec(), int(QDialog::Accepted));
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("100%"));
    QCOMPARE(shutDown.count(), 0);
    QCOMPARE(home.count(), 0);
}

void TestShutDownDialog::totalOfZeroKeepsThePreviousPercentage()
{
    setCounts(*m_emulator, 2, 5);
    QVERIFY(m_dialog->checkPending());
    setCounts(*m_emulator, 4, 5);
    m_dialog->timerTimeout();
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("80%"));

    setCounts(*m_emulator, 4, 0);
    m_dialog->timerTimeout();
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("80%"));
    QVERIFY(m_dialog->isPolling());
    QCOMPARE(m_dialog->result(), int(QDialog::Rejected));
}

void TestShutDownDialog::buttons_data()
{
    QTest::addColumn<bool>("uploading");
    QTest::addColumn<bool>("refusedLeft");
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("stillPolling");
    QTest::addColumn<QueueState::Link>("link"); // what the worker publishes while the sheet waits
    QTest::addColumn<bool>("otherCopyUploads"); // the main window says another copy holds the folder

    using L = QueueState::Link;
    QTest::newRow("upload: 等待 changes nothing")
        << true << false << "waitButton" << QStringList{} << true << L::Ok << false;
    QTest::newRow("upload: 继续拍照 goes home, polling goes on")
        << true << false << "continueButton" << QStringList{"home", "finished"} << true << L::Ok << false;
    QTest::newRow("recognition: 继续拍照 goes home, polling goes on")
        << false << false << "waitButton" << QStringList{"home", "finished"} << true << L::Ok << false;
    QTest::newRow("recognition: 关闭窗口 closes, then shuts down")
        << false << false << "continueButton" << QStringList{"finished", "shutdown"} << false << L::Ok << false;
    QTest::newRow("only refused left: 关闭窗口 shuts down instead of waiting")
        << true << true << "continueButton" << QStringList{"finished", "shutdown"} << false << L::Ok << false;
    QTest::newRow("only refused left: 继续拍照 goes home")
        << true << true << "waitButton" << QStringList{"home", "finished"} << false << L::Ok << false;
    QTest::newRow("service down, nothing moves: 关闭窗口 shuts down with the sheet kept")
        << true << false << "continueButton" << QStringList{"finished", "shutdown"} << false << L::ServiceUnreachable
        << false;
    QTest::newRow("another copy holds the folder: 继续拍照 goes home")
        << true << false << "waitButton" << QStringList{"home", "finished"} << true << L::OtherCopy << false;
    QTest::newRow("another window uploads: 关闭窗口 closes this one instead of waiting")
        << true << false << "continueButton" << QStringList{"finished", "shutdown"} << false << L::Ok << true;
}

void TestShutDownDialog::buttons()
{
    QFETCH(bool, uploading);
    QFETCH(bool, refusedLeft);
    QFETCH(QString, buttonName);
    QFETCH(QStringList, events);
    QFETCH(bool, stillPolling);
    QFETCH(QueueState::Link, link);
    QFETCH(bool, otherCopyUploads);

    // What the worker publishes: one sheet on its way, then (refused rows) none left but two the store refused.
    QueueState published;
    published.published = true;
    published.link = link;
    published.tasks << QueueState::Task{kTaskId, 1, 0, 0, 0};
    if (refusedLeft || link != QueueState::Link::Ok)
        m_dialog->setQueueState(published);
    else if (uploading)
        addImages({"1.jpg", "2.jpg", "3.jpg"});
    else
        setCounts(*m_emulator, 2, 5);
    m_dialog->showOtherCopyUploading(otherCopyUploads);
    QVERIFY(m_dialog->checkPending());
    if (otherCopyUploads) {
        QCOMPARE(label(*m_dialog, "titleLabel"), QStringLiteral("另一个窗口正在上传"));
        QCOMPARE(button(*m_dialog, "continueButton")->text(), QStringLiteral("关闭窗口"));
    }
    if (refusedLeft) {
        published.tasks.first() = QueueState::Task{kTaskId, 0, 0, 0, 2};
        m_dialog->setQueueState(published);
        m_dialog->timerTimeout();
        QCOMPARE(label(*m_dialog, "titleLabel"), QStringLiteral("2 张照片无法上传"));
        QVERIFY(!m_dialog->isPolling());
    }
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));

    QStringList seen;
    connect(m_dialog, &ShutDownDialog::toHomePageUi, this, [&seen] { seen << "home"; });
    connect(m_dialog, &ShutDownDialog::shutDownApplication, this, [&seen] { seen << "shutdown"; });
    connect(m_dialog, &QDialog::finished, this, [&seen](int result) {
        QCOMPARE(result, int(QDialog::Accepted));
        seen << "finished";
    });
    const QString title = label(*m_dialog, "titleLabel");
    const QString otherButton = button(*m_dialog, "waitButton")->text();
    // Nothing can move: the dialog says why, and the default button is the one that keeps the program running.
    if (link != QueueState::Link::Ok) {
        QCOMPARE(title, QueueState::linkText(link));
        QCOMPARE(otherButton, QStringLiteral("继续拍照"));
        QCOMPARE(button(*m_dialog, "continueButton")->text(), QStringLiteral("关闭窗口"));
    }
    QVERIFY(button(*m_dialog, "waitButton")->isDefault());
    QVERIFY(!button(*m_dialog, "continueButton")->isDefault());

    QTest::mouseClick(button(*m_dialog, buttonName.toLatin1().constData()), Qt::LeftButton);
    QCOMPARE(seen, events);
    QCOMPARE(m_dialog->isVisible(), events.isEmpty());
    QCOMPARE(m_dialog->isPolling(), stillPolling);
    QCOMPARE(label(*m_dialog, "titleLabel"), title);
    QCOMPARE(button(*m_dialog, "waitButton")->text(), otherButton);
}

void TestShutDownDialog::hiddenDialogKeepsPolling()
{
    addImages({"1.jpg"});
    QVERIFY(m_dialog->checkPending());
    m_dialog->setPollInterval(20);
    m_dialog->show();
    QTest::mouseClick(button(*m_dialog, "continueButton"), Qt::LeftButton);
    QVERIFY(m_dialog->isHidden());

    // Closed with "继续拍照", the dialog still notices the folder emptying and then the proofreading finishing.
    setCounts(*m_emulator, 1, 2);
    QVERIFY(QFile::remove(imagePath(QStringLiteral("1.jpg"))));
    QTRY_VERIFY(!m_dialog->isUploadPhase());
    QTRY_VERIFY(m_emulator->server().requestCount(ServiceEmulator::Endpoint::ZeroProofread) > 0);
    QVERIFY(m_dialog->isPolling());
    setCounts(*m_emulator, 2, 2);
    QTRY_VERIFY(!m_dialog->isPolling());
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("100%"));
}

void TestShutDownDialog::slowPollNeverOverlapsTheNext()
{
    setCounts(*m_emulator, 2, 5);
    QVERIFY(m_dialog->checkPending());
    // Each answer takes ten intervals: ticks keep arriving while a poll waits in its local event loop.
    m_emulator->server().addFault(ServiceEmulator::Endpoint::ZeroProofread, {ServiceEmulator::Fault::Delay, 200, -1});
    m_emulator->server().clearRequestLog();
    m_dialog->setPollInterval(20);
    QTimer::singleShot(500, this, [this] { setCounts(*m_emulator, 5, 5); });
    QTimer::singleShot(10000, m_dialog, &QDialog::reject);
    // Qt never nests a timer's tick inside that same timer's tick, but a poll started another way (here by hand,
    // in the program after checkPending restarted the timer) lets the timer's ticks arrive while it waits.
    QTimer::singleShot(0, m_dialog, [this] { m_dialog->timerTimeout(); });

    QCOMPARE(m_dialog->exec(), int(QDialog::Accepted));

    // One poll at a time: each request follows the answer to the one before.
    const auto polls = m_emulator->server().requests(ServiceEmulator::Endpoint::ZeroProofread);
    QVERIFY(polls.size() >= 2);
    for (int i = 1; i < polls.size(); ++i)
        QVERIFY2(polls.at(i).receivedMs - polls.at(i - 1).receivedMs >= 180,
                 qPrintable(QStringLiteral("poll %1 came %2 ms after the one before")
                                .arg(i)
                                .arg(polls.at(i).receivedMs - polls.at(i - 1).receivedMs)));
    // A stale poll finishing after the last one must not take back what the dialog showed when it closed.
    QCOMPARE(label(*m_dialog, "percentLabel"), QStringLiteral("100%"));
    QCOMPARE(bar(*m_dialog)->maximum(), 1);
    QCOMPARE(bar(*m_dialog)->value(), 1);
    QVERIFY(!m_dialog->isPolling());
}

void TestShutDownDialog::tipsOverlayPlaysOverItsParent()
{
    QWidget window;
    window.resize(860, 543);
    auto* tips = new Tips(&window);
    // Frameless and nothing else: a child laid over the window, not a window of its own.
    QVERIFY(!tips->isWindow());
    QCOMPARE(tips->parentWidget(), &window);

    QMovie* movie = tips->movie();
    QVERIFY(movie->isValid());
    QVERIFY(movie->frameCount() > 1);
    // Started at construction, but still while nobody sees it: an idle program must not wake for its frames.
    QCOMPARE(movie->state(), QMovie::Paused);
    auto* label = tips->findChild<QLabel*>();
    QCOMPARE(label->movie(), movie);
    QVERIFY(label->text().isEmpty());
    window.show();
    tips->show();
    QCOMPARE(movie->state(), QMovie::Running);
    const int frame = movie->currentFrameNumber();
    QTRY_VERIFY(movie->currentFrameNumber() != frame);
    tips->hide();
    QCOMPARE(movie->state(), QMovie::Paused);
}

void TestShutDownDialog::hintBoxShowsItsText()
{
    QWidget viewer;
    MyMessageBox box(&viewer);
    QCOMPARE(box.size(), QSize(246, 54));
    QCOMPARE(box.text(), QStringLiteral("已经是第一张图片"));
    box.setText(QStringLiteral("已经是最后一张图片"));
    QCOMPARE(box.findChild<QLabel*>(QStringLiteral("textLabel"))->text(), QStringLiteral("已经是最后一张图片"));
    QVERIFY(!box.findChild<QLabel*>(QStringLiteral("iconLabel"))->pixmap(Qt::ReturnByValue).isNull());
}

QTEST_MAIN(TestShutDownDialog)
#include "tst_shutdowndialog.moc"
