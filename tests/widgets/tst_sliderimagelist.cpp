#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QScroller>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "TestUtils.h"
#include "widgets/SliderImageList.h"

namespace {

void writeImage(const QString& path, const char* format)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QVERIFY(TestUtils::makeTestImage(40, 30).save(path, format));
}

// A wide picture, its left half one colour and its right half another.
QImage halves(const QColor& left, const QColor& right)
{
    QImage image(400, 100, QImage::Format_RGB32);
    image.fill(left);
    QPainter(&image).fillRect(200, 0, 200, 100, right);
    return image;
}

bool near(const QColor& actual, const QColor& expected)
{
    return qAbs(actual.red() - expected.red()) < 40 && qAbs(actual.green() - expected.green()) < 40 &&
           qAbs(actual.blue() - expected.blue()) < 40;
}

} // namespace

class TestSliderImageList : public QObject
{
    Q_OBJECT

private slots:
    void loadFolderListsJpegAndBmpByName_data();
    void loadFolderListsJpegAndBmpByName();
    void addImageAppendsAfterFolder_data();
    void addImageAppendsAfterFolder();
    void thumbnailsShowTheWholePicture_data();
    void thumbnailsShowTheWholePicture();
    void scrollingClampsAtEnds_data();
    void scrollingClampsAtEnds();
    void currentRowChangeEmitsPath();
    void clickOpensTheImageOfItsCell();
    void outOfRangeIndexEmitsNothing_data();
    void outOfRangeIndexEmitsNothing();
    void dragScrollsKinetically();
};

void TestSliderImageList::loadFolderListsJpegAndBmpByName_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("png is left out, case ignored")
        << QStringList{"b.JPG", "a.bmp", "c.png"} << QStringList{"a.bmp", "b.JPG"};
    QTest::newRow("sorted by name without regard to case")
        << QStringList{"B.jpg", "a.jpg", "C.BMP", "{x}.jpg"} << QStringList{"a.jpg", "B.jpg", "C.BMP", "{x}.jpg"};
    QTest::newRow("other extensions are skipped")
        << QStringList{"a.jpeg", "b.gif", "c.jpg.tmp", "d.jpg"} << QStringList{"d.jpg"};
    QTest::newRow("empty folder") << QStringList{} << QStringList{};
}

void TestSliderImageList::loadFolderListsJpegAndBmpByName()
{
    QFETCH(QStringList, present);
    QFETCH(QStringList, listed);
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/preview/");
    QDir().mkpath(folder);
    for (const QString& name : present) {
        const QString suffix = QFileInfo(name).suffix().toLower();
        writeImage(folder + name, suffix == QLatin1String("bmp")   ? "BMP"
                                  : suffix == QLatin1String("png") ? "PNG"
                                                                   : "JPG");
    }
    // A folder whose name looks like an image is not a file.
    QDir().mkpath(folder + QStringLiteral("z.jpg"));

    SliderImageList strip;
    strip.loadFolder(folder);
    QStringList expected;
    for (const QString& name : listed)
        expected << folder + name;
    QCOMPARE(strip.imageFiles(), expected);
    QCOMPARE(strip.findChild<QListWidget*>(QStringLiteral("listWidget"))->count(), listed.size());
}

void TestSliderImageList::addImageAppendsAfterFolder_data()
{
    QTest::addColumn<bool>("decodable");
    QTest::addColumn<int>("earlier"); // photographs in the folder before it
    QTest::newRow("a picture") << true << 1;
    // Rows and files stay in step: a click on a later cell must still open that cell's file.
    QTest::newRow("a file that cannot be decoded") << false << 1;
    // Far more than the strip shows: the new photograph scrolls into view.
    QTest::newRow("after 30 photographs") << true << 30;
}

void TestSliderImageList::addImageAppendsAfterFolder()
{
    QFETCH(bool, decodable);
    QFETCH(int, earlier);
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/");
    QStringList expected;
    for (int i = 0; i < earlier; ++i) {
        expected.append(folder + QStringLiteral("old%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
        writeImage(expected.last(), "JPG");
    }
    const QString added = dir.filePath(QStringLiteral("elsewhere/new.png"));
    if (decodable)
        writeImage(added, "PNG");
    else
        QVERIFY(TestUtils::writeFile(added, "\x89PNG but nothing after it"));
    expected.append(added);

    SliderImageList strip;
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    strip.loadFolder(folder);
    strip.addImage(added);
    QCOMPARE(strip.imageFiles(), expected);
    auto* list = strip.findChild<QListWidget*>(QStringLiteral("listWidget"));
    QCOMPARE(list->count(), earlier + 1);
    // The newest cell lies wholly inside the visible part of the strip.
    QTRY_VERIFY(list->viewport()->rect().contains(list->visualItemRect(list->item(earlier))));
}

void TestSliderImageList::thumbnailsShowTheWholePicture_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("added after a photograph") << "add";
    QTest::newRow("listed from the folder") << "folder";
    QTest::newRow("listed again after the photograph changed") << "changed";
}

void TestSliderImageList::thumbnailsShowTheWholePicture()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/");
    const QString path = folder + QStringLiteral("wide.jpg");
    QVERIFY(halves(Qt::red, Qt::blue).save(path));
    QColor left = Qt::red;
    QColor right = Qt::blue;
    SliderImageList strip;
    auto* list = strip.findChild<QListWidget*>(QStringLiteral("listWidget"));
    if (how == QLatin1String("add")) {
        strip.addImage(path);
    } else {
        if (how == QLatin1String("changed")) {
            SliderImageList earlier;
            earlier.loadFolder(folder);
            QTRY_VERIFY(!earlier.findChild<QListWidget*>()->item(0)->icon().isNull());
            QVERIFY(halves(Qt::blue, Qt::red).save(path));
            QVERIFY(TestUtils::setModified(path, QDateTime::currentDateTime().addSecs(60)));
            std::swap(left, right);
        }
        strip.loadFolder(folder);
    }
    QCOMPARE(list->iconSize(), QSize(55, 60));
    QTRY_VERIFY(!list->item(0)->icon().isNull());
    QCOMPARE(list->item(0)->icon().availableSizes(), QList<QSize>{QSize(50, 50)});
    // Squeezed to 50 x 50, aspect ratio ignored: both halves, from top to bottom.
    const QImage thumbnail = list->item(0)->icon().pixmap(QSize(50, 50)).toImage();
    for (int y : {2, 25, 47}) {
        QVERIFY(near(thumbnail.pixelColor(8, y), left));
        QVERIFY(near(thumbnail.pixelColor(42, y), right));
    }
}

void TestSliderImageList::scrollingClampsAtEnds_data()
{
    QTest::addColumn<QString>("start"); // "min+N" or "max-N"
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("end");
    QTest::newRow("left from 5 stops at the minimum") << "min+5"
                                                      << "pushButton"
                                                      << "min+0";
    QTest::newRow("left from 10 reaches the minimum") << "min+10"
                                                      << "pushButton"
                                                      << "min+0";
    QTest::newRow("left from 40 moves 10") << "min+40"
                                           << "pushButton"
                                           << "min+30";
    QTest::newRow("right from max-5 stops at the maximum") << "max-5"
                                                           << "pushButton_2"
                                                           << "max-0";
    QTest::newRow("right from 40 moves 10") << "min+40"
                                            << "pushButton_2"
                                            << "min+50";
    QTest::newRow("right at the maximum stays") << "max-0"
                                                << "pushButton_2"
                                                << "max-0";
}

void TestSliderImageList::scrollingClampsAtEnds()
{
    QFETCH(QString, start);
    QFETCH(QString, button);
    QFETCH(QString, end);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    writeImage(path, "JPG");
    SliderImageList strip;
    for (int i = 0; i < 40; ++i)
        strip.addImage(path);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    QScrollBar* bar = strip.findChild<QListWidget*>(QStringLiteral("listWidget"))->horizontalScrollBar();
    QTRY_VERIFY(bar->maximum() > 100);
    const auto resolve = [bar](const QString& spec) {
        const int n = spec.mid(4).toInt();
        return spec.startsWith(QLatin1String("min")) ? bar->minimum() + n : bar->maximum() - n;
    };
    bar->setValue(resolve(start));
    QTest::mouseClick(strip.findChild<QPushButton*>(button), Qt::LeftButton);
    QCOMPARE(bar->value(), resolve(end));
}

void TestSliderImageList::currentRowChangeEmitsPath()
{
    QTemporaryDir dir;
    const QStringList paths{dir.filePath(QStringLiteral("a.jpg")), dir.filePath(QStringLiteral("b.jpg"))};
    SliderImageList strip;
    for (const QString& path : paths) {
        writeImage(path, "JPG");
        strip.addImage(path);
    }
    auto* list = strip.findChild<QListWidget*>(QStringLiteral("listWidget"));
    QSignalSpy spy(&strip, &SliderImageList::displayImage);
    list->setCurrentRow(1);
    list->setCurrentRow(1); // the current thumbnail again: no change, nothing emitted
    list->setCurrentRow(0);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toString(), paths.at(1));
    QCOMPARE(spy.at(1).at(0).toString(), paths.at(0));
}

void TestSliderImageList::clickOpensTheImageOfItsCell()
{
    // A preview that does not decode (cut short by a crash, or not an image at all) sits between two good ones.
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/");
    writeImage(folder + QStringLiteral("a.jpg"), "JPG");
    QVERIFY(TestUtils::writeFile(folder + QStringLiteral("b.jpg"), QByteArray("\xFF\xD8 not a picture")));
    writeImage(folder + QStringLiteral("c.jpg"), "JPG");
    const QString added = folder + QStringLiteral("new/d.jpg");
    writeImage(added, "JPG");
    SliderImageList strip;
    strip.loadFolder(folder);
    strip.addImage(added);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    auto* list = strip.findChild<QListWidget*>(QStringLiteral("listWidget"));
    QSignalSpy spy(&strip, &SliderImageList::displayImage);
    // Click every cell where it is drawn: each opens its own file.
    const QStringList expected{folder + QStringLiteral("a.jpg"), folder + QStringLiteral("b.jpg"),
                               folder + QStringLiteral("c.jpg"), added};
    for (int row = expected.size() - 1; row >= 0; --row) {
        const QRect cell = list->visualItemRect(list->item(row));
        QVERIFY2(cell.width() >= 50, qPrintable(QStringLiteral("row %1 has no cell").arg(row)));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTRY_COMPARE(spy.count(), expected.size() - row);
        QCOMPARE(spy.last().at(0).toString(), expected.at(row));
    }
}

void TestSliderImageList::outOfRangeIndexEmitsNothing_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("no current row") << -1;
    QTest::newRow("one past the end") << 1;
}

void TestSliderImageList::outOfRangeIndexEmitsNothing()
{
    QFETCH(int, index);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.jpg"));
    writeImage(path, "JPG");
    SliderImageList strip;
    strip.addImage(path);
    QSignalSpy spy(&strip, &SliderImageList::displayImage);
    strip.listWidgetClicked(index);
    QCOMPARE(spy.count(), 0);
}

void TestSliderImageList::dragScrollsKinetically()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    writeImage(path, "JPG");
    SliderImageList strip;
    for (int i = 0; i < 40; ++i)
        strip.addImage(path);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    auto* list = strip.findChild<QListWidget*>(QStringLiteral("listWidget"));
    QScrollBar* bar = list->horizontalScrollBar();
    QTRY_VERIFY(bar->maximum() > 100);
    QVERIFY(QScroller::hasScroller(list->viewport()));

    // Drag the strip to the left with the left button held: the list scrolls towards its end.
    QWidget* viewport = list->viewport();
    const auto send = [viewport](QEvent::Type type, QPoint pos, Qt::MouseButtons held) {
        QMouseEvent event(type, pos, viewport->mapToGlobal(pos),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    QPoint pos(viewport->width() - 20, viewport->height() / 2);
    send(QEvent::MouseButtonPress, pos, Qt::LeftButton);
    for (int i = 0; i < 12; ++i) {
        QTest::qWait(15);
        pos.rx() -= 25;
        send(QEvent::MouseMove, pos, Qt::LeftButton);
    }
    send(QEvent::MouseButtonRelease, pos, Qt::NoButton);
    QTRY_VERIFY(bar->value() > 100);
}

QTEST_MAIN(TestSliderImageList)
#include "tst_sliderimagelist.moc"
