#include <cerrno>
#include <mutex>

#include <linux/videodev2.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "ScriptedV4l2Device.h"
#include "TestUtils.h"
#include "capture/CameraComponent.h"
#include "capture/V4l2CameraBackend.h"
#include "capture/VideoOverlay.h"

namespace {

struct SysfsNode
{
    QString usbDevice;   // relative to the sysfs root
    QString interface;   // below the USB device
    QByteArray idVendor; // file contents, empty: no file
    QByteArray idProduct;
    QByteArray modalias; // of the interface
};

// Lays out sysfs as the kernel does: the class entry's "device" link points at the USB interface, whose parent is
// the USB device.
bool makeNode(const QString& root, const QString& node, const SysfsNode& spec)
{
    const QString device = root + QLatin1Char('/') + spec.usbDevice;
    const QString interface = device + QLatin1Char('/') + spec.interface;
    if (!QDir().mkpath(interface))
        return false;
    if (!spec.idVendor.isEmpty() && !TestUtils::writeFile(device + QStringLiteral("/idVendor"), spec.idVendor))
        return false;
    if (!spec.idProduct.isEmpty() && !TestUtils::writeFile(device + QStringLiteral("/idProduct"), spec.idProduct))
        return false;
    if (!spec.modalias.isEmpty() && !TestUtils::writeFile(interface + QStringLiteral("/modalias"), spec.modalias))
        return false;
    const QString classDir = root + QStringLiteral("/class/video4linux/") + node;
    return QDir().mkpath(classDir) && QFile::link(interface, classDir + QStringLiteral("/device"));
}

struct Delivered
{
    std::mutex mutex;
    QList<QByteArray> stills;
    QList<int> lost;
    // The device being played, and how many calls it had had when its loss was reported.
    std::shared_ptr<ScriptedV4l2Device> device;
    int callsAtLoss = -1;
};

Delivered& delivered()
{
    static Delivered d;
    return d;
}

void collectStill(unsigned char* data, int length)
{
    std::lock_guard<std::mutex> lock(delivered().mutex);
    delivered().stills.append(QByteArray(reinterpret_cast<const char*>(data), length));
}

void collectLoss(int index)
{
    std::lock_guard<std::mutex> lock(delivered().mutex);
    delivered().lost.append(index);
    if (delivered().device)
        delivered().callsAtLoss = delivered().device->callCount();
}

int stillCount()
{
    std::lock_guard<std::mutex> lock(delivered().mutex);
    return delivered().stills.size();
}

QList<int> lostIndexes()
{
    std::lock_guard<std::mutex> lock(delivered().mutex);
    return delivered().lost;
}

using Script = ScriptedV4l2Device::Script;
using Cut = ScriptedV4l2Device::Cut;

Script offering(QVector<ScriptedV4l2Device::Format> formats)
{
    Script script;
    script.formats = std::move(formats);
    return script;
}

QColor colourAt(const QImage& image, double x, double y)
{
    return image.pixelColor(int(x * (image.width() - 1)), int(y * (image.height() - 1)));
}

bool near(const QColor& actual, const QColor& expected)
{
    return qAbs(actual.red() - expected.red()) < 48 && qAbs(actual.green() - expected.green()) < 48 &&
           qAbs(actual.blue() - expected.blue()) < 48;
}

CameraOpenParams someParams()
{
    CameraOpenParams params{};
    params.videoWidth = 2048;
    params.videoHeight = 1536;
    params.bufferCount = 3;
    params.preview = 1;
    params.stillWidth = 2048;
    params.stillHeight = 1536;
    params.stillsEnabled = 1;
    return params;
}

} // namespace

Q_DECLARE_METATYPE(ScriptedV4l2Device::Script)

class TestV4l2Camera : public QObject
{
    Q_OBJECT

private slots:
    void readsUsbIdsFromSysfs_data();
    void readsUsbIdsFromSysfs();
    void nodesThatAreNoCameraAreSkipped();
    void componentFailsCleanlyWithoutDevice();
    void streamsFromScriptedDevice_data();
    void streamsFromScriptedDevice();
};

void TestV4l2Camera::readsUsbIdsFromSysfs_data()
{
    QTest::addColumn<QByteArray>("idVendor");
    QTest::addColumn<QByteArray>("idProduct");
    QTest::addColumn<QByteArray>("modalias");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::newRow("document camera") << QByteArray("0edc\n") << QByteArray("2003\n") << QByteArray() << true << 0x0EDC
                                     << 0x2003;
    QTest::newRow("upper-case hex") << QByteArray("046D") << QByteArray("0825") << QByteArray() << true << 0x046D
                                    << 0x0825;
    QTest::newRow("ids from the modalias only")
        << QByteArray() << QByteArray() << QByteArray("usb:v0EDCp2003d0100dcEFdsc02dp01ic0Eisc01ip00in00\n") << true
        << 0x0EDC << 0x2003;
    QTest::newRow("product file missing, modalias used")
        << QByteArray("1111") << QByteArray() << QByteArray("usb:v0EDCp2003d0100") << true << 0x0EDC << 0x2003;
    QTest::newRow("not hexadecimal") << QByteArray("zz12") << QByteArray("2003") << QByteArray() << false << 0 << 0;
    QTest::newRow("not a USB device") << QByteArray() << QByteArray() << QByteArray("pci:v00008086d00001234") << false
                                      << 0 << 0;
}

void TestV4l2Camera::readsUsbIdsFromSysfs()
{
    QFETCH(QByteArray, idVendor);
    QFETCH(QByteArray, idProduct);
    QFETCH(QByteArray, modalias);
    QFETCH(bool, found);
    QFETCH(int, vendor);
    QFETCH(int, product);
    QTemporaryDir sysfs;
    QVERIFY(makeNode(sysfs.path(), QStringLiteral("video2"),
                     {QStringLiteral("devices/pci0000:00/0000:00:14.0/usb1/1-4"), QStringLiteral("1-4:1.0"), idVendor,
                      idProduct, modalias}));
    int v = -1;
    int p = -1;
    QCOMPARE(V4l2CameraBackend::readUsbIds(sysfs.path(), QStringLiteral("video2"), &v, &p), found);
    if (found) {
        QCOMPARE(v, vendor);
        QCOMPARE(p, product);
    }
    QVERIFY(!V4l2CameraBackend::readUsbIds(sysfs.path(), QStringLiteral("video7"), &v, &p));
}

void TestV4l2Camera::nodesThatAreNoCameraAreSkipped()
{
    QTemporaryDir dev;
    QTemporaryDir sysfs;
    // A regular file and a character device that is no camera both refuse the capability query.
    QVERIFY(TestUtils::writeFile(dev.filePath(QStringLiteral("video0")), "not a device"));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), dev.filePath(QStringLiteral("video1"))));
    QVERIFY(QDir().mkpath(dev.filePath(QStringLiteral("video2"))));
    QVERIFY(TestUtils::writeFile(dev.filePath(QStringLiteral("videoX")), "name without number"));
    V4l2CameraBackend backend(dev.path(), sysfs.path());
    QCOMPARE(backend.deviceCount(), 0);
    int v = 0;
    int p = 0;
    QVERIFY(!backend.deviceIds(0, &v, &p));
    QVERIFY(backend.resolutions(0, 0).isEmpty());
    QVERIFY(backend.open(0, someParams()) == nullptr);
}

void TestV4l2Camera::componentFailsCleanlyWithoutDevice()
{
    QTemporaryDir dev;
    QTemporaryDir sysfs;
    CameraComponent::setBackend(std::make_unique<V4l2CameraBackend>(dev.path(), sysfs.path()));
    QCOMPARE(hEnumVideoDevice(), 0);
    int count = 5;
    QVERIFY(hQuerySupportResolutionAndFormat(0, 1, nullptr, &count));
    QCOMPARE(count, 0);
    QCOMPARE(hOpenCameraDevice(0, someParams()), 0);
    QCOMPARE(hPlay(0), 0);
    QCOMPARE(hStillTrigger(0), 0);
    QCOMPARE(hSetVideoWindowPosition(0, 0, 0, 10, 10), 0);
    QCOMPARE(hStop(0), 0);
    QCOMPARE(hCloseCameraDevice(0), 0);
    QCOMPARE(hFreeVideoDevice(), 1);
}

void TestV4l2Camera::streamsFromScriptedDevice_data()
{
    const quint32 mjpg = V4L2_PIX_FMT_MJPEG;
    const quint32 yuyv = V4L2_PIX_FMT_YUYV;
    QTest::addColumn<Script>("script");
    QTest::addColumn<QSize>("stillAsked");
    QTest::addColumn<bool>("plays");
    QTest::addColumn<bool>("live");
    QTest::addColumn<QSize>("still"); // invalid: the still comes empty
    QTest::addColumn<bool>("lost");
    QTest::addColumn<QStringList>("modes");

    const QVector<QSize> camera{{2048, 1536}, {1600, 1200}, {640, 480}};
    QTest::newRow("MJPEG camera, still at the video size")
        << offering({{mjpg, camera}}) << QSize(2048, 1536) << true << true << QSize(2048, 1536) << false
        << QStringList{"set MJPG 2048x1536"};
    QTest::newRow("JPEG reported instead of MJPEG")
        << offering({{V4L2_PIX_FMT_JPEG, camera}}) << QSize(2048, 1536) << true << true << QSize(2048, 1536) << false
        << QStringList{"set JPEG 2048x1536"};
    QTest::newRow("MJPEG taken where YUYV is offered first")
        << offering({{yuyv, {{640, 480}}}, {mjpg, camera}}) << QSize(2048, 1536) << true << true << QSize(2048, 1536)
        << false << QStringList{"set MJPG 2048x1536"};
    QTest::newRow("YUYV only: converted to JPEG")
        << offering({{yuyv, {{1280, 960}, {640, 480}}}}) << QSize(0, 0) << true << true << QSize(1280, 960) << false
        << QStringList{"set YUYV 1280x960"};
    QTest::newRow("separate still size: switched for the take and back")
        << offering({{mjpg, {{3264, 2448}, {2048, 1536}}}}) << QSize(3264, 2448) << true << true << QSize(3264, 2448)
        << false << QStringList{"set MJPG 2048x1536", "set MJPG 3264x2448", "set MJPG 2048x1536"};
    Script cutAfterSwitch = offering({{mjpg, {{3264, 2448}, {2048, 1536}}}});
    cutAfterSwitch.cut = Cut::FirstAfterStreamOn;
    QTest::newRow("frame cut short: the next whole one is the still")
        << cutAfterSwitch << QSize(3264, 2448) << true << true << QSize(3264, 2448) << false
        << QStringList{"set MJPG 2048x1536", "set MJPG 3264x2448", "set MJPG 2048x1536"};
    Script padded = offering({{mjpg, camera}});
    padded.padded = true;
    QTest::newRow("frames padded with zeros to the buffer")
        << padded << QSize(2048, 1536) << true << true << QSize(2048, 1536) << false
        << QStringList{"set MJPG 2048x1536"};
    Script everyCut = offering({{mjpg, {{640, 480}}}});
    everyCut.cut = Cut::Every;
    QTest::newRow("every frame cut short: no still, no garbage")
        << everyCut << QSize(640, 480) << true << false << QSize() << false << QStringList{"set MJPG 640x480"};
    Script refused = offering({{mjpg, {{640, 480}}}});
    refused.streamOnError = ENOSPC;
    QTest::newRow("STREAMON refused for lack of USB bandwidth")
        << refused << QSize(640, 480) << false << false << QSize() << false << QStringList{"set MJPG 640x480"};
    Script unplugged = offering({{mjpg, {{640, 480}}}});
    unplugged.framesBeforeLoss = 5;
    QTest::newRow("unplugged while streaming")
        << unplugged << QSize(640, 480) << true << true << QSize() << true << QStringList{"set MJPG 640x480"};
    Script failing = unplugged;
    failing.lossError = EPIPE;
    QTest::newRow("dequeue failing again and again")
        << failing << QSize(640, 480) << true << true << QSize() << true << QStringList{"set MJPG 640x480"};
}

// The stream code as it drives a real device, run against a scripted one through the component's calls.
void TestV4l2Camera::streamsFromScriptedDevice()
{
    QFETCH(Script, script);
    QFETCH(QSize, stillAsked);
    QFETCH(bool, plays);
    QFETCH(bool, live);
    QFETCH(QSize, still);
    QFETCH(bool, lost);
    QFETCH(QStringList, modes);
    {
        std::lock_guard<std::mutex> lock(delivered().mutex);
        delivered().stills.clear();
        delivered().lost.clear();
    }
    QTemporaryDir dev;
    QVERIFY(TestUtils::writeFile(dev.filePath(QStringLiteral("video0")), QByteArray()));
    auto device = std::make_shared<ScriptedV4l2Device>(script);
    CameraComponent::setBackend(std::make_unique<V4l2CameraBackend>(dev.path(), dev.path(), device));
    {
        std::lock_guard<std::mutex> lock(delivered().mutex);
        delivered().device = device;
        delivered().callsAtLoss = -1;
    }
    hSetDeviceLostCallback(&collectLoss);
    QCOMPARE(hEnumVideoDevice(), 1);

    QLabel surface;
    surface.resize(320, 240);
    CameraOpenParams params = someParams();
    params.stillWidth = stillAsked.width();
    params.stillHeight = stillAsked.height();
    params.stillCallback = &collectStill;
    QCOMPARE(hOpenCameraDevice(0, params), 1);
    QCOMPARE(hSetVideoWindow(0, surface.winId()), 1);
    QCOMPARE(hSetVideoWindowPosition(0, 0, 0, 320, 240), 1);
    QCOMPARE(hPlay(0), plays ? 1 : 0);
    auto* video = surface.findChild<VideoOverlay*>();
    QVERIFY(video);

    if (plays) {
        // Playing again changes nothing: no second start of the stream.
        QCOMPARE(hPlay(0), 1);
        QCOMPARE(device->count(QStringLiteral("STREAMON")), 1);
    } else {
        QCOMPARE(hStillTrigger(0), 0);
    }
    if (live)
        QTRY_VERIFY(video->framesShown() >= 2);

    if (lost) {
        QTRY_COMPARE(lostIndexes(), QList<int>{0});
        QCOMPARE(hStillTrigger(0), 0);
    } else if (plays) {
        QCOMPARE(hStillTrigger(0), 1);
        QTRY_COMPARE_WITH_TIMEOUT(stillCount(), 1, 15000);
        const QByteArray bytes = delivered().stills.first();
        if (still.isValid()) {
            QVERIFY(bytes.startsWith("\xFF\xD8"));
            QVERIFY(bytes.endsWith("\xFF\xD9"));
            const QImage image = QImage::fromData(bytes, "JPG");
            QCOMPARE(image.size(), still);
            // The test picture's corners: red, green, blue, white.
            QVERIFY(near(colourAt(image, 0.03, 0.03), Qt::red));
            QVERIFY(near(colourAt(image, 0.97, 0.03), Qt::green));
            QVERIFY(near(colourAt(image, 0.03, 0.97), Qt::blue));
            QVERIFY(near(colourAt(image, 0.97, 0.97), Qt::white));
        } else {
            QVERIFY(bytes.isEmpty());
        }
        if (live) {
            const int shown = video->framesShown();
            QTRY_VERIFY(video->framesShown() > shown + 1);
        }
        QVERIFY(lostIndexes().isEmpty());
    }

    QStringList set = device->calls().filter(QRegularExpression(QStringLiteral("^set ")));
    QCOMPARE(set, modes);
    QCOMPARE(hStop(0), 1);
    if (lost) {
        // The stream thread ended with its report: between the report and the stop, which waits for the thread, the
        // dead device was not polled again.
        std::lock_guard<std::mutex> lock(delivered().mutex);
        QVERIFY(delivered().callsAtLoss > 0);
        const QStringList afterLoss = device->calls().mid(delivered().callsAtLoss);
        QVERIFY2(afterLoss.filter(QStringLiteral("poll")).isEmpty(), qPrintable(afterLoss.join(QLatin1Char(' '))));
    }
    QCOMPARE(hSetVideoWindow(0, 0), 1);
    QCOMPARE(hCloseCameraDevice(0), 1);
    QCOMPARE(device->mappedBuffers(), 0);
    QCOMPARE(device->openDescriptors(), 0);
    hSetDeviceLostCallback(nullptr);
}

QTEST_MAIN(TestV4l2Camera)
#include "tst_v4l2camera.moc"
