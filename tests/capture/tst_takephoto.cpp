#include <memory>
#include <thread>

#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "FakeCameraBackend.h"
#include "TestClock.h"
#include "TestUtils.h"
#include "capture/CameraComponent.h"
#include "capture/CaptureSession.h"
#include "capture/ScriptedDesk.h"
#include "capture/TakePhoto.h"
#include "capture/VideoOverlay.h"
#include "core/Settings.h"
#include "upload/UploadFolder.h"
#include "widgets/CircleButton.h"
#include "widgets/MessageBox.h"
#include "widgets/SliderImageList.h"

namespace {

const QString kTask = QStringLiteral("task-42");
constexpr int kCamera = 0x0EDC;
constexpr int kCameraProduct = 0x2003;

QStringList jpegsIn(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
}

// The take button shows the pressed picture (a still is on its way) rather than the normal one.
bool looksPressed(CircleButton* circle)
{
    const QSize size(90, 78);
    return circle->icon().pixmap(size).toImage() ==
           QIcon(QStringLiteral(":/AmbrelClient/Resources/BK2.png")).pixmap(size).toImage();
}

QByteArray jpegBytes(int width, int height)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    TestUtils::makeTestImage(width, height).save(&buffer, "JPG");
    return bytes;
}

// A still that passes the check: an answer sheet on the desk.
QByteArray sheetJpeg()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ScriptedDesk::drawSheetOnDesk(QSize(320, 240), 1).save(&buffer, "JPG");
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(FakeCameraBackend::Device)
Q_DECLARE_METATYPE(ResolutionEntry)

namespace {

struct Box
{
    QString title;
    QString text;
};

} // namespace

class TestTakePhoto : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void formHasItsParts();
    void enumerationPicksTheDocumentCamera_data();
    void enumerationPicksTheDocumentCamera();
    void startUsesFirstMatchingDevice();
    void noCameraShowsInformationEachTime_data();
    void noCameraShowsInformationEachTime();
    void lostCameraIsToldAndReopened();
    void stillModeIsWidestMjpegMode_data();
    void stillModeIsWidestMjpegMode();
    void liveVideoFillsTheLabel();
    void stillLandsCompleteInBothFolders();
    void failedSaveIsSaidAndNotCounted_data();
    void failedSaveIsSaidAndNotCounted();
    void lowDiskSpaceIsSaidOnce();
    void takeGuardAllowsOnePerSecond_data();
    void takeGuardAllowsOnePerSecond();
    void counterCountsThisRunWhileStripShowsTask();
    void initCopiesNothing();
    void takeWhileStillShownOnlyReturnsToVideo();
    void emptyLateOrTasklessStillSavesNothing_data();
    void emptyLateOrTasklessStillSavesNothing();
    void stillFromAnotherThreadIsSavedOnGuiThread();
    void displayImageSizesToAspect_data();
    void displayImageSizesToAspect();
    void displayImageOfUnreadableFileKeepsLiveVideo();
    void fullScreenInAndOut_data();
    void fullScreenInAndOut();
    void clicksTakeOnlyInFullScreen_data();
    void clicksTakeOnlyInFullScreen();
    void videoKeepsFourToThreeBesideControls_data();
    void videoKeepsFourToThreeBesideControls();
    void finishButtonAsksForProgress();
    void autoShotPhotographsEachNewSheetOnce_data();
    void autoShotPhotographsEachNewSheetOnce();
    void failedStillIsTakenAgainThenMarked_data();
    void failedStillIsTakenAgainThenMarked();

private:
    std::shared_ptr<FakeCameraBackend::Record> installBackend(QVector<FakeCameraBackend::Device> devices,
                                                              const QByteArray* stillBytes = nullptr);
    QString imageFolder() const { return m_dir->filePath(QStringLiteral("image/") + kTask); }
    QString previewFolder() const { return imageFolder() + QStringLiteral("/preview"); }

    std::unique_ptr<ScopedWorkingDirectory> m_dir;
    QTemporaryDir m_settingsDir;
    QList<Box> m_boxes;
    std::unique_ptr<TestClock> m_clock;
};

void TestTakePhoto::initTestCase()
{
    Q_INIT_RESOURCE(ambrelclient);
    // The auto shot choice is remembered in the settings: neither in the user's own nor in those of a test running
    // beside this one.
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    MessageBox::setAnswerer([this](const MessageBox::Shown& box) {
        m_boxes.append({box.title, box.text});
        return QMessageBox::Ok;
    });
}

void TestTakePhoto::init()
{
    m_dir = std::make_unique<ScopedWorkingDirectory>();
    QVERIFY(m_dir->isValid());
    m_boxes.clear();
    QFile::remove(Settings::userLocation());
    Settings::reload();
    CaptureSession::process().reset();
    m_clock = std::make_unique<TestClock>(1'700'000'000'000);
    // Plenty of room whatever the machine's disk holds; the rows about a full disk say otherwise.
    CaptureSession::process().setFreeSpaceProbe([](const QString&) { return qint64(1) << 40; });
    CameraComponent::setBackend(std::make_unique<VirtualCameraBackend>());
}

void TestTakePhoto::cleanup()
{
    UploadFolder::setBeforeRename(nullptr);
    CaptureSession::process().reset();
    m_dir.reset();
}

std::shared_ptr<FakeCameraBackend::Record> TestTakePhoto::installBackend(QVector<FakeCameraBackend::Device> devices,
                                                                         const QByteArray* stillBytes)
{
    auto backend = std::make_unique<FakeCameraBackend>(std::move(devices));
    if (stillBytes)
        backend->setStillBytes(*stillBytes);
    auto record = backend->record();
    CameraComponent::setBackend(std::move(backend));
    return record;
}

void TestTakePhoto::formHasItsParts()
{
    TakePhoto page;
    QCOMPARE(page.objectName(), QStringLiteral("TakePhotoUI"));
    QCOMPARE(page.minimumSize(), QSize(860, 518));
    QVERIFY(page.findChild<QPushButton*>(QStringLiteral("pushButton")));
    QCOMPARE(page.findChild<QPushButton*>(QStringLiteral("pushButton"))->size(), QSize(98, 46));
    QVERIFY(page.findChild<QLabel*>(QStringLiteral("label_4"))->isHidden());
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("label"))->minimumSize(), QSize(315, 400));
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("label_2"))->text(), QStringLiteral("0"));
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("label_3"))->text(), QStringLiteral("已拍"));
    QCOMPARE(page.findChild<CircleButton*>(QStringLiteral("circle"))->size(), QSize(78, 78));
    QCOMPARE(page.findChild<QPushButton*>(QStringLiteral("finishButton"))->size(), QSize(78, 28));
    QCOMPARE(page.findChild<QPushButton*>(QStringLiteral("finishButton"))->focusPolicy(), Qt::NoFocus);
    QCOMPARE(page.findChild<SliderImageList*>(QStringLiteral("sliderImageList"))->height(), 70);
}

void TestTakePhoto::enumerationPicksTheDocumentCamera_data()
{
    QTest::addColumn<QVector<FakeCameraBackend::Device>>("devices");
    QTest::addColumn<int>("index");
    QTest::newRow("no device") << QVector<FakeCameraBackend::Device>{} << -1;
    QTest::newRow("the camera alone") << QVector<FakeCameraBackend::Device>{{kCamera, kCameraProduct}} << 0;
    QTest::newRow("webcam before the camera")
        << QVector<FakeCameraBackend::Device>{{0x046D, 0x0825}, {kCamera, kCameraProduct}} << 1;
    QTest::newRow("same vendor, other product") << QVector<FakeCameraBackend::Device>{{kCamera, 0x2004}} << -1;
    QTest::newRow("same product, other vendor") << QVector<FakeCameraBackend::Device>{{0x0EDD, kCameraProduct}} << -1;
    QTest::newRow("two cameras: the last wins")
        << QVector<FakeCameraBackend::Device>{{kCamera, kCameraProduct}, {0x046D, 0x0825}, {kCamera, kCameraProduct}}
        << 2;
}

void TestTakePhoto::enumerationPicksTheDocumentCamera()
{
    QFETCH(QVector<FakeCameraBackend::Device>, devices);
    QFETCH(int, index);
    installBackend(devices);
    TakePhoto page;
    QCOMPARE(CaptureSession::process().deviceIndex(), index);
}

void TestTakePhoto::startUsesFirstMatchingDevice()
{
    auto record = installBackend({{0x046D, 0x0825}, {kCamera, kCameraProduct}, {kCamera, kCameraProduct}});
    TakePhoto page;
    QCOMPARE(CaptureSession::process().deviceIndex(), 2);
    page.startPNG();
    QCOMPARE(CaptureSession::process().deviceIndex(), 1);
    QVERIFY(CaptureSession::process().isOpen());
    QCOMPARE(record->openedIndexes, QVector<int>{1});
    // The open block: first mode fixed, the still callback is the page's.
    QCOMPARE(record->lastParams.videoWidth, 2048);
    QCOMPARE(record->lastParams.videoHeight, 1536);
    QCOMPARE(record->lastParams.videoFormat, 0);
    QCOMPARE(record->lastParams.bufferCount, 3);
    QCOMPARE(record->lastParams.preview, 1);
    QCOMPARE(record->lastParams.stillsEnabled, 1);
    QVERIFY(record->lastParams.stillCallback == &CaptureSession::onStillCaptured);
    // Open already: later starts do nothing.
    page.startPNG();
    QCOMPARE(record->openedIndexes, QVector<int>{1});
    QVERIFY(CaptureSession::process().isOpen());
    QVERIFY(m_boxes.isEmpty());
}

void TestTakePhoto::noCameraShowsInformationEachTime_data()
{
    using Devices = QVector<FakeCameraBackend::Device>;
    QTest::addColumn<Devices>("devices");
    QTest::addColumn<QString>("failure"); // what the document camera refuses: "open" or "stream"
    QTest::addColumn<QVector<int>>("opened");
    // The box's lines: what happened, then three things to check.
    QTest::addColumn<QStringList>("text");
    const QStringList noCamera{
        QStringLiteral("系统没有检测到摄像头，可能的原因如下"),
        QStringLiteral("  1、USB线插口松动：请插紧后重新打开本程序再试"),
        QStringLiteral("  2、USB口供电不足：可尝试换一个USB口（台式电脑建议使用机箱后USB口），重新打开本程序再试"),
        QStringLiteral("  3、以上方法仍不能解决问题，请重启电脑再试"),
    };
    // A camera that is there but does not open was detected: the box must not say otherwise.
    const QStringList cannotOpen{
        QStringLiteral("摄像头无法打开，可能的原因如下"),
        QStringLiteral("  1、摄像头正被其他程序使用：请关闭其他程序后重新打开本程序再试"),
        QStringLiteral("  2、USB口供电不足：可尝试换一个USB口（台式电脑建议使用机箱后USB口），重新打开本程序再试"),
        QStringLiteral("  3、以上方法仍不能解决问题，请重启电脑再试"),
    };
    QTest::newRow("no device at all") << Devices{} << QString() << QVector<int>{} << noCamera;
    QTest::newRow("only a webcam") << Devices{{0x046D, 0x0825}} << QString() << QVector<int>{} << noCamera;
    QTest::newRow("open refused") << Devices{{kCamera, kCameraProduct}} << "open" << QVector<int>{0, 0} << cannotOpen;
    QTest::newRow("opened, but the stream refused")
        << Devices{{kCamera, kCameraProduct}} << "stream" << QVector<int>{0, 0} << cannotOpen;
}

void TestTakePhoto::noCameraShowsInformationEachTime()
{
    QFETCH(QVector<FakeCameraBackend::Device>, devices);
    QFETCH(QString, failure);
    QFETCH(QVector<int>, opened);
    QFETCH(QStringList, text);
    auto record = installBackend(devices);
    record->failOpen = failure == QLatin1String("open");
    record->failStart = failure == QLatin1String("stream");
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* live = page.findChild<QLabel*>(QStringLiteral("label"));
    page.startPNG();
    page.startPNG();
    // Each start tries the device afresh and tells the teacher; nothing stays attached to the video label.
    QCOMPARE(m_boxes.size(), 2);
    for (const Box& box : qAsConst(m_boxes)) {
        QCOMPARE(box.title, QStringLiteral("提示信息"));
        QCOMPARE(box.text.split(QLatin1Char('\n')), text);
    }
    QCOMPARE(record->openedIndexes, opened);
    QVERIFY(!CaptureSession::process().isOpen());
    QVERIFY(!live->findChild<VideoOverlay*>());
    if (failure.isEmpty())
        return;

    // The device works again: the next start opens it and the video runs.
    record->failOpen = false;
    record->failStart = false;
    page.startPNG();
    QVERIFY(CaptureSession::process().isOpen());
    auto* video = live->findChild<VideoOverlay*>();
    QVERIFY(video);
    QTRY_VERIFY(video->framesShown() >= 2);
    QCOMPARE(m_boxes.size(), 2);
}

void TestTakePhoto::lostCameraIsToldAndReopened()
{
    auto record = installBackend({{kCamera, kCameraProduct}});
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* live = page.findChild<QLabel*>(QStringLiteral("label"));
    auto* circle = page.findChild<CircleButton*>(QStringLiteral("circle"));
    page.startPNG();
    QTRY_VERIFY(live->findChild<VideoOverlay*>()->framesShown() >= 1);

    // Unplugged while a still is asked for.
    record->lose = true;
    page.take();
    QTRY_COMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().title, QStringLiteral("提示信息"));
    QVERIFY(m_boxes.first().text.startsWith(QStringLiteral("系统没有检测到摄像头，可能的原因如下\n")));
    QVERIFY(!CaptureSession::process().isOpen());
    QVERIFY(!live->findChild<VideoOverlay*>());
    QVERIFY(!looksPressed(circle));
    QCOMPARE(CaptureSession::process().capturedCount(), 0);

    // Plugged in again: the next press opens the camera, the one after it takes a photograph.
    record->lose = false;
    m_clock->advance(1000);
    page.take();
    QVERIFY(CaptureSession::process().isOpen());
    QCOMPARE(record->openedIndexes, (QVector<int>{0, 0}));
    m_clock->advance(1000);
    page.take();
    QTRY_COMPARE(CaptureSession::process().capturedCount(), 1);
    QCOMPARE(jpegsIn(imageFolder()).size(), 1);
    QCOMPARE(m_boxes.size(), 1);
}

void TestTakePhoto::stillModeIsWidestMjpegMode_data()
{
    QTest::addColumn<QVector<ResolutionEntry>>("list");
    QTest::addColumn<QSize>("mode");
    QTest::newRow("widest MJPEG mode, YUYV ignored")
        << QVector<ResolutionEntry>{{0, 1280, 960}, {1, 3264, 2448}, {0, 2048, 1536}, {0, 1600, 1200}}
        << QSize(2048, 1536);
    QTest::newRow("height only grows with a wider mode")
        << QVector<ResolutionEntry>{{0, 1600, 1200}, {0, 2048, 1000}, {0, 1920, 1440}} << QSize(2048, 1200);
    QTest::newRow("no MJPEG mode") << QVector<ResolutionEntry>{{1, 640, 480}} << QSize(0, 0);
}

void TestTakePhoto::stillModeIsWidestMjpegMode()
{
    QFETCH(QVector<ResolutionEntry>, list);
    QFETCH(QSize, mode);
    auto backend = std::make_unique<FakeCameraBackend>(QVector<FakeCameraBackend::Device>{{kCamera, kCameraProduct}});
    backend->setResolutions(1, list);
    auto record = backend->record();
    CameraComponent::setBackend(std::move(backend));
    TakePhoto page;
    page.startPNG();
    QCOMPARE(QSize(CaptureSession::process().stillMode().width, CaptureSession::process().stillMode().height), mode);
    QCOMPARE(CaptureSession::process().stillMode().format, 0);
    QCOMPARE(QSize(record->lastParams.stillWidth, record->lastParams.stillHeight), mode);
}

void TestTakePhoto::liveVideoFillsTheLabel()
{
    TakePhoto page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.startPNG();
    auto* label = page.findChild<QLabel*>(QStringLiteral("label"));
    auto* video = label->findChild<VideoOverlay*>();
    QVERIFY(video);
    QCOMPARE(video->geometry(), QRect(QPoint(0, 0), label->size()));
    QTRY_VERIFY(video->framesShown() >= 2);
}

void TestTakePhoto::stillLandsCompleteInBothFolders()
{
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.startPNG();
    // The round button's own click takes the photograph.
    QTest::mouseClick(page.findChild<CircleButton*>(QStringLiteral("circle")), Qt::LeftButton, Qt::NoModifier,
                      QPoint(40, 40));
    QTRY_COMPARE(CaptureSession::process().capturedCount(), 1);

    const QStringList uploads = jpegsIn(imageFolder());
    const QStringList previews = jpegsIn(previewFolder());
    QCOMPARE(uploads.size(), 1);
    QCOMPARE(previews.size(), 1);
    const QRegularExpression braced(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}\\.jpg$"));
    QVERIFY2(braced.match(uploads.first()).hasMatch(), qPrintable(uploads.first()));
    QVERIFY2(braced.match(previews.first()).hasMatch(), qPrintable(previews.first()));
    QVERIFY(uploads.first() != previews.first());
    // Nothing but the finished files: no temporary names left behind.
    QCOMPARE(QDir(imageFolder()).entryList(QDir::Files), uploads);
    QCOMPARE(QDir(previewFolder()).entryList(QDir::Files), previews);

    const QByteArray upload = TestUtils::readFile(imageFolder() + QLatin1Char('/') + uploads.first());
    QCOMPARE(TestUtils::readFile(previewFolder() + QLatin1Char('/') + previews.first()), upload);
    QVERIFY(upload.endsWith("\xFF\xD9"));
    QCOMPARE(QImage::fromData(upload, "JPG").size(), QSize(2048, 1536));

    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("label_2"))->text(), QStringLiteral("1"));
    auto* strip = page.findChild<SliderImageList*>();
    QCOMPARE(strip->imageFiles(), QStringList{previewFolder() + QLatin1Char('/') + previews.first()});
}

void TestTakePhoto::failedSaveIsSaidAndNotCounted_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("said"); // in the message; empty: saved, nothing said

    QTest::newRow("rename into the upload folder fails") << "rename"
                                                         << "写入照片文件失败";
    QTest::newRow("disk full") << "full"
                               << "磁盘空间不足";
    QTest::newRow("upload folder gone and cannot be made") << "gone"
                                                           << "照片文件夹不存在且无法创建";
    QTest::newRow("upload folder gone, made again") << "removed"
                                                    << "";
}

// A photograph that cannot be saved is said, with its cause, and logged; counter and strip stay as they are and the
// camera takes the next one once the cause is gone.
void TestTakePhoto::failedSaveIsSaidAndNotCounted()
{
    QFETCH(QString, cause);
    QFETCH(QString, said);
    auto record = installBackend({{kCamera, kCameraProduct}});
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.startPNG();
    auto* circle = page.findChild<CircleButton*>(QStringLiteral("circle"));
    auto* counter = page.findChild<QLabel*>(QStringLiteral("label_2"));
    auto* strip = page.findChild<SliderImageList*>();
    if (cause == "rename") {
        // A folder in the way of the photograph's final name in the upload folder: the rename fails.
        UploadFolder::setBeforeRename([](const QString& finalPath) {
            if (!finalPath.contains(QStringLiteral("/preview/")))
                QDir().mkpath(finalPath);
        });
    } else if (cause == "full") {
        CaptureSession::process().setFreeSpaceProbe([](const QString&) { return qint64(100 * 1024); });
    } else {
        QVERIFY(QDir(imageFolder()).removeRecursively());
        if (cause == "gone")
            QVERIFY(TestUtils::writeFile(imageFolder(), "a file where the folder was"));
    }
    const QByteArray logBefore = TestUtils::readFile(Settings::logFile());
    page.take();
    QVERIFY(looksPressed(circle));
    QTRY_VERIFY(!looksPressed(circle));
    QCOMPARE(record->stillsCaptured.load(), 1);
    if (said.isEmpty()) {
        QCOMPARE(counter->text(), QStringLiteral("1"));
        QCOMPARE(jpegsIn(imageFolder()).size(), 1);
        QVERIFY(m_boxes.isEmpty());
        return;
    }
    QCOMPARE(CaptureSession::process().capturedCount(), 0);
    QCOMPARE(counter->text(), QStringLiteral("0"));
    QVERIFY(jpegsIn(imageFolder()).isEmpty());
    QVERIFY(jpegsIn(previewFolder()).isEmpty());
    QVERIFY(strip->imageFiles().isEmpty());
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes.first().text.contains(said), qPrintable(m_boxes.first().text));
    QVERIFY(TestUtils::readFile(Settings::logFile()).mid(logBefore.size()).contains("photograph not saved"));
    QVERIFY(CaptureSession::process().isOpen());

    // With the cause gone the next photograph is counted.
    UploadFolder::setBeforeRename(nullptr);
    CaptureSession::process().setFreeSpaceProbe([](const QString&) { return qint64(1) << 40; });
    QFile::remove(imageFolder());
    m_clock->advance(1000);
    page.take();
    QTRY_COMPARE(counter->text(), QStringLiteral("1"));
    QCOMPARE(jpegsIn(imageFolder()).size(), 1);
    QCOMPARE(strip->imageFiles().size(), 1);
}

// Free space running low is said once, while the photographs are still saved and counted.
void TestTakePhoto::lowDiskSpaceIsSaidOnce()
{
    installBackend({{kCamera, kCameraProduct}});
    CaptureSession::process().setFreeSpaceProbe([](const QString&) { return qint64(50) * 1024 * 1024; });
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.startPNG();
    auto* counter = page.findChild<QLabel*>(QStringLiteral("label_2"));
    page.take();
    QTRY_COMPARE(counter->text(), QStringLiteral("1"));
    m_clock->advance(1000);
    page.take();
    QTRY_COMPARE(counter->text(), QStringLiteral("2"));
    QCOMPARE(jpegsIn(imageFolder()).size(), 2);
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes.first().text.contains(QStringLiteral("磁盘剩余空间已不足")), qPrintable(m_boxes.first().text));
}

void TestTakePhoto::takeGuardAllowsOnePerSecond_data()
{
    QTest::addColumn<QList<qint64>>("pressTimes");
    QTest::addColumn<int>("photos");
    QTest::newRow("second press after 999 ms is ignored") << QList<qint64>{0, 999} << 1;
    QTest::newRow("second press after 1000 ms takes another") << QList<qint64>{0, 1000} << 2;
    QTest::newRow("clock going back is ignored") << QList<qint64>{5000, 4000} << 1;
    QTest::newRow("ignored press does not move the guard") << QList<qint64>{0, 600, 1000} << 2;
    QTest::newRow("rapid presses") << QList<qint64>{0, 100, 200, 1100, 1200, 2100} << 3;
}

void TestTakePhoto::takeGuardAllowsOnePerSecond()
{
    QFETCH(QList<qint64>, pressTimes);
    QFETCH(int, photos);
    auto record = installBackend({{kCamera, kCameraProduct}});
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.startPNG();
    const qint64 start = m_clock->currentMSecsSinceEpoch();
    for (qint64 t : pressTimes) {
        m_clock->set(start + t);
        page.take();
    }
    QTRY_COMPARE(CaptureSession::process().capturedCount(), photos);
    QCOMPARE(jpegsIn(imageFolder()).size(), photos);
    // Stills are served in order on one thread: one more still proves no further trigger was pending.
    m_clock->advance(10'000);
    page.take();
    QTRY_COMPARE(CaptureSession::process().capturedCount(), photos + 1);
    QCOMPARE(record->stillsCaptured.load(), photos + 1);
}

void TestTakePhoto::counterCountsThisRunWhileStripShowsTask()
{
    // An earlier run left two previews, and two photographs still waiting for upload (each saved with its
    // preview under another name): the strip shows the previews, nothing is copied again.
    QVERIFY(TestUtils::writeFile(previewFolder() + QStringLiteral("/a-old.jpg"), jpegBytes(40, 30)));
    QVERIFY(TestUtils::writeFile(previewFolder() + QStringLiteral("/b-old.jpg"), jpegBytes(40, 30)));
    QVERIFY(TestUtils::writeFile(imageFolder() + QStringLiteral("/c-waiting.jpg"), jpegBytes(40, 30)));
    QVERIFY(TestUtils::writeFile(imageFolder() + QStringLiteral("/d-waiting.jpg"), jpegBytes(40, 30)));
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    auto* strip = page.findChild<SliderImageList*>();
    QCOMPARE(strip->imageFiles().size(), 2);
    QCOMPARE(jpegsIn(previewFolder()), (QStringList{"a-old.jpg", "b-old.jpg"}));
    auto* counter = page.findChild<QLabel*>(QStringLiteral("label_2"));
    QCOMPARE(counter->text(), QStringLiteral("0"));

    page.startPNG();
    page.take();
    QTRY_COMPARE(counter->text(), QStringLiteral("1"));
    m_clock->advance(1000);
    page.take();
    QTRY_COMPARE(counter->text(), QStringLiteral("2"));
    QCOMPARE(strip->imageFiles().size(), 4);
    QCOMPARE(strip->findChild<QListWidget*>()->count(), 4);
}

void TestTakePhoto::initCopiesNothing()
{
    QVERIFY(TestUtils::writeFile(imageFolder() + QStringLiteral("/same.jpg"), "new content"));
    QVERIFY(TestUtils::writeFile(previewFolder() + QStringLiteral("/same.jpg"), "kept content"));
    QVERIFY(TestUtils::writeFile(imageFolder() + QStringLiteral("/other.bmp"), "waiting"));
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    QCOMPARE(TestUtils::readFile(previewFolder() + QStringLiteral("/same.jpg")), QByteArray("kept content"));
    QCOMPARE(QDir(previewFolder()).entryList(QDir::Files), QStringList{"same.jpg"});
    // The originals stay for the upload worker.
    QCOMPARE(TestUtils::readFile(imageFolder() + QStringLiteral("/other.bmp")), QByteArray("waiting"));
}

void TestTakePhoto::takeWhileStillShownOnlyReturnsToVideo()
{
    QVERIFY(TestUtils::writeFile(previewFolder() + QStringLiteral("/stored.jpg"), jpegBytes(300, 400)));
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.startPNG();
    auto* still = page.findChild<QLabel*>(QStringLiteral("label_4"));
    auto* live = page.findChild<QLabel*>(QStringLiteral("label"));
    // Picking the thumbnail shows the stored image in place of the live video.
    page.findChild<SliderImageList*>()->findChild<QListWidget*>()->setCurrentRow(0);
    QVERIFY(!still->isHidden());
    QVERIFY(live->isHidden());

    auto* circle = page.findChild<CircleButton*>(QStringLiteral("circle"));
    page.take();
    QVERIFY(still->isHidden());
    QVERIFY(!live->isHidden());
    // That press asked for no still (the button would look pressed until it came) and did not start the guard: a
    // press right after it takes a photograph.
    QVERIFY(!looksPressed(circle));
    m_clock->advance(1);
    page.take();
    QVERIFY(looksPressed(circle));
    QTRY_COMPARE(CaptureSession::process().capturedCount(), 1);
    QVERIFY(!looksPressed(circle));
    QCOMPARE(jpegsIn(imageFolder()).size(), 1);
}

void TestTakePhoto::emptyLateOrTasklessStillSavesNothing_data()
{
    QTest::addColumn<bool>("cameraOpen");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("task");
    QTest::newRow("still of length 0") << true << QByteArray() << kTask;
    QTest::newRow("still while the camera is closed") << false << jpegBytes(64, 48) << kTask;
    // Started without a task: image/ itself is no task's folder and nothing would ever upload from it.
    QTest::newRow("still without a task is refused and told") << true << sheetJpeg() << QString();
}

void TestTakePhoto::emptyLateOrTasklessStillSavesNothing()
{
    QFETCH(bool, cameraOpen);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, task);
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("image"))));
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(task));
    if (cameraOpen) {
        page.startPNG();
        QVERIFY(CaptureSession::process().isOpen());
    }
    CaptureSession::onStillCaptured(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    QCoreApplication::processEvents();
    QCOMPARE(CaptureSession::process().capturedCount(), 0);
    QVERIFY(jpegsIn(imageFolder()).isEmpty());
    QVERIFY(jpegsIn(previewFolder()).isEmpty());
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("label_2"))->text(), QStringLiteral("0"));
    QVERIFY(page.findChild<SliderImageList*>()->imageFiles().isEmpty());
    const QStringList inImageRoot =
        QDir(m_dir->filePath(QStringLiteral("image"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(inImageRoot, task.isEmpty() ? QStringList() : QStringList{kTask});
    if (task.isEmpty()) {
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().title, QStringLiteral("提示信息"));
        QCOMPARE(m_boxes.first().text, QStringLiteral("未获取到考试任务，照片无法上传，请从阅卷网站重新打开本程序"));
    } else {
        QVERIFY(m_boxes.isEmpty());
    }
}

void TestTakePhoto::stillFromAnotherThreadIsSavedOnGuiThread()
{
    // The camera's still of length 0 through the whole chain first, then a real one from a foreign thread.
    const QByteArray empty;
    auto record = installBackend({{kCamera, kCameraProduct}}, &empty);
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.startPNG();
    page.take();
    QTRY_COMPARE(record->stillsCaptured.load(), 1);

    QByteArray bytes = jpegBytes(64, 48);
    std::thread camera(
        [&bytes] { CaptureSession::onStillCaptured(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size()); });
    camera.join();
    // Handed over, not yet done: the work waits for the GUI thread.
    QCOMPARE(CaptureSession::process().capturedCount(), 0);
    QTRY_COMPARE(CaptureSession::process().capturedCount(), 1);
    const QStringList uploads = jpegsIn(imageFolder());
    QCOMPARE(uploads.size(), 1);
    QCOMPARE(TestUtils::readFile(imageFolder() + QLatin1Char('/') + uploads.first()), bytes);
}

void TestTakePhoto::displayImageSizesToAspect_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::newRow("portrait sheet") << QSize(300, 400);
    QTest::newRow("landscape photo") << QSize(2048, 1536);
    QTest::newRow("odd size") << QSize(333, 217);
}

void TestTakePhoto::displayImageSizesToAspect()
{
    QFETCH(QSize, imageSize);
    const QString path = m_dir->filePath(QStringLiteral("shown.jpg"));
    QVERIFY(TestUtils::writeFile(path, jpegBytes(imageSize.width(), imageSize.height())));
    TakePhoto page;
    page.resize(1000, 700);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* still = page.findChild<QLabel*>(QStringLiteral("label_4"));
    page.displayImage(path);
    // As large as the height above the strip and the width beside the controls allow (1000 less 240 of buttons,
    // margins and counter, less 2 x 10 of gap), in the image's own proportions.
    QCOMPARE(still->size(), imageSize.scaled(QSize(740, 630), Qt::KeepAspectRatio));
    QVERIFY(still->hasScaledContents());
    QVERIFY(!still->pixmap(Qt::ReturnByValue).isNull());
    // A later resize keeps the shown image's proportions.
    page.resize(1200, 800);
    QTRY_COMPARE(still->size(), imageSize.scaled(QSize(940, 730), Qt::KeepAspectRatio));
}

void TestTakePhoto::displayImageOfUnreadableFileKeepsLiveVideo()
{
    const QString broken = m_dir->filePath(QStringLiteral("broken.jpg"));
    QVERIFY(TestUtils::writeFile(broken, "no picture here"));
    TakePhoto page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.displayImage(broken);
    page.displayImage(m_dir->filePath(QStringLiteral("missing.jpg")));
    QVERIFY(page.findChild<QLabel*>(QStringLiteral("label_4"))->isHidden());
    QVERIFY(!page.findChild<QLabel*>(QStringLiteral("label"))->isHidden());
    // The page still resizes without trouble afterwards.
    page.resize(1000, 600);
    QCOMPARE(page.findChild<QLabel*>(QStringLiteral("label"))->height(), 530);
}

void TestTakePhoto::fullScreenInAndOut_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("leave with the button") << false;
    QTest::newRow("leave with Escape") << true;
}

void TestTakePhoto::fullScreenInAndOut()
{
    QFETCH(bool, byEscape);
    QWidget mainWindow;
    mainWindow.resize(1000, 700);
    auto* page = new TakePhoto(&mainWindow);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    auto* toggle = page->findChild<QPushButton*>(QStringLiteral("pushButton"));
    auto* finish = page->findChild<QPushButton*>(QStringLiteral("finishButton"));
    auto* strip = page->findChild<SliderImageList*>();

    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(page->isWindow());
    QVERIFY(page->windowState() & Qt::WindowFullScreen);
    QVERIFY(page->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(finish->isHidden());
    QVERIFY(strip->isHidden());
    QCOMPARE(toggle->size(), QSize(130, 46));

    // Other keys do nothing.
    QTest::keyClick(page, Qt::Key_A);
    QVERIFY(page->isWindow());

    if (byEscape)
        QTest::keyClick(page, Qt::Key_Escape);
    else
        QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(!page->isWindow());
    QCOMPARE(page->parentWidget(), &mainWindow);
    QVERIFY(!(page->windowState() & Qt::WindowFullScreen));
    QVERIFY(!finish->isHidden());
    QVERIFY(!strip->isHidden());
    QCOMPARE(toggle->size(), QSize(98, 46));

    // Escape outside full screen leaves the page where it is.
    QTest::keyClick(page, Qt::Key_Escape);
    QVERIFY(!page->isWindow());
}

void TestTakePhoto::clicksTakeOnlyInFullScreen_data()
{
    QTest::addColumn<bool>("full");
    QTest::addColumn<int>("button");
    QTest::addColumn<QList<int>>("keys"); // pressed a second apart instead of the click
    QTest::addColumn<int>("photos");
    QTest::newRow("left click in full screen") << true << int(Qt::LeftButton) << QList<int>{} << 1;
    QTest::newRow("right click in full screen") << true << int(Qt::RightButton) << QList<int>{} << 1;
    QTest::newRow("middle click in full screen") << true << int(Qt::MiddleButton) << QList<int>{} << 0;
    QTest::newRow("left click in the page") << false << int(Qt::LeftButton) << QList<int>{} << 0;
    QTest::newRow("Space, Enter, Page Down (foot pedal) take; A does not")
        << false << 0 << QList<int>{Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_PageDown, Qt::Key_A} << 4;
}

void TestTakePhoto::clicksTakeOnlyInFullScreen()
{
    QFETCH(bool, full);
    QFETCH(int, button);
    QFETCH(QList<int>, keys);
    QFETCH(int, photos);
    auto record = installBackend({{kCamera, kCameraProduct}});
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.startPNG();
    if (full)
        page.quanPing();
    if (keys.isEmpty())
        QTest::mouseClick(&page, Qt::MouseButton(button), Qt::NoModifier, QPoint(5, 300));
    for (int key : keys) {
        m_clock->advance(1000);
        QTest::keyClick(&page, Qt::Key(key));
        // A pedal held down repeats its key, even past the guard: that takes nothing more.
        m_clock->advance(1000);
        QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(&page, &repeat);
    }
    // One sure photograph afterwards: all earlier triggers have been served by then.
    m_clock->advance(5000);
    page.take();
    QTRY_COMPARE(CaptureSession::process().capturedCount(), photos + 1);
    QCOMPARE(record->stillsCaptured.load(), photos + 1);
}

void TestTakePhoto::videoKeepsFourToThreeBesideControls_data()
{
    QTest::addColumn<QSize>("pageSize");
    QTest::addColumn<bool>("full");
    QTest::addColumn<QSize>("video");
    QTest::newRow("smallest page: the height above the strip") << QSize(860, 518) << false << QSize(597, 448);
    QTest::newRow("room to spare beside") << QSize(1100, 600) << false << QSize(706, 530);
    QTest::newRow("too little room beside: narrowed") << QSize(1100, 730) << false << QSize(840, 630);
    QTest::newRow("full screen 1280 x 1024: narrowed") << QSize(1280, 1024) << true << QSize(988, 741);
    QTest::newRow("full screen 1920 x 1080: the whole height") << QSize(1920, 1080) << true << QSize(1440, 1080);
}

void TestTakePhoto::videoKeepsFourToThreeBesideControls()
{
    QFETCH(QSize, pageSize);
    QFETCH(bool, full);
    QFETCH(QSize, video);
    QWidget mainWindow;
    mainWindow.resize(860, 518);
    auto* page = new TakePhoto(&mainWindow);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    page->startPNG();
    if (full)
        page->quanPing();
    page->resize(pageSize);
    page->layout()->activate();
    auto* live = page->findChild<QLabel*>(QStringLiteral("label"));
    QCOMPARE(live->size(), video);
    QCOMPARE(live->findChild<VideoOverlay*>()->geometry(), QRect(QPoint(0, 0), video));
    // Inside the page, and never under the full-screen button, the counter or the take button.
    const auto area = [page](QWidget* w) { return QRect(w->mapTo(page, QPoint(0, 0)), w->size()); };
    QVERIFY(page->rect().contains(area(live)));
    for (const char* name : {"pushButton", "label_2", "label_3", "circle"}) {
        QWidget* control = page->findChild<QWidget*>(QLatin1String(name));
        QVERIFY2(!area(live).intersects(area(control)), name);
    }
}

void TestTakePhoto::finishButtonAsksForProgress()
{
    TakePhoto page;
    QSignalSpy spy(&page, SIGNAL(finishPhoto()));
    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("finishButton")), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
}

void TestTakePhoto::autoShotPhotographsEachNewSheetOnce_data()
{
    QTest::addColumn<bool>("autoShot");
    QTest::addColumn<int>("photos");
    QTest::newRow("auto shot on: both sheets once each") << true << 2;
    QTest::newRow("auto shot off: the page only watches") << false << 0;
}

void TestTakePhoto::autoShotPhotographsEachNewSheetOnce()
{
    QFETCH(bool, autoShot);
    QFETCH(int, photos);
    // The desk plays at the test's clock: each step shows the desk as it is at that moment.
    ScriptedDesk desk;
    desk.wait(600).place(1).wait(1200).swap(2).wait(1200);
    auto deskMs = std::make_shared<std::atomic<qint64>>(0);
    auto backend = std::make_unique<FakeCameraBackend>(QVector<FakeCameraBackend::Device>{{kCamera, kCameraProduct}});
    backend->setFrameSource([desk, deskMs](QSize size) { return desk.frame(deskMs->load(), size); });
    auto record = backend->record();
    CameraComponent::setBackend(std::move(backend));

    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.startPNG();
    auto* box = page.findChild<QCheckBox*>(QStringLiteral("autoShotBox"));
    QVERIFY(!box->isChecked());
    if (autoShot)
        box->click();
    auto* video = page.findChild<QLabel*>(QStringLiteral("label"))->findChild<VideoOverlay*>();
    QVERIFY(video);
    const qint64 start = m_clock->currentMSecsSinceEpoch();
    for (qint64 t = 0; t <= desk.durationMs(); t += 150) {
        *deskMs = t;
        m_clock->set(start + t);
        // Two more frames: at least one drawn after the step.
        const int shown = video->framesShown();
        QTRY_VERIFY(video->framesShown() >= shown + 2);
    }
    QTRY_COMPARE(CaptureSession::process().capturedCount(), photos);
    QCOMPARE(record->stillsCaptured.load(), photos);
    QCOMPARE(jpegsIn(imageFolder()).size(), photos);
    // The choice is remembered for the next start.
    TakePhoto next;
    QCOMPARE(next.findChild<QCheckBox*>(QStringLiteral("autoShotBox"))->isChecked(), autoShot);
}

void TestTakePhoto::failedStillIsTakenAgainThenMarked_data()
{
    QTest::addColumn<QVector<QImage>>("stills"); // the camera's stills in turn, the last one again and again
    QTest::addColumn<int>("taken");
    QTest::addColumn<QVector<int>>("kept");    // the photographs saved, as indexes into stills, in strip order
    QTest::addColumn<QStringList>("warnings"); // on their cells
    const QImage sheet = ScriptedDesk::drawSheetOnDesk(QSize(1024, 768), 1);
    QImage dark = sheet;
    {
        QPainter p(&dark);
        p.fillRect(dark.rect(), QColor(0, 0, 0, 210));
    }
    const QImage next = ScriptedDesk::drawSheetOnDesk(QSize(1024, 768), 2);
    const QImage emptyDesk = ScriptedDesk().wait(100).still(50, QSize(1024, 768));
    QTest::newRow("good still: taken once, no mark")
        << QVector<QImage>{sheet} << 1 << QVector<int>{0} << QStringList{QString()};
    QTest::newRow("dark every time: taken three times, handed over marked")
        << QVector<QImage>{dark} << 3 << QVector<int>{0} << QStringList{QStringLiteral("光线过暗")};
    // The pedal pressed as the hand swaps the sheets: the retake shows the next student's sheet.
    QTest::newRow("swapped during the retake: both sheets kept, each marked")
        << QVector<QImage>{dark, next} << 2 << QVector<int>{0, 1}
        << QStringList{QStringLiteral("光线过暗"), QStringLiteral("重拍时画面已变，请核对")};
    QTest::newRow("taken away during the retake: the sheet kept, not the desk")
        << QVector<QImage>{dark, emptyDesk} << 3 << QVector<int>{0} << QStringList{QStringLiteral("光线过暗")};
}

void TestTakePhoto::failedStillIsTakenAgainThenMarked()
{
    QFETCH(QVector<QImage>, stills);
    QFETCH(int, taken);
    QFETCH(QVector<int>, kept);
    QFETCH(QStringList, warnings);
    QVector<QByteArray> bytes;
    for (const QImage& still : stills) {
        bytes.append(QByteArray());
        QBuffer buffer(&bytes.last());
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(still.save(&buffer, "JPG"));
    }
    auto backend = std::make_unique<FakeCameraBackend>(QVector<FakeCameraBackend::Device>{{kCamera, kCameraProduct}});
    backend->setStillSequence(bytes);
    auto record = backend->record();
    CameraComponent::setBackend(std::move(backend));
    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.startPNG();
    auto* circle = page.findChild<CircleButton*>(QStringLiteral("circle"));
    page.take();
    QTRY_COMPARE(CaptureSession::process().capturedCount(), kept.size());
    QTRY_VERIFY(!looksPressed(circle));
    QCOMPARE(record->stillsCaptured.load(), taken);
    // Nothing is dropped: of each sheet one photograph, the best of its tries, with the reason on its cell.
    QCOMPARE(jpegsIn(imageFolder()).size(), kept.size());
    auto* strip = page.findChild<SliderImageList*>();
    auto* cells = strip->findChild<QListWidget*>();
    QCOMPARE(cells->count(), kept.size());
    for (int i = 0; i < kept.size(); ++i) {
        QCOMPARE(TestUtils::readFile(strip->imageFiles().at(i)), bytes.at(kept.at(i)));
        QCOMPARE(cells->item(i)->toolTip(), warnings.at(i));
    }
}

QTEST_MAIN(TestTakePhoto)
#include "tst_takephoto.moc"
