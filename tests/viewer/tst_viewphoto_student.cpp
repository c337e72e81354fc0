#include <QBuffer>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QTest>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "service/HttpCommunicationThread.h"
#include "viewer/ViewPhoto.h"
#include "widgets/MyLabel.h"
#include "widgets/MyMessageBox.h"

namespace {

const QString kTaskId = QStringLiteral("T42");

QByteArray pngBytes(int width, int height)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    TestUtils::makeTestImage(width, height).save(&buffer, "PNG");
    return bytes;
}

} // namespace

// The viewer opened on a student by id: the pages come from the service and are downloaded into the student's
// folder before they are shown.
class TestViewPhotoStudent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsStudentPagesInServiceOrder();
    void seededStudentOpensOnFirstPage();
    void failedCallKeepsPreviousPage_data();
    void failedCallKeepsPreviousPage();

private:
    QLabel* caption() const { return m_viewer->findChild<QLabel*>(QStringLiteral("label_2")); }
    MyLabel* imageLabel() const { return m_viewer->findChild<MyLabel*>(QStringLiteral("label")); }
    MyMessageBox* hint() const { return m_viewer->findChild<MyMessageBox*>(); }

    ScopedWorkingDirectory* m_work = nullptr;
    EmulatorFixture* m_emulator = nullptr;
    QWidget* m_host = nullptr;
    ViewPhoto* m_viewer = nullptr;
};

void TestViewPhotoStudent::initTestCase()
{
    HttpCommunicationThread::setTaskId(kTaskId);
    HttpCommunicationThread::setToken(QStringLiteral("tok"));
    HttpCommunicationThread::setUid(QStringLiteral("u9"));
}

void TestViewPhotoStudent::init()
{
    m_work = new ScopedWorkingDirectory();
    QVERIFY(m_work->isValid());
    m_emulator = new EmulatorFixture();
    QVERIFY(m_emulator->isRunning());
    m_host = new QWidget();
    m_host->resize(1600, 800);
    // As in the main window: hidden until a list is there, then shown at a fixed size.
    m_viewer = new ViewPhoto(m_host);
    m_viewer->hide();
    m_viewer->setFixedSize(1600, 700);
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host));
}

void TestViewPhotoStudent::cleanup()
{
    delete m_host;
    m_host = nullptr;
    m_viewer = nullptr;
    delete m_emulator;
    m_emulator = nullptr;
    delete m_work;
    m_work = nullptr;
}

void TestViewPhotoStudent::showsStudentPagesInServiceOrder()
{
    // The service lists the wide page first; file names sort the other way round.
    (*m_emulator)->addStaticFile(QStringLiteral("/pages/s7/b.png"), pngBytes(1000, 500), "image/png");
    (*m_emulator)->addStaticFile(QStringLiteral("/pages/s7/a.png"), pngBytes(500, 1000), "image/png");
    const QString base = m_emulator->baseUrl();
    (*m_emulator)
        ->setCannedData(
            ServiceEmulator::Endpoint::AnswerInfo,
            QJsonObject{{"studentId", "s7"},
                        {"studentName", QStringLiteral("李雷")},
                        {"images", QJsonArray{QString(base + "/pages/s7/b.png"), QString(base + "/pages/s7/a.png")}}});

    m_viewer->loadStudent(QStringLiteral("s7"));

    const QList<ServiceEmulator::RequestRecord> requests =
        (*m_emulator)->requests(ServiceEmulator::Endpoint::AnswerInfo);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().params.value("studentId"), QStringLiteral("s7"));
    QVERIFY(m_viewer->findChild<QLabel*>(QStringLiteral("label_4"))->isHidden());
    QVERIFY(QFile::exists(m_work->filePath(QStringLiteral("save/T42/s7/b.png"))));
    QVERIFY(QFile::exists(m_work->filePath(QStringLiteral("save/T42/s7/a.png"))));

    // The first listed page is shown: its 2:1 size drives the next resize.
    m_viewer->show();
    QCOMPARE(caption()->text(), QStringLiteral("1"));
    QCOMPARE(imageLabel()->maximumSize(), QSize(1080, 540));

    m_viewer->rightToViewPhoto();
    QCOMPARE(caption()->text(), QStringLiteral("2"));
    QVERIFY(hint()->isHidden());
    m_viewer->rightToViewPhoto();
    QCOMPARE(caption()->text(), QStringLiteral("2"));
    QVERIFY(!hint()->isHidden());
    QCOMPARE(hint()->text(), QStringLiteral("已经是最后一张图片"));
}

void TestViewPhotoStudent::seededStudentOpensOnFirstPage()
{
    (*m_emulator)->seedDemo(kTaskId, QStringLiteral("u9"));
    const QStringList students = (*m_emulator)->studentIds(kTaskId);
    QVERIFY(!students.isEmpty());

    m_viewer->loadStudent(students.first());
    m_viewer->show();
    QCOMPARE(caption()->text(), QStringLiteral("1"));
    // The downloaded page is a real picture: the label draws it, so its surface is not one plain colour.
    QCoreApplication::processEvents();
    const QImage drawn = imageLabel()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    bool plain = true;
    for (int y = 0; y < drawn.height() && plain; y += 3)
        for (int x = 0; x < drawn.width() && plain; x += 3)
            plain = drawn.pixel(x, y) == drawn.pixel(0, 0);
    QVERIFY(!plain);

    // Paging back from the first page only hints.
    m_viewer->leftToViewPhoto();
    QCOMPARE(caption()->text(), QStringLiteral("1"));
    QCOMPARE(hint()->text(), QStringLiteral("已经是第一张图片"));
}

void TestViewPhotoStudent::failedCallKeepsPreviousPage_data()
{
    QTest::addColumn<int>("faultKind");
    QTest::addColumn<int>("faultValue");

    QTest::newRow("service error code") << int(ServiceEmulator::Fault::CodeNonZero) << 500;
    QTest::newRow("HTTP 500") << int(ServiceEmulator::Fault::HttpStatus) << 500;
    QTest::newRow("not JSON") << int(ServiceEmulator::Fault::NonJson) << 0;
    QTest::newRow("unknown student") << -1 << 0;
}

void TestViewPhotoStudent::failedCallKeepsPreviousPage()
{
    QFETCH(int, faultKind);
    QFETCH(int, faultValue);

    const QString page = m_work->filePath(QStringLiteral("local.png"));
    QVERIFY(TestUtils::makeTestImage(400, 400).save(page));
    m_viewer->setPhotoPath({{page, QStringLiteral("3-4")}});
    m_viewer->show();
    QCoreApplication::processEvents();
    const QImage before = imageLabel()->grab().toImage();

    if (faultKind >= 0) {
        ServiceEmulator::Fault fault;
        fault.kind = ServiceEmulator::Fault::Kind(faultKind);
        fault.value = faultValue;
        (*m_emulator)->addFault(ServiceEmulator::Endpoint::AnswerInfo, fault);
    }
    m_viewer->loadStudent(QStringLiteral("nobody"));
    QCOMPARE((*m_emulator)->requestCount(ServiceEmulator::Endpoint::AnswerInfo), 1);

    QCOMPARE(caption()->text(), QStringLiteral("3-4"));
    QCOMPARE(imageLabel()->grab().toImage(), before);
    // The list is now the student's, which is empty: paging does nothing.
    m_viewer->rightToViewPhoto();
    m_viewer->leftToViewPhoto();
    QVERIFY(hint()->isHidden());
}

QTEST_MAIN(TestViewPhotoStudent)
#include "tst_viewphoto_student.moc"
