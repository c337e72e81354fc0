#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

#include "app/AmbrelClient.h"
#include "app/StartUp.h"
#include "app/TitleBar.h"

namespace {

// Stands in for the main window: records which of its own handlers saw an event.
class Host : public QWidget
{
public:
    Host()
    {
        resize(860, 543);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        bar = new TitleBar(this);
        layout->addWidget(bar);
        layout->addStretch();
        installEventFilter(bar);
    }

    TitleBar* bar = nullptr;
    int resizeEvents = 0;
    int changeEvents = 0;

protected:
    void resizeEvent(QResizeEvent*) override { ++resizeEvents; }
    void changeEvent(QEvent*) override { ++changeEvents; }
};

QPushButton* button(TitleBar* bar, const char* name)
{
    return bar->findChild<QPushButton*>(QLatin1String(name));
}

QImage iconImage(const QPushButton* button)
{
    return button->icon().pixmap(QSize(27, 24)).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage expectedIcon(const QString& name)
{
    return QPixmap(QStringLiteral(":/AmbrelClient/Resources/") + name)
        .scaled(27, 24, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}

void sendMouse(QWidget* target, QEvent::Type type, const QPoint& local, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, target->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestTitleBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layoutOfTheBar();
    void maximiseToggle_data();
    void maximiseToggle();
    void tooltipAndPropertyFollowTheWindow();
    void filterTable_data();
    void filterTable();
    void titleAndIconChanges();
    void minimiseButton();
    void closeButtonClosesTheWindow();
    void draggingTheStretchMovesTheWindow();
    void windowManagerTakesOnlyARealDrag();
};

void TestTitleBar::initTestCase()
{
    Q_INIT_RESOURCE(ambrelclient);
    // The tooltips are checked in Chinese, as the client shows them.
    QVERIFY(StartUp::installQtTranslations(qApp));
    // The two maximise icons must be told apart by their pixels.
    QVERIFY(!expectedIcon(QStringLiteral("max.png")).isNull());
    QVERIFY(expectedIcon(QStringLiteral("max.png")) != expectedIcon(QStringLiteral("normal.ico")));
}

void TestTitleBar::layoutOfTheBar()
{
    Host host;
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    TitleBar* bar = host.bar;
    QCOMPARE(bar->height(), 24);
    QCOMPARE(bar->geometry().topLeft(), QPoint(0, 0));

    // Left to right: spacer "  ", icon, text " ", the stretch, then minimise, maximise, close at the right end.
    QList<QWidget*> order;
    auto* layout = qobject_cast<QHBoxLayout*>(bar->layout());
    QVERIFY(layout);
    for (int i = 0; i < layout->count(); ++i)
        order << layout->itemAt(i)->widget();
    QCOMPARE(order.size(), 7);
    QCOMPARE(qobject_cast<QLabel*>(order[0])->text(), QStringLiteral("  "));
    QCOMPARE(order[0]->width(), 10);
    QVERIFY(!qobject_cast<QLabel*>(order[1])->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(qobject_cast<QLabel*>(order[2])->text(), QStringLiteral(" "));
    QCOMPARE(order[3]->objectName(), QStringLiteral("whiteLabel"));
    QCOMPARE(order[4], static_cast<QWidget*>(button(bar, "minimizeButton")));
    QCOMPARE(order[5], static_cast<QWidget*>(button(bar, "maximizeButton")));
    QCOMPARE(order[6], static_cast<QWidget*>(button(bar, "closeButton")));
    for (int i = 4; i < 7; ++i)
        QCOMPARE(order[i]->size(), QSize(27, 24));
    QCOMPARE(order[6]->geometry().right(), host.width() - 1);
    QCOMPARE(order[3]->geometry().right() + 1, order[4]->x());
    QCOMPARE(iconImage(button(bar, "minimizeButton")), expectedIcon(QStringLiteral("min.png")));
    QCOMPARE(iconImage(button(bar, "closeButton")), expectedIcon(QStringLiteral("close.png")));
    QCOMPARE(iconImage(button(bar, "maximizeButton")), expectedIcon(QStringLiteral("normal.ico")));
}

void TestTitleBar::maximiseToggle_data()
{
    QTest::addColumn<bool>("doubleClick");
    QTest::newRow("maximise button") << false;
    QTest::newRow("double-click on the stretch area") << true;
}

void TestTitleBar::maximiseToggle()
{
    QFETCH(bool, doubleClick);
    Host host;
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QPushButton* maximize = button(host.bar, "maximizeButton");
    QWidget* stretch = host.bar->findChild<QLabel*>(QStringLiteral("whiteLabel"));
    auto toggle = [&] {
        if (doubleClick)
            QTest::mouseDClick(stretch, Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
        else
            QTest::mouseClick(maximize, Qt::LeftButton);
    };

    toggle();
    QTRY_VERIFY(host.isMaximized());
    QCOMPARE(iconImage(maximize), expectedIcon(QStringLiteral("max.png")));
    QCOMPARE(maximize->toolTip(), QStringLiteral("还原"));

    toggle();
    QTRY_VERIFY(!host.isMaximized());
    QCOMPARE(iconImage(maximize), expectedIcon(QStringLiteral("normal.ico")));
    QCOMPARE(maximize->toolTip(), QStringLiteral("最大化"));
}

void TestTitleBar::tooltipAndPropertyFollowTheWindow()
{
    Host host;
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QPushButton* maximize = button(host.bar, "maximizeButton");

    host.showMaximized();
    QTRY_COMPARE(maximize->property("maximizeProperty").toString(), QStringLiteral("restore"));
    QCOMPARE(maximize->toolTip(), QStringLiteral("还原"));
    // Only the button itself switches its icon.
    QCOMPARE(iconImage(maximize), expectedIcon(QStringLiteral("normal.ico")));

    host.showNormal();
    QTRY_COMPARE(maximize->property("maximizeProperty").toString(), QStringLiteral("maximize"));
    QCOMPARE(maximize->toolTip(), QStringLiteral("最大化"));
}

void TestTitleBar::filterTable_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("watchedIsWidget");
    QTest::addColumn<bool>("consumed");
    QTest::addColumn<bool>("stateUpdated");

    QTest::newRow("resize") << int(QEvent::Resize) << true << true << true;
    QTest::newRow("window state change") << int(QEvent::WindowStateChange) << true << true << true;
    QTest::newRow("title change of a widget") << int(QEvent::WindowTitleChange) << true << true << false;
    QTest::newRow("title change of a plain object") << int(QEvent::WindowTitleChange) << false << true << true;
    QTest::newRow("icon change of a plain object") << int(QEvent::WindowIconChange) << false << true << true;
    QTest::newRow("show passes") << int(QEvent::Show) << true << false << false;
    QTest::newRow("mouse press passes") << int(QEvent::MouseButtonPress) << true << false << false;
}

void TestTitleBar::filterTable()
{
    QFETCH(int, type);
    QFETCH(bool, watchedIsWidget);
    QFETCH(bool, consumed);
    QFETCH(bool, stateUpdated);

    Host host;
    QPushButton* maximize = button(host.bar, "maximizeButton");
    QObject plain;
    QObject* watched = watchedIsWidget ? static_cast<QObject*>(&host) : &plain;
    QEvent event(static_cast<QEvent::Type>(type));
    QCOMPARE(static_cast<QObject*>(host.bar)->eventFilter(watched, &event), consumed);
    QCOMPARE(maximize->property("maximizeProperty").isValid(), stateUpdated);
    if (stateUpdated)
        QCOMPARE(maximize->property("maximizeProperty").toString(), QStringLiteral("maximize"));
}

void TestTitleBar::titleAndIconChanges()
{
    Host host;
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    const int changesBefore = host.changeEvents;
    const int resizesBefore = host.resizeEvents;

    host.setWindowTitle(QStringLiteral("Another title"));
    host.resize(900, 600);
    QTRY_COMPARE(host.bar->width(), 900);
    auto* text = qobject_cast<QLabel*>(host.bar->layout()->itemAt(2)->widget());
    QCOMPARE(text->text(), QStringLiteral(" "));
    // Both were consumed by the bar: the window's own handlers never saw them.
    QCOMPARE(host.changeEvents, changesBefore);
    QCOMPARE(host.resizeEvents, resizesBefore);

    // Shown without an icon of its own, the window leaves the logo in place.
    auto* icon = qobject_cast<QLabel*>(host.bar->layout()->itemAt(1)->widget());
    const QImage logo = QImage(QStringLiteral(":/AmbrelClient/Resources/logo.bmp"));
    QCOMPARE(icon->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_RGB32),
             logo.convertToFormat(QImage::Format_RGB32));

    QPixmap red(64, 32);
    red.fill(Qt::red);
    host.setWindowIcon(QIcon(red));
    const QImage shown = icon->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(shown.size(), QSize(22, 11));
    QCOMPARE(QColor(shown.pixel(5, 5)), QColor(Qt::red));
}

void TestTitleBar::minimiseButton()
{
    Host host;
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QTest::mouseClick(button(host.bar, "minimizeButton"), Qt::LeftButton);
    QTRY_VERIFY(host.isMinimized());
}

void TestTitleBar::closeButtonClosesTheWindow()
{
    Host host;
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QTest::mouseClick(button(host.bar, "closeButton"), Qt::LeftButton);
    QVERIFY(host.isHidden());
}

void TestTitleBar::draggingTheStretchMovesTheWindow()
{
    Host host;
    host.move(100, 100);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QWidget* stretch = host.bar->findChild<QLabel*>(QStringLiteral("whiteLabel"));
    const QPoint start = host.pos();

    // No window manager takes the move over here: the bar follows the mouse itself.
    sendMouse(stretch, QEvent::MouseButtonPress, QPoint(20, 10), Qt::LeftButton);
    sendMouse(stretch, QEvent::MouseMove, QPoint(50, 30), Qt::LeftButton);
    QTRY_COMPARE(host.pos(), start + QPoint(30, 20));
    sendMouse(stretch, QEvent::MouseMove, QPoint(25, 15), Qt::LeftButton);
    QTRY_COMPARE(host.pos(), start + QPoint(35, 25));
    sendMouse(stretch, QEvent::MouseButtonRelease, QPoint(25, 15), Qt::NoButton);

    // After the release, moving the mouse leaves the window where it is.
    const QPoint dropped = host.pos();
    sendMouse(stretch, QEvent::MouseMove, QPoint(80, 10), Qt::NoButton);
    sendMouse(stretch, QEvent::MouseMove, QPoint(80, 10), Qt::LeftButton);
    QCOMPARE(host.pos(), dropped);
}

void TestTitleBar::windowManagerTakesOnlyARealDrag()
{
    // A window manager that takes every move it is offered: from then on it owns the mouse.
    int moves = 0;
    TitleBar::setSystemMoveForTests([&](QWidget*) {
        ++moves;
        return true;
    });
    Host host;
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QWidget* stretch = host.bar->findChild<QLabel*>(QStringLiteral("whiteLabel"));
    const QPoint at(40, 10);

    // A double-click: press, release, double-click, release, with the hand trembling by a pixel.
    sendMouse(stretch, QEvent::MouseButtonPress, at, Qt::LeftButton);
    sendMouse(stretch, QEvent::MouseMove, at + QPoint(1, 0), Qt::LeftButton);
    sendMouse(stretch, QEvent::MouseButtonRelease, at, Qt::NoButton);
    sendMouse(stretch, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    sendMouse(stretch, QEvent::MouseButtonRelease, at, Qt::NoButton);
    QCOMPARE(moves, 0);
    QTRY_VERIFY(host.isMaximized());
    host.showNormal();
    QTRY_VERIFY(!host.isMaximized());

    // A drag: the move is handed over once the pointer has travelled the drag distance, and only once.
    const int distance = QApplication::startDragDistance();
    sendMouse(stretch, QEvent::MouseButtonPress, at, Qt::LeftButton);
    sendMouse(stretch, QEvent::MouseMove, at + QPoint(distance - 1, 0), Qt::LeftButton);
    QCOMPARE(moves, 0);
    sendMouse(stretch, QEvent::MouseMove, at + QPoint(distance + 5, 0), Qt::LeftButton);
    sendMouse(stretch, QEvent::MouseMove, at + QPoint(distance + 20, 0), Qt::LeftButton);
    QCOMPARE(moves, 1);
    sendMouse(stretch, QEvent::MouseButtonRelease, at, Qt::NoButton);
    TitleBar::setSystemMoveForTests({});
}

QTEST_MAIN(TestTitleBar)
#include "tst_titlebar.moc"
