#include "capture/V4l2CameraBackend.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "TestUtils.h"
#include "capture/CameraComponent.h"

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

class TestV4l2Camera : public QObject
{
    Q_OBJECT

private slots:
    void readsUsbIdsFromSysfs_data();
    void readsUsbIdsFromSysfs();
    void nodesThatAreNoCameraAreSkipped();
    void componentFailsCleanlyWithoutDevice();
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

QTEST_MAIN(TestV4l2Camera)
#include "tst_v4l2camera.moc"
