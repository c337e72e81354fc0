#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "core/TaskFolders.h"
#include "service/HttpCommunicationThread.h"
#include "upload/CloudUploader.h"
#include "upload/QueueStatus.h"
#include "upload/UploadFolder.h"

// The single worker as the main window runs it, and the cloud client's life cycle. A process of its own: the
// worker, once created, lives until the process ends.

using Endpoint = ServiceEmulator::Endpoint;

namespace {

const QString kUid = QStringLiteral("u7");
const QString kTask = QStringLiteral("t42");

} // namespace

class TestUploadThread : public QObject
{
    Q_OBJECT

private slots:
    void clientCountGuardsGlobalState();
    void workerThreadEndToEnd();
};

void TestUploadThread::clientCountGuardsGlobalState()
{
    ScopedWorkingDirectory cwd;
    EmulatorFixture emulator;
    // Runs before the worker exists, so no client is alive yet.
    QCOMPARE(CloudUploader::clientCount(), 0);
    QVERIFY(CloudUploader::globalUploadUrl().isEmpty());
    {
        CloudUploader first;
        QCOMPARE(CloudUploader::globalUploadUrl(), QUrl(emulator.uploadUrl()));
        {
            CloudUploader second(QUrl(QStringLiteral("http://127.0.0.1:1/")));
            QCOMPARE(CloudUploader::clientCount(), 2);
        }
        // One client gone: the process-wide state stays for the other.
        QCOMPARE(CloudUploader::clientCount(), 1);
        QCOMPARE(CloudUploader::globalUploadUrl(), QUrl(emulator.uploadUrl()));
    }
    QCOMPARE(CloudUploader::clientCount(), 0);
    QVERIFY(CloudUploader::globalUploadUrl().isEmpty());
}

void TestUploadThread::workerThreadEndToEnd()
{
    ScopedWorkingDirectory cwd;
    EmulatorFixture emulator;
    HttpCommunicationThread::setTaskId(kTask);
    HttpCommunicationThread::setToken(QStringLiteral("teacher-token"));
    HttpCommunicationThread::setUid(kUid);
    QVERIFY(QDir().mkpath(QDir::currentPath() + "/image"));

    HttpCommunicationThread* worker = HttpCommunicationThread::getInstance();
    QCOMPARE(HttpCommunicationThread::getInstance(), worker);
    worker->setTaskFolders(TaskFolders::inWorkingFolder(kTask));
    worker->start();

    const QString folder = QDir::currentPath() + "/image/" + kTask + "/";
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(folder).isDir(), 5000);
    const QByteArray jpeg = TestUtils::patternJpeg(50000, 3);
    QVERIFY(UploadFolder::placeBytes(folder, "{a1b2}.jpg", jpeg));

    QTRY_COMPARE_WITH_TIMEOUT(emulator->storedKeys().size(), 1, 10000);
    QVERIFY(emulator->objectBytes(emulator->storedKeys()[0]) == jpeg);
    QTRY_COMPARE_WITH_TIMEOUT(emulator->requestCount(Endpoint::Analyse), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(folder + "{a1b2}.jpg"), 5000);
    QCOMPARE(emulator->counts(kTask).uploaded, 1);

    // The worker now waits on the folder: a photograph handed over is taken on the change notification, well
    // before the safety pass 10 s on would find it.
    const QByteArray second = TestUtils::patternJpeg(20000, 4);
    QVERIFY(UploadFolder::placeBytes(folder, "{c3d4}.jpg", second));
    QTRY_COMPARE_WITH_TIMEOUT(emulator->storedKeys().size(), 2, 5000);
    QVERIFY(emulator->objectBytes(emulator->storedKeys()[1]) == second);

    // A sheet the store will not take is kept and published as refused; the store answered, so it is in reach.
    emulator->addFault(Endpoint::Upload, ServiceEmulator::Fault{ServiceEmulator::Fault::UploadStatus, 413, 1});
    QVERIFY(UploadFolder::placeBytes(folder, "{e5f6}.jpg", TestUtils::patternJpeg(20000, 5)));
    QTRY_COMPARE_WITH_TIMEOUT(QueueStatus::instance()->current().refused(), 1, 5000);
    QCOMPARE(QueueStatus::instance()->current().refusedImages(),
             QStringList{QStringLiteral("{e5f6}.jpg（存储服务拒收（HTTP 413））")});
    QVERIFY(QFileInfo::exists(folder + "{e5f6}.jpg"));
    QCOMPARE(QueueStatus::instance()->current().link, QueueState::Link::Ok);

    // A photograph that takes long to send (the store answers after 8 s, as a large one over a slow link): sheets
    // dropped in meanwhile are counted while it is still on its way, not once it has arrived.
    emulator->addFault(Endpoint::Upload, ServiceEmulator::Fault{ServiceEmulator::Fault::Delay, 8000, 1});
    QVERIFY(UploadFolder::placeBytes(folder, "{a7b8}.jpg", TestUtils::patternJpeg(20000, 6)));
    QTRY_COMPARE_WITH_TIMEOUT(QueueStatus::instance()->current().inFlight(), 1, 5000);
    QVERIFY(UploadFolder::placeBytes(folder, "{c9d0}.jpg", TestUtils::patternJpeg(20000, 7)));
    QVERIFY(UploadFolder::placeBytes(folder, "{e1f2}.jpg", TestUtils::patternJpeg(20000, 8)));
    QTRY_COMPARE_WITH_TIMEOUT(QueueStatus::instance()->current().pending(), 3, 5000);
    QCOMPARE(QueueStatus::instance()->current().inFlight(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(emulator->storedKeys().size(), 5, 20000);

    worker->requestInterruption();
    QVERIFY(worker->wait(10000));
}

QTEST_GUILESS_MAIN(TestUploadThread)
#include "tst_uploadthread.moc"
