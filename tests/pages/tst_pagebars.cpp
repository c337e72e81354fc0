#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "pages/DisplayPhotoFooter.h"
#include "pages/DisplayPhotoFooterReTake.h"
#include "pages/DisplayPhotoHead.h"
#include "pages/DisplayPhotoHeadReTake.h"

namespace {

template <typename T> T* child(QWidget* parent, const char* name)
{
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qWarning("no child %s", name);
    return found;
}

} // namespace

class TestPageBars : public QObject
{
    Q_OBJECT

private slots:
    void footerStates_data();
    void footerStates();
    void doubleClickOnRefreshEmitsOnce();
    void footerStateEnablesRefreshAgain_data();
    void footerStateEnablesRefreshAgain();
    void processNowAsksForTheReTakePage();
    void headerTitleAndTakePhoto();
    void reTakeHeaderHasNoBackUntilShowBack();
    void reTakeFooterMode();
};

void TestPageBars::footerStates_data()
{
    // Operations applied in order: "all:N" or "partly:A:B".
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QString>("collected");    // label_3, empty when hidden
    QTest::addColumn<QString>("notCollected"); // label_5, empty when hidden
    QTest::addColumn<QString>("closing");      // label, empty when hidden
    QTest::addColumn<bool>("doneIcon");
    QTest::addColumn<bool>("processNow");

    QTest::newRow("just built") << QStringList() << QString() << QString() << QString() << false << true;
    QTest::newRow("all collected 12") << QStringList{"all:12"} << QString() << QString()
                                      << QStringLiteral("12名学生已全部完成采集") << true << false;
    QTest::newRow("partly 3 and 0") << QStringList{"partly:3:0"} << QStringLiteral("3名学生已完成采集，")
                                    << QStringLiteral("0名学生") << QStringLiteral("未成功采集，查看名单并处理")
                                    << false << true;
    QTest::newRow("nobody collected yet")
        << QStringList{"partly:0:7"} << QStringLiteral("0名学生已完成采集，") << QStringLiteral("7名学生")
        << QStringLiteral("未成功采集，查看名单并处理") << false << true;
    QTest::newRow("partly then all") << QStringList{"partly:3:2", "all:5"} << QString() << QString()
                                     << QStringLiteral("5名学生已全部完成采集") << true << false;
    QTest::newRow("all then partly") << QStringList{"all:5", "partly:4:1"} << QStringLiteral("4名学生已完成采集，")
                                     << QStringLiteral("1名学生") << QStringLiteral("未成功采集，查看名单并处理")
                                     << false << true;
}

void TestPageBars::footerStates()
{
    QFETCH(QStringList, operations);
    QFETCH(QString, collected);
    QFETCH(QString, notCollected);
    QFETCH(QString, closing);
    QFETCH(bool, doneIcon);
    QFETCH(bool, processNow);
    DisplayPhotoFooter footer;
    footer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&footer));

    for (const QString& operation : operations) {
        const QStringList parts = operation.split(QLatin1Char(':'));
        if (parts.first() == QLatin1String("all"))
            footer.showAllCollected(parts.at(1).toInt());
        else
            footer.showPartlyCollected(parts.at(1).toInt(), parts.at(2).toInt());
    }

    auto shownText = [&](const char* name) {
        QLabel* label = child<QLabel>(&footer, name);
        return label->isVisible() ? label->text() : QString();
    };
    QCOMPARE(shownText("label_3"), collected);
    QCOMPARE(shownText("label_5"), notCollected);
    QCOMPARE(shownText("label"), closing);
    QCOMPARE(child<QLabel>(&footer, "label_6")->isVisible(), doneIcon);
    QCOMPARE(child<QPushButton>(&footer, "pushButton")->isVisible(), processNow);
    QCOMPARE(shownText("label_2"), QStringLiteral("点击刷新"));
    QVERIFY2(!child<QLabel>(&footer, "label_7")->isVisible(), "the spare notice icon stays hidden");
    QVERIFY2(!child<QLabel>(&footer, "label_8")->isVisible(), "the spare notice text stays hidden");
    if (!notCollected.isEmpty())
        QVERIFY(child<QLabel>(&footer, "label_5")->styleSheet().contains(QStringLiteral("rgba(255,82,82,1)")));
}

void TestPageBars::doubleClickOnRefreshEmitsOnce()
{
    DisplayPhotoFooter footer;
    footer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&footer));
    QSignalSpy refresh(&footer, SIGNAL(refresh()));
    auto* button = child<QPushButton>(&footer, "refresh");

    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);

    QCOMPARE(refresh.count(), 1);
    QVERIFY(!button->isEnabled());
}

void TestPageBars::footerStateEnablesRefreshAgain_data()
{
    QTest::addColumn<bool>("all");
    QTest::newRow("all collected") << true;
    QTest::newRow("partly collected") << false;
}

void TestPageBars::footerStateEnablesRefreshAgain()
{
    QFETCH(bool, all);
    DisplayPhotoFooter footer;
    footer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&footer));
    QSignalSpy refresh(&footer, SIGNAL(refresh()));
    auto* button = child<QPushButton>(&footer, "refresh");
    QTest::mouseClick(button, Qt::LeftButton);

    if (all)
        footer.showAllCollected(1);
    else
        footer.showPartlyCollected(1, 1);
    QTest::mouseClick(button, Qt::LeftButton);

    QCOMPARE(refresh.count(), 2);
}

void TestPageBars::processNowAsksForTheReTakePage()
{
    DisplayPhotoFooter footer;
    footer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&footer));
    QSignalSpy reTake(&footer, SIGNAL(toReMakeupPhoto()));

    QTest::mouseClick(child<QPushButton>(&footer, "pushButton"), Qt::LeftButton);

    QCOMPARE(reTake.count(), 1);
    QCOMPARE(child<QPushButton>(&footer, "pushButton")->text(), QStringLiteral("立即处理"));
}

void TestPageBars::headerTitleAndTakePhoto()
{
    DisplayPhotoHead head;
    head.show();
    QVERIFY(QTest::qWaitForWindowExposed(&head));
    QSignalSpy take(&head, SIGNAL(toTakePhoto()));
    QCOMPARE(child<QLabel>(&head, "title")->text(), QStringLiteral("TextLabel"));

    head.setTitle(QStringLiteral("期中考试 数学"));
    QTest::mouseClick(child<QPushButton>(&head, "takePhoto"), Qt::LeftButton);

    QCOMPARE(child<QLabel>(&head, "title")->text(), QStringLiteral("期中考试 数学"));
    QCOMPARE(take.count(), 1);
    QCOMPARE(child<QPushButton>(&head, "takePhoto")->text(), QStringLiteral("拍照"));
    QCOMPARE(child<QPushButton>(&head, "pushButton_2")->text(), QStringLiteral("上传"));
    QCOMPARE(head.size(), QSize(860, 45));
}

void TestPageBars::reTakeHeaderHasNoBackUntilShowBack()
{
    DisplayPhotoHeadReTake head;
    head.show();
    QVERIFY(QTest::qWaitForWindowExposed(&head));
    QSignalSpy back(&head, SIGNAL(back()));
    auto* button = child<QPushButton>(&head, "back");
    QVERIFY(!button->isVisible());

    head.showBack();
    QTest::mouseClick(button, Qt::LeftButton);

    QVERIFY(button->isVisible());
    QCOMPARE(back.count(), 1);
}

void TestPageBars::reTakeFooterMode()
{
    DisplayPhotoFooterReTake footer;
    footer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&footer));
    QSignalSpy take(&footer, SIGNAL(toTakePhoto()));
    QCOMPARE(child<QPushButton>(&footer, "takePhoto")->text(), QStringLiteral("拍照"));
    QVERIFY(child<QLabel>(&footer, "label_4")->text().isEmpty());

    footer.setReTakeMode();
    QTest::mouseClick(child<QPushButton>(&footer, "takePhoto"), Qt::LeftButton);

    QCOMPARE(child<QPushButton>(&footer, "takePhoto")->text(), QStringLiteral("补拍"));
    QCOMPARE(child<QLabel>(&footer, "label_4")->text(), QStringLiteral("补拍前请确认已参照处理建议处理完所有问题"));
    QCOMPARE(take.count(), 1);
}

QTEST_MAIN(TestPageBars)
#include "tst_pagebars.moc"
