#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "TestUtils.h"
#include "pages/HomePage.h"
#include "widgets/FileDialog.h"

class TestHomePage : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { FileDialog::setChooser({}); }

    void texts_data();
    void texts();
    void startButtonAsksForTheCapturePage();
    void uploadButtonRunsTheImport();
    void framesThePageInBlack();
};

void TestHomePage::texts_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("text");
    QTest::newRow("upload hint") << "label_2" << QStringLiteral("上传已扫描/拍照的测试照片");
    QTest::newRow("device hint") << "label" << QStringLiteral("请调整设备至合理角度和高度，并确保光线合理");
    QTest::newRow("steps title") << "label_4" << QStringLiteral("步骤：");
    QTest::newRow("step 1") << "label_3" << QStringLiteral("1");
    QTest::newRow("step 1 caption") << "label_5" << QStringLiteral("拍照/上传");
    QTest::newRow("step 2") << "label_6" << QStringLiteral("2");
    QTest::newRow("step 2 caption") << "label_8" << QStringLiteral("补拍");
    QTest::newRow("step 3") << "label_9" << QStringLiteral("3");
    QTest::newRow("step 3 caption") << "label_11" << QStringLiteral("查看分数");
}

void TestHomePage::texts()
{
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    HomePage page;

    auto* label = page.findChild<QLabel*>(objectName);

    QVERIFY(label);
    QCOMPARE(label->text(), text);
}

void TestHomePage::startButtonAsksForTheCapturePage()
{
    HomePage page;
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy start(&page, SIGNAL(startPhoto()));
    QSignalSpy uploaded(&page, SIGNAL(uploadPicStarted()));

    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("pushButton")), Qt::LeftButton);

    QCOMPARE(start.count(), 1);
    QCOMPARE(uploaded.count(), 0);
}

void TestHomePage::uploadButtonRunsTheImport()
{
    ScopedWorkingDirectory dir;
    QVERIFY(dir.isValid());
    int asked = 0;
    FileDialog::setChooser([&](const FileDialog::Request&) {
        ++asked;
        return QStringList();
    });
    HomePage page;
    page.setTaskFolders(TaskFolders::inWorkingFolder(QStringLiteral("home-task")));
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy uploaded(&page, SIGNAL(uploadPicStarted()));

    QTest::mouseClick(page.findChild<QPushButton*>(QStringLiteral("pushButton_2")), Qt::LeftButton);

    QCOMPARE(asked, 1);
    QCOMPARE(uploaded.count(), 1);
}

void TestHomePage::framesThePageInBlack()
{
    HomePage page;
    page.resize(860, 518);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));

    const QImage image = page.grab().toImage();

    // The frame is the page's rectangle moved one pixel up and left: its right and bottom edges fall on the last
    // column and row, its left and top edges outside.
    const int right = page.width() - 1;
    const int bottom = page.height() - 1;
    QCOMPARE(QColor(image.pixel(right, 40)), QColor(Qt::black));
    QCOMPARE(QColor(image.pixel(page.width() - 100, bottom)), QColor(Qt::black));
    QCOMPARE(QColor(image.pixel(right - 1, 40)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(page.width() - 100, 0)), QColor(Qt::white));
}

QTEST_MAIN(TestHomePage)
#include "tst_homepage.moc"
