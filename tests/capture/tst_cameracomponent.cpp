#include <mutex>
#include <thread>

#include <QLabel>
#include <QTest>

#include "capture/CameraBackend.h"
#include "capture/CameraComponent.h"
#include "capture/VideoOverlay.h"
#include "capture/VirtualCameraBackend.h"

namespace {

struct StillLog
{
    std::mutex mutex;
    QList<QByteArray> stills;
    QList<std::thread::id> threads;
};

StillLog& stillLog()
{
    static StillLog log;
    return log;
}

void collectStill(unsigned char* data, int length)
{
    std::lock_guard<std::mutex> lock(stillLog().mutex);
    stillLog().stills.append(QByteArray(reinterpret_cast<const char*>(data), length));
    stillLog().threads.append(std::this_thread::get_id());
}

int stillCount()
{
    std::lock_guard<std::mutex> lock(stillLog().mutex);
    return stillLog().stills.size();
}

CameraOpenParams paramsWithStill(int width, int height)
{
    CameraOpenParams params{};
    params.videoWidth = 2048;
    params.videoHeight = 1536;
    params.bufferCount = 3;
    params.preview = 1;
    params.stillWidth = width;
    params.stillHeight = height;
    params.stillsEnabled = 1;
    params.stillCallback = &collectStill;
    return params;
}

} // namespace

class TestCameraComponent : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void virtualCameraIsTheDocumentCamera();
    void resolutionQueryCountsThenFills_data();
    void resolutionQueryCountsThenFills();
    void openTwiceFails();
    void liveVideoMovesInsideTheGivenRectangle();
    void stillIsJpegFromAnotherThread_data();
    void stillIsJpegFromAnotherThread();
    void stillNeedsPlayingDevice();
    void detachingAndClosingRemoveTheVideo();
};

void TestCameraComponent::init()
{
    CameraComponent::setBackend(std::make_unique<VirtualCameraBackend>());
    std::lock_guard<std::mutex> lock(stillLog().mutex);
    stillLog().stills.clear();
    stillLog().threads.clear();
}

void TestCameraComponent::cleanup()
{
    hFreeVideoDevice();
}

void TestCameraComponent::virtualCameraIsTheDocumentCamera()
{
    QCOMPARE(hEnumVideoDevice(), 1);
    int vendor = 0;
    int product = 0;
    QVERIFY(hGetVideoDeviceVIDPID(0, &vendor, &product));
    QCOMPARE(vendor, 0x0EDC);
    QCOMPARE(product, 0x2003);
    QVERIFY(!hGetVideoDeviceVIDPID(1, &vendor, &product));
}

void TestCameraComponent::resolutionQueryCountsThenFills_data()
{
    QTest::addColumn<int>("list");
    QTest::addColumn<int>("room");
    QTest::newRow("video modes, room for all") << 0 << 100;
    QTest::newRow("still modes, room for all") << 1 << 100;
    QTest::newRow("still modes, room for two") << 1 << 2;
}

void TestCameraComponent::resolutionQueryCountsThenFills()
{
    QFETCH(int, list);
    QFETCH(int, room);
    int count = 0;
    QVERIFY(hQuerySupportResolutionAndFormat(0, list, nullptr, &count));
    QVERIFY(count > 2);
    QVector<ResolutionEntry> entries(count, ResolutionEntry{-1, -1, -1});
    int filled = qMin(room, count);
    QVERIFY(hQuerySupportResolutionAndFormat(0, list, entries.data(), &filled));
    QCOMPARE(filled, qMin(room, count));
    bool has2048 = false;
    for (int i = 0; i < count; ++i) {
        if (i >= filled) {
            QCOMPARE(entries.at(i).format, -1); // nothing written past the room given
            continue;
        }
        QVERIFY(entries.at(i).width > 0 && entries.at(i).height > 0);
        has2048 |= entries.at(i).format == 0 && entries.at(i).width == 2048 && entries.at(i).height == 1536;
    }
    if (filled == count)
        QVERIFY(has2048);
}

void TestCameraComponent::openTwiceFails()
{
    QCOMPARE(hOpenCameraDevice(0, paramsWithStill(2048, 1536)), 1);
    QCOMPARE(hOpenCameraDevice(0, paramsWithStill(2048, 1536)), 0);
    QCOMPARE(hOpenCameraDevice(1, paramsWithStill(2048, 1536)), 0);
    QCOMPARE(hCloseCameraDevice(0), 1);
    QCOMPARE(hOpenCameraDevice(0, paramsWithStill(2048, 1536)), 1);
}

void TestCameraComponent::liveVideoMovesInsideTheGivenRectangle()
{
    QWidget window;
    window.resize(400, 300);
    auto* surface = new QLabel(&window);
    surface->setGeometry(10, 10, 360, 270);
    surface->setStyleSheet(QStringLiteral("background:white;"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(hOpenCameraDevice(0, paramsWithStill(2048, 1536)), 1);
    QCOMPARE(hSetVideoWindow(0, surface->winId()), 1);
    QCOMPARE(hSetVideoWindowPosition(0, 20, 10, 320, 240), 1);
    QCOMPARE(hPlay(0), 1);
    auto* video = surface->findChild<VideoOverlay*>(QStringLiteral("cameraVideo"));
    QVERIFY(video);
    QCOMPARE(video->geometry(), QRect(20, 10, 320, 240));
    QTRY_VERIFY(video->framesShown() >= 1);
    const QImage first = surface->grab().toImage();
    const int shown = video->framesShown();
    QTRY_VERIFY(video->framesShown() > shown + 1);
    const QImage later = surface->grab().toImage();
    QVERIFY2(first != later, "the live video does not move");
    // Outside the video rectangle the label's own white stays.
    QCOMPARE(QColor(later.pixel(5, 5)), QColor(Qt::white));
    QVERIFY(QColor(later.pixel(180, 130)) != QColor(Qt::white) || QColor(later.pixel(30, 20)) != QColor(Qt::white));

    QCOMPARE(hSetVideoWindowPosition(0, 0, 0, 100, 80), 1);
    QCOMPARE(video->geometry(), QRect(0, 0, 100, 80));
}

void TestCameraComponent::stillIsJpegFromAnotherThread_data()
{
    QTest::addColumn<QSize>("stillSize");
    QTest::newRow("2048 x 1536") << QSize(2048, 1536);
    QTest::newRow("1600 x 1200") << QSize(1600, 1200);
}

void TestCameraComponent::stillIsJpegFromAnotherThread()
{
    QFETCH(QSize, stillSize);
    QCOMPARE(hOpenCameraDevice(0, paramsWithStill(stillSize.width(), stillSize.height())), 1);
    QCOMPARE(hPlay(0), 1);
    QCOMPARE(hStillTrigger(0), 1);
    QTRY_COMPARE(stillCount(), 1);
    std::lock_guard<std::mutex> lock(stillLog().mutex);
    const QByteArray bytes = stillLog().stills.first();
    QVERIFY(bytes.startsWith("\xFF\xD8"));
    QVERIFY(bytes.endsWith("\xFF\xD9"));
    const QImage image = QImage::fromData(bytes, "JPG");
    QCOMPARE(image.size(), stillSize);
    QVERIFY(stillLog().threads.first() != std::this_thread::get_id());
}

void TestCameraComponent::stillNeedsPlayingDevice()
{
    QCOMPARE(hStillTrigger(0), 0);
    QCOMPARE(hOpenCameraDevice(0, paramsWithStill(2048, 1536)), 1);
    QCOMPARE(hStillTrigger(0), 0);
    QCOMPARE(hPlay(0), 1);
    QCOMPARE(hStop(0), 1);
    QCOMPARE(hStillTrigger(0), 0);
    CameraOpenParams noStills = paramsWithStill(2048, 1536);
    noStills.stillsEnabled = 0;
    QCOMPARE(hCloseCameraDevice(0), 1);
    QCOMPARE(hOpenCameraDevice(0, noStills), 1);
    QCOMPARE(hPlay(0), 1);
    QCOMPARE(hStillTrigger(0), 0);
}

void TestCameraComponent::detachingAndClosingRemoveTheVideo()
{
    QLabel surface;
    surface.resize(320, 240);
    QCOMPARE(hOpenCameraDevice(0, paramsWithStill(2048, 1536)), 1);
    QCOMPARE(hSetVideoWindow(0, surface.winId()), 1);
    QCOMPARE(hSetVideoWindowPosition(0, 0, 0, 320, 240), 1);
    QCOMPARE(hPlay(0), 1);
    QVERIFY(surface.findChild<VideoOverlay*>());
    QCOMPARE(hSetVideoWindow(0, 0), 1);
    QTRY_VERIFY(!surface.findChild<VideoOverlay*>());
    QCOMPARE(hSetVideoWindow(0, surface.winId()), 1);
    QVERIFY(surface.findChild<VideoOverlay*>());
    QCOMPARE(hStop(0), 1);
    QCOMPARE(hCloseCameraDevice(0), 1);
    QTRY_VERIFY(!surface.findChild<VideoOverlay*>());
    QCOMPARE(hPlay(0), 0);
    // A handle that belongs to no widget is refused.
    QCOMPARE(hOpenCameraDevice(0, paramsWithStill(2048, 1536)), 1);
    QCOMPARE(hSetVideoWindow(0, WId(0x7fffffff)), 0);
}

QTEST_MAIN(TestCameraComponent)
#include "tst_cameracomponent.moc"
