#include <QSignalSpy>
#include <QTest>

#include "widgets/CircleButton.h"

class TestCircleButton : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void releaseInsideSquareEmits_data();
    void releaseInsideSquareEmits();
    void pressShowsNoToolkitLook();
    void pressedLookSwitchesIcon();
};

void TestCircleButton::initTestCase()
{
    Q_INIT_RESOURCE(ambrelclient);
}

void TestCircleButton::releaseInsideSquareEmits_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<bool>("emits");
    QTest::newRow("left border") << QPoint(0, 48) << false;
    QTest::newRow("right border") << QPoint(96, 48) << false;
    QTest::newRow("top border") << QPoint(48, 0) << false;
    QTest::newRow("bottom border") << QPoint(48, 96) << false;
    QTest::newRow("far outside") << QPoint(120, 120) << false;
    QTest::newRow("first pixel inside at top left") << QPoint(1, 1) << true;
    QTest::newRow("last pixel inside at bottom right") << QPoint(95, 95) << true;
    QTest::newRow("centre") << QPoint(48, 48) << true;
    QTest::newRow("corner outside the circle but inside the square") << QPoint(4, 92) << true;
}

void TestCircleButton::releaseInsideSquareEmits()
{
    QFETCH(QPoint, pos);
    QFETCH(bool, emits);
    CircleButton button;
    button.resize(130, 130);
    QSignalSpy own(&button, SIGNAL(clicked()));
    QSignalSpy toolkit(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, pos);
    QCOMPARE(own.count(), emits ? 1 : 0);
    QCOMPARE(toolkit.count(), 0);
}

void TestCircleButton::pressShowsNoToolkitLook()
{
    CircleButton button;
    button.resize(96, 96);
    QSignalSpy pressed(&button, &QAbstractButton::pressed);
    QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, QPoint(48, 48));
    QVERIFY(!button.isDown());
    QCOMPARE(pressed.count(), 0);
    QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, QPoint(48, 48));
}

void TestCircleButton::pressedLookSwitchesIcon()
{
    const QSize size(90, 78);
    const QImage normal = QIcon(QStringLiteral(":/AmbrelClient/Resources/BK1.png")).pixmap(size).toImage();
    const QImage pressed = QIcon(QStringLiteral(":/AmbrelClient/Resources/BK2.png")).pixmap(size).toImage();
    QVERIFY(!normal.isNull());
    QVERIFY(!pressed.isNull());
    if (normal == pressed)
        QSKIP("the normal and pressed button images of this resource bundle look the same");
    CircleButton button;
    QCOMPARE(button.icon().pixmap(size).toImage(), normal);
    button.setPressedLook(true);
    QCOMPARE(button.icon().pixmap(size).toImage(), pressed);
    button.setPressedLook(false);
    QCOMPARE(button.icon().pixmap(size).toImage(), normal);
}

QTEST_MAIN(TestCircleButton)
#include "tst_circlebutton.moc"
