#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include "PageTestData.h"
#include "TestDataPath.h"
#include "core/TaskFolders.h"
#include "pages/HomePage.h"
#include "widgets/FileDialog.h"
#include "widgets/MessageBox.h"

// The import hands large files to the running upload worker: the store must only ever receive them whole, and every
// file the dialog offers reaches it. A process of its own, because the worker, once started, lives until the process
// ends.

namespace {

const QString TaskId = QStringLiteral("import-task");

} // namespace

class TestImportUpload : public QObject
{
    Q_OBJECT

private slots:
    void everyImportReachesTheStoreWhole();
};

void TestImportUpload::everyImportReachesTheStoreWhole()
{
    ScopedWorkingDirectory dir;
    QVERIFY(dir.isValid());
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    PageTestData::setLaunchValues(TaskId);
    QVERIFY(QDir().mkdir(QStringLiteral("image")));
    QVERIFY(QDir().mkdir(QStringLiteral("image/") + TaskId));
    HttpCommunicationThread::getInstance()->setTaskFolders(TaskFolders::inWorkingFolder(TaskId));
    HttpCommunicationThread::getInstance()->start();

    // Two scans of 20 MB and one small page, imported while the worker is already passing over the folder.
    const QList<QByteArray> contents = {TestUtils::patternJpeg(20 * 1024 * 1024, 1),
                                        TestUtils::patternJpeg(20 * 1024 * 1024, 2),
                                        TestUtils::patternJpeg(300 * 1024, 3)};
    QStringList paths;
    for (int i = 0; i < contents.size(); ++i) {
        paths << dir.filePath(QStringLiteral("scans/sheet%1.jpg").arg(i));
        QVERIFY(TestUtils::writeFile(paths.last(), contents.at(i)));
    }
    // Another sheet under a name already taken, and the other types the dialog offers.
    const QByteArray otherSheet = TestUtils::patternJpeg(100 * 1024, 4);
    const QByteArray jpeg = TestUtils::patternJpeg(80 * 1024, 5);
    paths << dir.filePath(QStringLiteral("scans2/sheet0.jpg")) << dir.filePath(QStringLiteral("scans/x.jpeg"))
          << QStringLiteral(AMBREL_TEST_DATA_DIR "/quadrants.gif") << dir.filePath(QStringLiteral("scans/x.tif"));
    QVERIFY(TestUtils::writeFile(paths[3], otherSheet));
    QVERIFY(TestUtils::writeFile(paths[4], jpeg));
    QVERIFY(TestUtils::makeTestImage(64, 48).save(paths[6], "TIFF"));
    FileDialog::setNextFileNames(paths);
    QStringList warnings;
    MessageBox::setAnswerer([&](const MessageBox::Shown& box) {
        warnings << box.text;
        return QMessageBox::Ok;
    });
    HomePage page;
    page.setTaskFolders(TaskFolders::inWorkingFolder(TaskId));
    QSignalSpy started(&page, SIGNAL(uploadPicStarted()));

    page.uploadPng();

    QCOMPARE(started.count(), 1);
    QVERIFY(warnings.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(emulator->storedKeys().size(), contents.size() + 4, 60000);
    QList<QByteArray> stored;
    QList<QImage> storedPngs;
    for (const QString& key : emulator->storedKeys()) {
        stored << emulator->objectBytes(key);
        if (key.endsWith(QLatin1String(".png")))
            storedPngs << QImage::fromData(stored.last(), "PNG");
    }
    for (const QByteArray& content : contents + QList<QByteArray>{otherSheet, jpeg})
        QVERIFY2(stored.contains(content), "every object in the store equals a whole source file");
    QCOMPARE(storedPngs.size(), 2);
    const QList<QSize> sizes = {storedPngs[0].size(), storedPngs[1].size()};
    QVERIFY(sizes.contains(QSize(16, 8)));
    QVERIFY(sizes.contains(QSize(64, 48)));
    QCOMPARE(emulator->requestCount(ServiceEmulator::Endpoint::Analyse), contents.size() + 4);
    for (const ServiceEmulator::UploadRecord& upload : emulator->uploads())
        QCOMPARE(upload.status, 200);
    QTRY_VERIFY_WITH_TIMEOUT(QDir(QStringLiteral("image/") + TaskId).entryList(QDir::Files).isEmpty(), 10000);

    // Stopped before the service and the folder go, so that it does not pass over a vanished folder while the
    // program is torn down.
    HttpCommunicationThread::getInstance()->requestInterruption();
    QVERIFY(HttpCommunicationThread::getInstance()->wait(10000));
}

QTEST_MAIN(TestImportUpload)
#include "tst_importupload.moc"
