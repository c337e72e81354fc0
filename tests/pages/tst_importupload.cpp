#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include "PageTestData.h"
#include "pages/HomePage.h"
#include "pages/PageFileDialog.h"
#include "pages/PageMessageBox.h"

// The import hands large files to the running upload worker: the store must only ever receive them whole. A process
// of its own, because the worker, once started, lives until the process ends.

namespace {

const QString TaskId = QStringLiteral("import-task");

} // namespace

class TestImportUpload : public QObject
{
    Q_OBJECT

private slots:
    void largeImportIsUploadedWhole();
};

void TestImportUpload::largeImportIsUploadedWhole()
{
    ScopedWorkingDirectory dir;
    QVERIFY(dir.isValid());
    EmulatorFixture emulator;
    QVERIFY(emulator.isRunning());
    PageTestData::setLaunchValues(TaskId);
    QVERIFY(QDir().mkdir(QStringLiteral("image")));
    QVERIFY(QDir().mkdir(QStringLiteral("image/") + TaskId));
    HttpCommunicationThread::getInstance()->start();

    // Two scans of 20 MB and one small page, imported while the worker is already passing over the folder.
    const QList<QByteArray> contents = {TestUtils::patternBytes(20 * 1024 * 1024, 1),
                                        TestUtils::patternBytes(20 * 1024 * 1024, 2),
                                        TestUtils::patternBytes(300 * 1024, 3)};
    QStringList paths;
    for (int i = 0; i < contents.size(); ++i) {
        paths << dir.filePath(QStringLiteral("scans/sheet%1.jpg").arg(i));
        QVERIFY(TestUtils::writeFile(paths.last(), contents.at(i)));
    }
    PageFileDialog::setNextFileNames(paths);
    QStringList warnings;
    PageMessageBox::setRecorder([&](const QString&, const QString& text) { warnings << text; });
    HomePage page;
    QSignalSpy started(&page, SIGNAL(uploadPicStarted()));

    page.uploadPng();

    QCOMPARE(started.count(), 1);
    QVERIFY(warnings.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(emulator->storedKeys().size(), contents.size(), 60000);
    QList<QByteArray> stored;
    for (const QString& key : emulator->storedKeys())
        stored << emulator->objectBytes(key);
    for (const QByteArray& content : contents)
        QVERIFY2(stored.contains(content), "every object in the store equals a whole source file");
    for (const ServiceEmulator::UploadRecord& upload : emulator->uploads())
        QCOMPARE(upload.status, 200);
    QTRY_VERIFY_WITH_TIMEOUT(QDir(QStringLiteral("image/") + TaskId).entryList(QDir::Files).isEmpty(), 10000);
}

QTEST_MAIN(TestImportUpload)
#include "tst_importupload.moc"
