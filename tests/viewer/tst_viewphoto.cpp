#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "TestUtils.h"
#include "viewer/ViewPhoto.h"
#include "viewer/ViewPhotoHead.h"
#include "widgets/MyLabel.h"
#include "widgets/MyMessageBox.h"

using PageList = QList<std::pair<QString, QString>>;

namespace {

const QString kFirstHint = QStringLiteral("已经是第一张图片");
const QString kLastHint = QStringLiteral("已经是最后一张图片");

QImage grabbed(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool closeTo(QRgb actual, QColor expected, int tolerance = 40)
{
    return qAbs(qRed(actual) - expected.red()) <= tolerance && qAbs(qGreen(actual) - expected.green()) <= tolerance &&
           qAbs(qBlue(actual) - expected.blue()) <= tolerance;
}

void pressMouse(QWidget* widget, QPoint pos)
{
    QMouseEvent press(QEvent::MouseButtonPress, pos, widget->mapToGlobal(pos), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, widget->mapToGlobal(pos), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

// The image, the caption, the arrows and the close and exit buttons lie inside the viewer and do not overlap.
QString layoutFault(ViewPhoto* viewer)
{
    const QRect bounds = viewer->rect();
    QList<std::pair<QString, QRect>> controls;
    for (const char* name : {"label", "label_2", "leftButton", "rightButton", "pushButton", "widget", "guanbi"}) {
        auto* control = viewer->findChild<QWidget*>(QLatin1String(name));
        if (!control || !control->isVisibleTo(viewer))
            continue;
        const QRect rect(control->mapTo(viewer, QPoint(0, 0)), control->size());
        if (!bounds.contains(rect))
            return QStringLiteral("%1 at %2,%3 %4x%5 leaves the viewer")
                .arg(name)
                .arg(rect.x())
                .arg(rect.y())
                .arg(rect.width())
                .arg(rect.height());
        // The close button belongs to the tool bar and is checked against the viewer only.
        if (qstrcmp(name, "guanbi") == 0)
            continue;
        for (const auto& other : controls) {
            if (rect.intersects(other.second))
                return QStringLiteral("%1 overlaps %2").arg(name, other.first);
        }
        controls.append({QLatin1String(name), rect});
    }
    return QString();
}

} // namespace

// The viewer as the main window uses it: a child of a host window, given the host's size before it is shown.
class TestViewPhoto : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newListShowsFirstPage();
    void emptyListChangesNothing();
    void paging_data();
    void paging();
    void hintIsCentred_data();
    void hintIsCentred();
    void hintHidesOnKeyAndViewerPress();
    void nextStudentOrHidingStartsClean_data();
    void nextStudentOrHidingStartsClean();
    void hintBoxIsOneRoundedBox();
    void backdrop_data();
    void backdrop();
    void resizeRule_data();
    void resizeRule();
    void everyPageGetsItsOwnShape();
    void fullScreenTwiceRestoresGeometry();
    void escape_data();
    void escape();
    void exitButtonLeavesFullScreen();
    void fullScreenFitsScreen_data();
    void fullScreenFitsScreen();
    void toolBarDrivesLabel_data();
    void toolBarDrivesLabel();
    void closeButtonAsksToClose();

private:
    QString makePage(const QString& name, int width, int height);
    PageList threePages();
    MyLabel* imageLabel() const { return m_viewer->findChild<MyLabel*>(QStringLiteral("label")); }
    QLabel* caption() const { return m_viewer->findChild<QLabel*>(QStringLiteral("label_2")); }
    MyMessageBox* hint() const { return m_viewer->findChild<MyMessageBox*>(); }
    QPushButton* button(const char* name) const { return m_viewer->findChild<QPushButton*>(QLatin1String(name)); }
    void showViewer(int width, int height);
    // Lets the layout apply the sizes that a resize just fixed.
    static void settle() { QCoreApplication::processEvents(); }

    QTemporaryDir* m_dir = nullptr;
    QWidget* m_host = nullptr;
    ViewPhoto* m_viewer = nullptr;
};

void TestViewPhoto::init()
{
    m_dir = new QTemporaryDir();
    QVERIFY(m_dir->isValid());
    m_host = new QWidget();
    m_host->resize(1400, 900);
    m_viewer = new ViewPhoto(m_host);
    m_viewer->hide();
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host));
}

void TestViewPhoto::cleanup()
{
    delete m_host;
    m_host = nullptr;
    m_viewer = nullptr;
    delete m_dir;
    m_dir = nullptr;
}

QString TestViewPhoto::makePage(const QString& name, int width, int height)
{
    const QString path = m_dir->filePath(name);
    if (!TestUtils::makeTestImage(width, height).save(path))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

PageList TestViewPhoto::threePages()
{
    return {{makePage("p1.png", 400, 400), "1-1"},
            {makePage("p2.png", 400, 400), "2-2"},
            {makePage("p3.png", 400, 400), "3-3"}};
}

void TestViewPhoto::showViewer(int width, int height)
{
    // What the main window's toViewPhotoUi() does.
    m_viewer->setFixedWidth(width);
    m_viewer->setFixedHeight(height);
    m_viewer->show();
    settle();
}

void TestViewPhoto::newListShowsFirstPage()
{
    auto* warning = m_viewer->findChild<QLabel*>(QStringLiteral("label_4"));
    QVERIFY(warning);
    QVERIFY(!warning->isHidden());
    QVERIFY(button("pushButton")->isHidden());

    const PageList pages = threePages();
    m_viewer->setPhotoPath(pages);
    showViewer(1000, 700);
    QCOMPARE(caption()->text(), QStringLiteral("1-1"));
    QVERIFY(warning->isHidden());
    QVERIFY(imageLabel()->hasScaledContents());

    // A second list starts over at its first page.
    m_viewer->rightToViewPhoto();
    QCOMPARE(caption()->text(), QStringLiteral("2-2"));
    m_viewer->setPhotoPath({{makePage("other.png", 300, 200), "7-8"}, pages.at(2)});
    QCOMPARE(caption()->text(), QStringLiteral("7-8"));
}

void TestViewPhoto::emptyListChangesNothing()
{
    showViewer(1000, 700);
    // Before any list: paging does nothing.
    m_viewer->leftToViewPhoto();
    m_viewer->rightToViewPhoto();
    QVERIFY(hint()->isHidden());

    m_viewer->setPhotoPath({{makePage("wide.png", 1000, 500), "1-2"}});
    m_viewer->slotCurrentSize(1600, 700);
    settle();
    const QSize labelSize = imageLabel()->size();
    QCOMPARE(labelSize, QSize(1080, 540));
    const QImage before = grabbed(imageLabel());

    m_viewer->setPhotoPath(PageList());
    QCOMPARE(caption()->text(), QStringLiteral("1-2"));
    QCOMPARE(grabbed(imageLabel()), before);
    m_viewer->leftToViewPhoto();
    m_viewer->rightToViewPhoto();
    QVERIFY(hint()->isHidden());

    // The previous image size still drives the resize rule.
    m_viewer->slotCurrentSize(1600, 760);
    settle();
    QCOMPARE(imageLabel()->size(), QSize(1200, 600));
}

void TestViewPhoto::paging_data()
{
    QTest::addColumn<int>("pageCount");
    QTest::addColumn<int>("startIndex");
    QTest::addColumn<bool>("left");
    QTest::addColumn<QString>("expectedHint");
    QTest::addColumn<QString>("expectedCaption");
    // Reaching an end shows page 0 or n-1 again, which undoes the zoom; a single page is never reloaded.
    QTest::addColumn<bool>("zoomKept");
    // How far the teacher had paged through the previous student's three pages before this list came (-1: none).
    QTest::addColumn<int>("previousIndex");

    QTest::newRow("one page, left arrow") << 1 << 0 << true << kFirstHint << "1-1" << true << -1;
    QTest::newRow("one page, right arrow") << 1 << 0 << false << kLastHint << "1-1" << true << -1;
    QTest::newRow("three pages at the first, left arrow") << 3 << 0 << true << kFirstHint << "1-1" << false << -1;
    QTest::newRow("three pages at the last, right arrow") << 3 << 2 << false << kLastHint << "3-3" << false << -1;
    QTest::newRow("three pages at the first, right arrow") << 3 << 0 << false << QString() << "2-2" << false << -1;
    QTest::newRow("three pages at the last, left arrow") << 3 << 2 << true << QString() << "2-2" << false << -1;
    QTest::newRow("three pages in the middle, left arrow") << 3 << 1 << true << QString() << "1-1" << false << -1;
    QTest::newRow("new student after the last page, right arrow")
        << 3 << 0 << false << QString() << "2-2" << false << 2;
    QTest::newRow("new student after the last page, left arrow") << 3 << 0 << true << kFirstHint << "1-1" << false << 2;
    QTest::newRow("new student after the middle page, two pages, right arrow")
        << 2 << 0 << false << QString() << "2-2" << false << 1;
}

void TestViewPhoto::paging()
{
    QFETCH(int, pageCount);
    QFETCH(int, startIndex);
    QFETCH(bool, left);
    QFETCH(QString, expectedHint);
    QFETCH(QString, expectedCaption);
    QFETCH(bool, zoomKept);
    QFETCH(int, previousIndex);

    if (previousIndex >= 0) {
        PageList previous;
        for (const char* name : {"a.png", "b.png", "c.png"})
            previous.append({makePage(QLatin1String(name), 300, 200), QStringLiteral("previous")});
        m_viewer->setPhotoPath(previous);
        for (int i = 0; i < previousIndex; ++i)
            m_viewer->rightToViewPhoto();
    }
    m_viewer->setPhotoPath(threePages().mid(0, pageCount));
    showViewer(1000, 700);
    for (int i = 0; i < startIndex; ++i)
        m_viewer->rightToViewPhoto();
    QVERIFY(hint()->isHidden());

    const QImage unzoomed = grabbed(imageLabel());
    button("fangda")->click();
    const QImage zoomed = grabbed(imageLabel());
    QVERIFY(zoomed != unzoomed);

    QPushButton* arrow = button(left ? "leftButton" : "rightButton");
    QVERIFY(arrow);
    arrow->click();

    QCOMPARE(caption()->text(), expectedCaption);
    if (expectedHint.isEmpty()) {
        QVERIFY(hint()->isHidden());
    } else {
        QVERIFY(!hint()->isHidden());
        QCOMPARE(hint()->text(), expectedHint);
    }
    // All three test pages are the same picture, so the grab tells the zoom apart, not the page.
    QCOMPARE(grabbed(imageLabel()), zoomKept ? zoomed : unzoomed);
}

void TestViewPhoto::hintIsCentred_data()
{
    QTest::addColumn<QSize>("viewerSize");
    QTest::addColumn<QPoint>("expectedPos");

    QTest::newRow("even size") << QSize(1000, 700) << QPoint(377, 323);
    QTest::newRow("odd size rounds the halves down") << QSize(861, 543) << QPoint(307, 244);
}

void TestViewPhoto::hintIsCentred()
{
    QFETCH(QSize, viewerSize);
    QFETCH(QPoint, expectedPos);

    m_viewer->setPhotoPath({{makePage("only.png", 400, 400), "1-1"}});
    showViewer(viewerSize.width(), viewerSize.height());
    m_viewer->leftToViewPhoto();
    QCOMPARE(hint()->geometry(), QRect(expectedPos, QSize(246, 54)));
}

void TestViewPhoto::hintHidesOnKeyAndViewerPress()
{
    m_viewer->setPhotoPath({{makePage("only.png", 400, 400), "1-1"}});
    showViewer(1000, 700);

    m_viewer->rightToViewPhoto();
    QVERIFY(!hint()->isHidden());
    QTest::keyClick(m_viewer, Qt::Key_A);
    QVERIFY(hint()->isHidden());

    // A press on the image belongs to the image (dragging) and leaves the hint up.
    m_viewer->rightToViewPhoto();
    pressMouse(imageLabel(), QPoint(20, 20));
    QVERIFY(!hint()->isHidden());

    // A press on the viewer's own backdrop hides it.
    pressMouse(m_viewer, QPoint(5, 5));
    QVERIFY(hint()->isHidden());

    // So does a press on the caption, which does not take mouse presses itself.
    m_viewer->leftToViewPhoto();
    pressMouse(caption(), QPoint(2, 2));
    QVERIFY(hint()->isHidden());
}

void TestViewPhoto::nextStudentOrHidingStartsClean_data()
{
    QTest::addColumn<bool>("hide");
    QTest::addColumn<bool>("fullScreen");

    QTest::newRow("next student's list") << false << false;
    QTest::newRow("viewer hidden") << true << false;
    QTest::newRow("viewer hidden in full screen") << true << true;
}

void TestViewPhoto::nextStudentOrHidingStartsClean()
{
    QFETCH(bool, hide);
    QFETCH(bool, fullScreen);

    const PageList pages = threePages();
    m_viewer->setPhotoPath(pages);
    showViewer(1000, 700);
    m_viewer->move(0, 0);
    button("xuanzhuan")->click();
    if (fullScreen) {
        m_viewer->quanPing();
        QVERIFY(m_viewer->isWindow());
    }
    m_viewer->leftToViewPhoto();
    QVERIFY(hint()->isVisible());

    if (hide) {
        // The main window switches pages, then opens the viewer again for the next tile: inside the window, in
        // the normal view, not as a bare window of its own.
        m_viewer->hide();
        showViewer(1000, 700);
        QVERIFY(!m_viewer->isWindow());
        QCOMPARE(m_viewer->parentWidget(), m_host);
        QCOMPARE(m_viewer->geometry(), QRect(0, 0, 1000, 700));
        QVERIFY(!m_viewer->findChild<ViewPhotoHead*>()->isHidden());
        QVERIFY(button("pushButton")->isHidden());
    } else {
        m_viewer->setPhotoPath(pages.mid(1));
        // The next student keeps the turn of the page: the test page's green top-right corner is at the top left.
        const QRgb topLeft = grabbed(imageLabel()).pixel(4, 4);
        QVERIFY2(closeTo(topLeft, Qt::green), qPrintable(QColor(topLeft).name()));
    }
    QVERIFY(hint()->isHidden());
}

void TestViewPhoto::hintBoxIsOneRoundedBox()
{
    m_viewer->setPhotoPath({{makePage("only.png", 400, 400), "1-1"}});
    showViewer(1000, 700);
    m_viewer->rightToViewPhoto();

    // One white box with corners rounded by 4 pixels, on black; the icon and text keep clear of the top and bottom
    // rows, which therefore show the box's own outline only, across the seam between icon and text.
    QImage actual(hint()->size(), QImage::Format_RGB32);
    actual.fill(Qt::black);
    hint()->render(&actual, QPoint(), QRegion(), QWidget::DrawChildren);
    QImage expected(hint()->size(), QImage::Format_RGB32);
    expected.fill(Qt::black);
    QPainter painter(&expected);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(expected.rect()), 4, 4);
    painter.end();

    for (int y : {0, 1, 2, 3, 50, 51, 52, 53}) {
        for (int x = 0; x < actual.width(); ++x) {
            QVERIFY2(
                closeTo(actual.pixel(x, y), expected.pixel(x, y), 90),
                qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(QColor(actual.pixel(x, y)).name())));
        }
    }
}

void TestViewPhoto::backdrop_data()
{
    QTest::addColumn<bool>("fullScreen");
    QTest::addColumn<QColor>("expected");

    // Black at alpha 100 of 255 over the host's white.
    const int dimmed = 255 * (255 - 100) / 255;
    QTest::newRow("normal view dims the page below") << false << QColor(dimmed, dimmed, dimmed);
    QTest::newRow("full screen is dark and opaque") << true << QColor(10, 13, 23);
}

void TestViewPhoto::backdrop()
{
    QFETCH(bool, fullScreen);
    QFETCH(QColor, expected);

    m_host->setStyleSheet(QStringLiteral("background:white"));
    m_viewer->setPhotoPath({{makePage("page.png", 400, 400), "1-1"}});
    showViewer(1000, 700);
    if (fullScreen) {
        m_viewer->quanPing();
        QTRY_VERIFY(m_viewer->isWindow());
    }
    // A grab of the host draws the viewer over it; in full screen the viewer is a window of its own.
    const QImage image = grabbed(fullScreen ? static_cast<QWidget*>(m_viewer) : m_host);
    const QRgb corner = image.pixel(3, 3);
    QVERIFY2(closeTo(corner, expected, 3), qPrintable(QColor(corner).name() + " instead of " + expected.name()));
}

void TestViewPhoto::resizeRule_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QSize>("viewerSize");
    QTest::addColumn<QSize>("expectedLabel");
    // The tool bar spans the page, but never narrower than its buttons need.
    QTest::addColumn<int>("expectedBar");

    QTest::newRow("1000x500 in a viewer 700 high") << QSize(1000, 500) << QSize(1400, 700) << QSize(1080, 540) << 1080;
    QTest::newRow("portrait page") << QSize(500, 1000) << QSize(1000, 700) << QSize(270, 540) << 315;
    QTest::newRow("width rounds toward zero") << QSize(333, 1000) << QSize(1000, 700) << QSize(179, 540) << 315;
    // 860 less the two arrow columns (160 and 130) leaves 570 for the page.
    QTest::newRow("1000x500 in the 860x543 window: the width decides")
        << QSize(1000, 500) << QSize(860, 543) << QSize(570, 285) << 570;
    QTest::newRow("3:2 camera page in the 860x543 window")
        << QSize(600, 400) << QSize(860, 543) << QSize(570, 380) << 570;
    QTest::newRow("3:2 camera page at 1920x1080") << QSize(600, 400) << QSize(1920, 1080) << QSize(1380, 920) << 1380;
    QTest::newRow("very wide page") << QSize(3000, 300) << QSize(1000, 700) << QSize(710, 71) << 710;
}

void TestViewPhoto::resizeRule()
{
    QFETCH(QSize, imageSize);
    QFETCH(QSize, viewerSize);
    QFETCH(QSize, expectedLabel);
    QFETCH(int, expectedBar);

    m_host->resize(viewerSize.expandedTo(QSize(1400, 900)));
    m_viewer->setPhotoPath({{makePage("page.png", imageSize.width(), imageSize.height()), "1-1"}});
    showViewer(viewerSize.width(), viewerSize.height());

    MyLabel* label = imageLabel();
    QCOMPARE(label->minimumSize(), expectedLabel);
    QCOMPARE(label->maximumSize(), expectedLabel);
    QCOMPARE(label->size(), expectedLabel);
    QCOMPARE(m_viewer->findChild<ViewPhotoHead*>()->width(), expectedBar);
    QCOMPARE(m_viewer->findChild<QLabel*>(QStringLiteral("label_4"))->maximumWidth(), expectedBar);
    const QString fault = layoutFault(m_viewer);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestViewPhoto::everyPageGetsItsOwnShape()
{
    // An unreadable page has no size: the rule leaves the label alone.
    m_viewer->setPhotoPath({{m_dir->filePath("missing.png"), "1-1"}});
    showViewer(1000, 700);
    const QSize untouched = imageLabel()->size();
    m_viewer->slotCurrentSize(1000, 720);
    settle();
    QCOMPARE(imageLabel()->size(), untouched);
    QCOMPARE(imageLabel()->minimumSize(), QSize(315, 360));

    m_viewer->setPhotoPath({{makePage("wide.png", 1000, 500), "1-1"}, {makePage("tall.png", 500, 1000), "2-2"}});
    m_viewer->slotCurrentSize(1600, 700);
    settle();
    QCOMPARE(imageLabel()->size(), QSize(1080, 540));

    // The tall page after the wide one gets a tall label at once, and the next student's wide page a wide one.
    m_viewer->rightToViewPhoto();
    QCOMPARE(caption()->text(), QStringLiteral("2-2"));
    settle();
    QCOMPARE(imageLabel()->size(), QSize(270, 540));
    m_viewer->setPhotoPath({{makePage("landscape.png", 900, 600), "1-1"}});
    settle();
    QCOMPARE(imageLabel()->size(), QSize(810, 540));
}

void TestViewPhoto::fullScreenTwiceRestoresGeometry()
{
    m_viewer->setPhotoPath({{makePage("page.png", 400, 400), "1-1"}});
    showViewer(1000, 700);
    m_viewer->move(12, 20);
    const QRect before = m_viewer->geometry();
    auto* toolBar = m_viewer->findChild<ViewPhotoHead*>();

    button("quanping")->click();
    QVERIFY(m_viewer->isWindow());
    QVERIFY(m_viewer->windowState() & Qt::WindowFullScreen);
    QTRY_VERIFY(m_viewer->geometry() != before);
    QVERIFY(m_viewer->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(!button("pushButton")->isHidden());
    QVERIFY(toolBar->isHidden());

    m_viewer->quanPing();
    QVERIFY(!m_viewer->isWindow());
    QCOMPARE(m_viewer->parentWidget(), m_host);
    QVERIFY(!(m_viewer->windowState() & Qt::WindowFullScreen));
    QVERIFY(m_viewer->isVisible());
    QCOMPARE(m_viewer->geometry(), before);
    QVERIFY(button("pushButton")->isHidden());
    QVERIFY(!toolBar->isHidden());

    // And again: the second round trip saves and restores the same geometry.
    m_viewer->quanPing();
    QVERIFY(m_viewer->isWindow());
    QTRY_VERIFY(m_viewer->geometry() != before);
    m_viewer->quanPing();
    QCOMPARE(m_viewer->geometry(), before);
}

void TestViewPhoto::escape_data()
{
    QTest::addColumn<bool>("fullScreen");

    QTest::newRow("normal view") << false;
    QTest::newRow("full screen") << true;
}

void TestViewPhoto::escape()
{
    QFETCH(bool, fullScreen);

    m_viewer->setPhotoPath({{makePage("page.png", 400, 400), "1-1"}});
    showViewer(1000, 700);
    m_viewer->move(7, 9);
    const QRect before = m_viewer->geometry();
    if (fullScreen) {
        m_viewer->quanPing();
        QVERIFY(m_viewer->isWindow());
        QTRY_VERIFY(m_viewer->geometry() != before);
    }

    m_viewer->rightToViewPhoto();
    QVERIFY(!hint()->isHidden());
    QTest::keyClick(m_viewer, Qt::Key_Escape);

    QVERIFY(hint()->isHidden());
    QVERIFY(!m_viewer->isWindow());
    QCOMPARE(m_viewer->geometry(), before);
    QVERIFY(button("pushButton")->isHidden());
    QVERIFY(!m_viewer->findChild<ViewPhotoHead*>()->isHidden());
}

void TestViewPhoto::exitButtonLeavesFullScreen()
{
    showViewer(1000, 700);
    m_viewer->move(3, 4);
    const QRect before = m_viewer->geometry();

    // In the normal view the exit has nothing to undo.
    m_viewer->exitQuanPing();
    QCOMPARE(m_viewer->geometry(), before);
    QVERIFY(!m_viewer->isWindow());

    m_viewer->quanPing();
    QTRY_VERIFY(m_viewer->geometry() != before);
    button("pushButton")->click();
    QVERIFY(!m_viewer->isWindow());
    QCOMPARE(m_viewer->geometry(), before);
    QVERIFY(button("pushButton")->isHidden());
    QVERIFY(!m_viewer->findChild<ViewPhotoHead*>()->isHidden());

    // Back in the normal view, the tool bar's button enters full screen again.
    button("quanping")->click();
    QVERIFY(m_viewer->isWindow());
}

void TestViewPhoto::fullScreenFitsScreen_data()
{
    QTest::addColumn<QSize>("imageSize");

    QTest::newRow("landscape 1000x500") << QSize(1000, 500);
    QTest::newRow("3:2 camera page") << QSize(600, 400);
    QTest::newRow("portrait page") << QSize(500, 1000);
}

void TestViewPhoto::fullScreenFitsScreen()
{
    QFETCH(QSize, imageSize);

    m_viewer->setPhotoPath({{makePage("page.png", imageSize.width(), imageSize.height()), "1-1"}});
    showViewer(1000, 700);
    m_viewer->quanPing();
    QTRY_VERIFY(m_viewer->height() != 700);
    settle();

    // Full screen leaves room for the caption below and the arrow columns beside the page; the page keeps its shape
    // and meets one of those limits.
    const QSize label = imageLabel()->size();
    const int height = m_viewer->height();
    const int width = m_viewer->width();
    QVERIFY2(
        label.height() == height - 20 || label.width() == width - 290,
        qPrintable(QStringLiteral("%1x%2 in %3x%4").arg(label.width()).arg(label.height()).arg(width).arg(height)));
    QVERIFY(qAbs(qint64(label.width()) * imageSize.height() - qint64(label.height()) * imageSize.width()) <=
            imageSize.width());
    QString fault = layoutFault(m_viewer);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));

    m_viewer->quanPing();
    settle();
    QCOMPARE(m_viewer->size(), QSize(1000, 700));
    fault = layoutFault(m_viewer);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestViewPhoto::toolBarDrivesLabel_data()
{
    // The page is a 400 x 400 test picture (red, green, blue and white squares of 50 pixels at its top-left,
    // top-right, bottom-left and bottom-right corners) stretched to a 540 x 540 label. Each row looks at one point
    // of the label and says which point of the stretched picture must show there.
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QPoint>("probe");
    QTest::addColumn<QColor>("expected");

    const QImage stretched = TestUtils::makeTestImage(540, 540);
    QTest::newRow("no button: the picture as it is") << QString() << QPoint(4, 4) << QColor(Qt::red);
    QTest::newRow("rotate turns the top-right corner to the top-left")
        << "xuanzhuan" << QPoint(4, 4) << QColor(Qt::green);
    QTest::newRow("rotate turns the bottom-right corner to the top-right")
        << "xuanzhuan" << QPoint(535, 4) << QColor(Qt::white);
    // Zoom 1.4 about the centre: label point 4 shows picture point (4 - 270) / 1.4 + 270 = 80.
    QTest::newRow("zoom in about the centre") << "fangda" << QPoint(4, 4) << QColor(stretched.pixel(80, 80));
    // Zoom 0.6 about the centre: the picture's corner lands at 270 - 270 * 0.6 = 108.
    QTest::newRow("zoom out about the centre") << "suoxiao" << QPoint(120, 120) << QColor(Qt::red);
}

void TestViewPhoto::toolBarDrivesLabel()
{
    QFETCH(QString, buttonName);
    QFETCH(QPoint, probe);
    QFETCH(QColor, expected);

    m_viewer->setPhotoPath({{makePage("square.png", 400, 400), "1-1"}});
    showViewer(1000, 700);
    QCOMPARE(imageLabel()->size(), QSize(540, 540));

    if (!buttonName.isEmpty())
        button(qPrintable(buttonName))->click();
    const QImage image = grabbed(imageLabel());
    const QRgb actual = image.pixel(probe);
    QVERIFY2(closeTo(actual, expected), qPrintable(QColor(actual).name() + " instead of " + expected.name()));
    // The centre of the picture stays at the centre whatever the zoom or rotation.
    const QImage source = TestUtils::makeTestImage(540, 540);
    QVERIFY(closeTo(image.pixel(270, 270), source.pixel(270, 270)));
}

void TestViewPhoto::closeButtonAsksToClose()
{
    showViewer(1000, 700);
    QSignalSpy spy(m_viewer, &ViewPhoto::closeViewPhotoUi);
    button("guanbi")->click();
    QCOMPARE(spy.count(), 1);
    // Hiding is the main window's business.
    QVERIFY(m_viewer->isVisible());
}

QTEST_MAIN(TestViewPhoto)
#include "tst_viewphoto.moc"
