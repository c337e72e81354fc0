#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "capture/CameraBackend.h"
#include "capture/CaptureSession.h"
#include "capture/TakePhoto.h"
#include "capture/VirtualCameraBackend.h"
#include "core/TaskFolders.h"
#include "service/HttpCommunicationThread.h"

// The road of one photograph: the take button, the simulated camera's still, the two copies on disk, the upload
// worker storing the image and announcing it, the upload folder emptied and the preview kept. A process of its own:
// the worker lives until the process ends.

using Endpoint = ServiceEmulator::Endpoint;

namespace {

const QString kUid = QStringLiteral("teacher01");
const QString kTask = QStringLiteral("t-capture");

} // namespace

class TestCaptureToUpload : public QObject
{
    Q_OBJECT

private slots:
    void photographIsUploadedAndPreviewKept();
};

void TestCaptureToUpload::photographIsUploadedAndPreviewKept()
{
    ScopedWorkingDirectory cwd;
    QVERIFY(cwd.isValid());
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    HttpCommunicationThread::setTaskId(kTask);
    HttpCommunicationThread::setToken(QStringLiteral("teacher-token"));
    HttpCommunicationThread::setUid(kUid);
    QVERIFY(QDir().mkpath(QDir::currentPath() + QStringLiteral("/image")));
    CameraComponent::setBackend(std::make_unique<VirtualCameraBackend>());

    TakePhoto page;
    page.initTaskFolder(TaskFolders::inWorkingFolder(kTask));
    page.startPNG();
    QVERIFY(CaptureSession::process().isOpen());
    HttpCommunicationThread* worker = HttpCommunicationThread::getInstance();
    worker->setTaskFolders(TaskFolders::inWorkingFolder(kTask));
    worker->start();

    const QString folder = QDir::currentPath() + QStringLiteral("/image/") + kTask + QLatin1Char('/');
    page.take();
    QTRY_COMPARE_WITH_TIMEOUT(CaptureSession::process().capturedCount(), 1, 10000);
    const QStringList previews = QDir(folder + QStringLiteral("preview")).entryList({QStringLiteral("*.jpg")});
    QCOMPARE(previews.size(), 1);
    const QByteArray photograph = TestUtils::readFile(folder + QStringLiteral("preview/") + previews.first());
    QCOMPARE(QImage::fromData(photograph, "JPG").size(), QSize(2048, 1536));

    QTRY_COMPARE_WITH_TIMEOUT(emulator->storedKeys().size(), 1, 15000);
    const QString key = emulator->storedKeys().first();
    QVERIFY2(QRegularExpression(QStringLiteral("^paper/origin/") + kUid + QLatin1Char('/') + kTask +
                                QStringLiteral("/\\d+\\.jpg$"))
                 .match(key)
                 .hasMatch(),
             qPrintable(key));
    QVERIFY(emulator->objectBytes(key) == photograph);
    QTRY_COMPARE_WITH_TIMEOUT(emulator->requestCount(Endpoint::Analyse), 1, 5000);
    // The upload folder is emptied; the preview stays for the strip.
    QTRY_VERIFY_WITH_TIMEOUT(QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files).isEmpty(), 5000);
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("preview/") + previews.first()));

    worker->requestInterruption();
    QVERIFY(worker->wait(10000));
    CaptureSession::process().reset();
}

QTEST_MAIN(TestCaptureToUpload)
#include "tst_capturetoupload.moc"
