#include <functional>
#include <memory>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "app/TitleBar.h"
#include "pages/DisplayPhotoFooter.h"
#include "pages/HomePage.h"
#include "widgets/CircleButton.h"
#include "widgets/MyMessageBox.h"

// Every run of this test is on a screen scaled by 2 (set before the application starts, as a user's desktop would).

namespace {

const QString kResources = QStringLiteral(":/AmbrelClient/Resources/");

using Factory = std::function<QWidget*()>;

// What a widget shows for one image: the label's pixmap, or the button's icon at the image's logical size.
QPixmap shownPixmap(QWidget* widget, const QSize& logicalSize)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->pixmap(Qt::ReturnByValue);
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->icon().pixmap(logicalSize);
    return QPixmap();
}

QLabel* labelWithPixmap(QWidget* parent)
{
    for (QLabel* label : parent->findChildren<QLabel*>())
        if (!label->pixmap(Qt::ReturnByValue).isNull())
            return label;
    return nullptr;
}

} // namespace

Q_DECLARE_METATYPE(Factory)

class TestHiDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void imagesUseTheirDoubledDrawing_data();
    void imagesUseTheirDoubledDrawing();
};

void TestHiDpi::initTestCase()
{
    Q_INIT_RESOURCE(ambrelclient);
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
}

void TestHiDpi::imagesUseTheirDoubledDrawing_data()
{
    QTest::addColumn<Factory>("make");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("drawing");

    // An empty object name: the one label of the widget that shows a pixmap.
    const Factory titleBar = [] { return new TitleBar; };
    QTest::newRow("title bar logo") << titleBar << QString() << "logo@2x.bmp";
    QTest::newRow("title bar close") << titleBar << "closeButton"
                                     << "close@2x.png";
    QTest::newRow("title bar minimise") << titleBar << "minimizeButton"
                                        << "min@2x.png";
    const Factory footer = [] { return new DisplayPhotoFooter; };
    QTest::newRow("footer notice mark") << footer << "label_7"
                                        << "icon@2x.png";
    QTest::newRow("footer done mark") << footer << "label_6"
                                      << "wancheng@2x.png";
    QTest::newRow("hint box icon") << Factory([] { return new MyMessageBox; }) << "iconLabel"
                                   << "ic_normal_hint@2x.png";
    QTest::newRow("home page start") << Factory([] { return new HomePage; }) << "pushButton"
                                     << "startButton@2x.png";
    QTest::newRow("take button") << Factory([] { return new CircleButton; }) << QString() << "BK1@2x.png";
}

void TestHiDpi::imagesUseTheirDoubledDrawing()
{
    QFETCH(Factory, make);
    QFETCH(QString, objectName);
    QFETCH(QString, drawing);

    const std::unique_ptr<QWidget> top(make());
    QWidget* widget = top.get();
    if (!objectName.isEmpty())
        widget = top->findChild<QWidget*>(objectName);
    else if (!qobject_cast<QAbstractButton*>(widget))
        widget = labelWithPixmap(top.get());
    QVERIFY(widget);

    const QImage expected(kResources + drawing);
    QVERIFY(!expected.isNull());
    const QPixmap shown = shownPixmap(widget, expected.size() / 2);
    QVERIFY(!shown.isNull());
    // Drawn for twice the density and kept at its logical size; a 1x image blown up would have ratio 1 or other
    // pixels.
    QCOMPARE(shown.devicePixelRatio(), 2.0);
    // Compared in the form the pixmap stores (premultiplied, and on a 30-bit screen with two bits of alpha): turning
    // a premultiplied pixel back into a straight one goes through the processor's approximate reciprocal, whose
    // last bit differs between processors.
    const QImage stored = shown.toImage();
    QCOMPARE(stored, expected.convertToFormat(stored.format()));
}

int main(int argc, char* argv[])
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    TestHiDpi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"
