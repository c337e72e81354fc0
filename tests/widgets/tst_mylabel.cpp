#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include "TestUtils.h"
#include "widgets/MyLabel.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// Opens the label's protected state to the checks below.
class ProbeLabel : public MyLabel
{
public:
    using MyLabel::MyLabel;
    double zoom() const { return scale; }
    void setZoom(double value) { scale = value; }
    int rotation() const { return angle; }
    QPoint offset() const { return QPoint(offsetX, offsetY); }
    bool isDragging() const { return dragging; }
};

void sendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void sendWheel(QWidget* widget, int delta)
{
    const QPoint pos(10, 10);
    QWheelEvent event(pos, widget->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(widget, &event);
}

QImage grabbed(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The share of pixels whose colours differ clearly. The test picture is a gradient, so sampling one pixel off
// changes a colour by two levels at most; the coloured corner squares make a wrong orientation or offset fail.
double mismatchShare(const QImage& actual, const QImage& expected)
{
    if (actual.size() != expected.size())
        return 1.0;
    int bad = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y);
            const QRgb e = expected.pixel(x, y);
            if (qAbs(qRed(a) - qRed(e)) > 12 || qAbs(qGreen(a) - qGreen(e)) > 12 || qAbs(qBlue(a) - qBlue(e)) > 12)
                ++bad;
        }
    }
    return double(bad) / (actual.width() * actual.height());
}

// What the label must show: the picture stretched to the label, then placed by the caller's arithmetic on the
// background of an empty label.
QImage composed(const QImage& background, const QImage& picture, QPoint topLeft)
{
    QImage result = background;
    QPainter painter(&result);
    painter.drawImage(topLeft, picture);
    return result;
}

} // namespace

class TestMyLabel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void rotationTurnsCounterClockwise_data();
    void rotationTurnsCounterClockwise();
    void zoomIsAdditiveWithFloor_data();
    void zoomIsAdditiveWithFloor();
    void zoomPaintsAboutCentre_data();
    void zoomPaintsAboutCentre();
    void largePageDetailFollowsZoom_data();
    void largePageDetailFollowsZoom();
    void wheelZooms_data();
    void wheelZooms();
    void dragMovesPaintedImage_data();
    void dragMovesPaintedImage();
    void moveWithoutPressDoesNotDrag();
    void selectAndPresetResetZoomAndOffsetButKeepAngle_data();
    void selectAndPresetResetZoomAndOffsetButKeepAngle();
    void changedFileIsDecodedAgain_data();
    void changedFileIsDecodedAgain();
    void unreadableFileDrawsNothing_data();
    void unreadableFileDrawsNothing();

private:
    QString writePicture(const QString& name, const QImage& image);

    QTemporaryDir m_dir;
    QImage m_picture;
    QString m_picturePath;
    QImage m_background;
};

QString TestMyLabel::writePicture(const QString& name, const QImage& image)
{
    const QString path = m_dir.filePath(name);
    if (!image.save(path, "PNG"))
        return QString();
    return path;
}

void TestMyLabel::init()
{
    QVERIFY(m_dir.isValid());
    m_picture = TestUtils::makeTestImage(kWidth, kHeight);
    m_picturePath = writePicture(QStringLiteral("picture.png"), m_picture);
    QVERIFY(!m_picturePath.isEmpty());
    MyLabel empty;
    empty.resize(kWidth, kHeight);
    m_background = grabbed(&empty);
}

void TestMyLabel::rotationTurnsCounterClockwise_data()
{
    // The label has the page's own unturned shape, as the viewer sizes it.
    QTest::addColumn<QSize>("page");
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("angle");
    const QSize landscape(kWidth, kHeight);
    const QSize portrait(kHeight, kWidth);
    QTest::newRow("no press: upright") << landscape << 0 << 0;
    QTest::newRow("one press: 270") << landscape << 1 << 270;
    QTest::newRow("two presses: 180") << landscape << 2 << 180;
    QTest::newRow("three presses: 90") << landscape << 3 << 90;
    QTest::newRow("four presses: back to upright") << landscape << 4 << 0;
    QTest::newRow("portrait page, one press: 270") << portrait << 1 << 270;
    QTest::newRow("portrait page, two presses: 180") << portrait << 2 << 180;
    QTest::newRow("portrait page, three presses: 90") << portrait << 3 << 90;
}

void TestMyLabel::rotationTurnsCounterClockwise()
{
    QFETCH(QSize, page);
    QFETCH(int, presses);
    QFETCH(int, angle);
    const QImage picture = TestUtils::makeTestImage(page.width(), page.height());
    const QString path = writePicture(QStringLiteral("page.png"), picture);
    QVERIFY(!path.isEmpty());
    MyLabel empty;
    empty.resize(page);
    const QImage background = grabbed(&empty);

    ProbeLabel label;
    label.resize(page);
    label.OnSelectImage(path);
    for (int i = 0; i < presses; ++i)
        label.OnXuanZhuan();
    QCOMPARE(label.rotation(), angle);

    // The whole turned page, as large as the label holds it with its shape kept, centred: a quarter turn stands
    // the page on its short side instead of cutting off its ends.
    const QImage turned =
        picture.transformed(QTransform().rotate(angle)).scaled(page, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QPoint topLeft(page.width() / 2 - turned.width() / 2, page.height() / 2 - turned.height() / 2);
    const QImage expected = composed(background, turned, topLeft);
    QVERIFY2(mismatchShare(grabbed(&label), expected) < 0.02, "painted picture differs from the turned picture");
}

void TestMyLabel::zoomIsAdditiveWithFloor_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<double>("zoom");
    QTest::newRow("one zoom in") << "+" << 1.4;
    QTest::newRow("one zoom out") << "-" << 0.6;
    QTest::newRow("two zoom outs") << "--" << 0.2;
    QTest::newRow("three zoom outs reach the floor") << "---" << 0.04;
    QTest::newRow("fourth zoom out stays on the floor") << "----" << 0.04;
    QTest::newRow("zoom in from the floor") << "---+" << 0.44;
    QTest::newRow("no way back to 1.0 by zooming") << "---+++" << 1.24;
    QTest::newRow("no upper limit") << "++++++++++" << 5.0;
}

void TestMyLabel::zoomIsAdditiveWithFloor()
{
    QFETCH(QString, steps);
    QFETCH(double, zoom);
    ProbeLabel label;
    label.OnSelectImage(m_picturePath);
    for (const QChar step : steps) {
        if (step == QLatin1Char('+'))
            label.OnZoomInImage();
        else
            label.OnZoomOutImage();
    }
    QVERIFY2(qAbs(label.zoom() - zoom) < 1e-9, qPrintable(QString::number(label.zoom())));
}

void TestMyLabel::zoomPaintsAboutCentre_data()
{
    QTest::addColumn<double>("zoom");
    QTest::newRow("zoomed in twice") << 1.8;
    QTest::newRow("zoomed out once") << 0.6;
    QTest::newRow("floor") << 0.04;
    QTest::newRow("double size") << 2.0;
}

void TestMyLabel::zoomPaintsAboutCentre()
{
    QFETCH(double, zoom);
    ProbeLabel label;
    label.resize(kWidth, kHeight);
    label.OnSelectImage(m_picturePath);
    label.setZoom(zoom);
    const QImage grown = m_picture.scaled(qRound(kWidth * zoom), qRound(kHeight * zoom), Qt::IgnoreAspectRatio,
                                          Qt::SmoothTransformation);
    const QPoint topLeft(kWidth / 2 - grown.width() / 2, kHeight / 2 - grown.height() / 2);
    QVERIFY(mismatchShare(grabbed(&label), composed(m_background, grown, topLeft)) < 0.02);
}

void TestMyLabel::largePageDetailFollowsZoom_data()
{
    // A page four times the label's size in each direction, of one-pixel black and white columns.
    QImage stripes(4 * kWidth, 4 * kHeight, QImage::Format_RGB32);
    for (int x = 0; x < stripes.width(); ++x)
        for (int y = 0; y < stripes.height(); ++y)
            stripes.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));

    QTest::addColumn<QImage>("page");
    QTest::addColumn<int>("turns");
    QTest::addColumn<int>("zoomSteps");
    QTest::addColumn<QImage>("expected");
    // At the fit, four columns fall on each pixel of the label: they must blend to grey, not alias to one colour.
    QTest::newRow("fitted page is smoothly reduced")
        << stripes << 0 << 0 << stripes.scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Zoomed in to the page's own resolution, every column must be there: the page's middle at one to one.
    const QRect middle(4 * kWidth / 2 - kWidth / 2, 4 * kHeight / 2 - kHeight / 2, kWidth, kHeight);
    QTest::newRow("zoomed to the page's own pixels") << stripes << 0 << -1 << stripes.copy(middle);
    // Turned a quarter, the page stands 90 x 120 in the label: the zoom that brings it to its own pixels is 16 / 3,
    // and the turned page's middle must show one to one, with every row of it.
    const QImage turned = stripes.transformed(QTransform().rotate(270));
    const QRect turnedMiddle(turned.width() / 2 - kWidth / 2, turned.height() / 2 - kHeight / 2, kWidth, kHeight);
    QTest::newRow("turned page zoomed to its own pixels") << stripes << 1 << -1 << turned.copy(turnedMiddle);
}

void TestMyLabel::largePageDetailFollowsZoom()
{
    QFETCH(QImage, page);
    QFETCH(int, turns);
    QFETCH(int, zoomSteps);
    QFETCH(QImage, expected);
    const QString path = writePicture(QStringLiteral("large.png"), page);
    QVERIFY(!path.isEmpty());

    ProbeLabel label;
    label.resize(kWidth, kHeight);
    label.OnSelectImage(path);
    QVERIFY(!grabbed(&label).isNull());
    for (int i = 0; i < turns; ++i)
        label.OnXuanZhuan();
    for (int i = 0; i < zoomSteps; ++i)
        label.OnZoomInImage();
    if (zoomSteps < 0)
        label.setZoom(turns % 2 ? 4.0 * kWidth / kHeight : 4.0);
    QVERIFY2(mismatchShare(grabbed(&label), expected) < 0.02, "painted page differs from the page at that zoom");
}

void TestMyLabel::wheelZooms_data()
{
    QTest::addColumn<QList<int>>("deltas");
    QTest::addColumn<double>("zoom");
    QTest::newRow("forward") << QList<int>{120} << 1.4;
    QTest::newRow("backward") << QList<int>{-120} << 0.6;
    QTest::newRow("zero counts as backward") << QList<int>{0} << 0.6;
    QTest::newRow("backward to the floor") << QList<int>{-120, -120, -120, -120} << 0.04;
    QTest::newRow("floor then forward") << QList<int>{-120, -120, -120, 120} << 0.44;
}

void TestMyLabel::wheelZooms()
{
    QFETCH(QList<int>, deltas);
    QFETCH(double, zoom);
    ProbeLabel label;
    label.OnSelectImage(m_picturePath);
    for (int delta : deltas)
        sendWheel(&label, delta);
    QVERIFY2(qAbs(label.zoom() - zoom) < 1e-9, qPrintable(QString::number(label.zoom())));
}

void TestMyLabel::dragMovesPaintedImage_data()
{
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPoint>("move");
    QTest::newRow("30 px right at zoom 2.0") << 2.0 << QPoint(30, 0);
    QTest::newRow("30 px right at zoom 1.0") << 1.0 << QPoint(30, 0);
    QTest::newRow("up and left at zoom 0.6") << 0.6 << QPoint(-12, -20);
}

void TestMyLabel::dragMovesPaintedImage()
{
    QFETCH(double, zoom);
    QFETCH(QPoint, move);
    ProbeLabel label;
    label.resize(kWidth, kHeight);
    label.OnSelectImage(m_picturePath);
    label.setZoom(zoom);

    const QPoint start(70, 60);
    sendMouse(&label, QEvent::MouseButtonPress, start);
    QVERIFY(label.isDragging());
    // Two steps: the offset adds up the moves since the last position.
    sendMouse(&label, QEvent::MouseMove, start + move / 2);
    sendMouse(&label, QEvent::MouseMove, start + move);
    QCOMPARE(label.cursor().shape(), Qt::SizeAllCursor);
    sendMouse(&label, QEvent::MouseButtonRelease, start + move);
    QVERIFY(!label.isDragging());
    QCOMPARE(label.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(label.offset(), move);

    const QImage grown = m_picture.scaled(qRound(kWidth * zoom), qRound(kHeight * zoom), Qt::IgnoreAspectRatio,
                                          Qt::SmoothTransformation);
    const QPoint centred(kWidth / 2 - grown.width() / 2, kHeight / 2 - grown.height() / 2);
    const QImage actual = grabbed(&label);
    QVERIFY(mismatchShare(actual, composed(m_background, grown, centred + move)) < 0.02);
    QVERIFY(mismatchShare(actual, composed(m_background, grown, centred)) > 0.05);
}

void TestMyLabel::moveWithoutPressDoesNotDrag()
{
    ProbeLabel label;
    label.resize(kWidth, kHeight);
    label.OnSelectImage(m_picturePath);
    sendMouse(&label, QEvent::MouseMove, QPoint(50, 50));
    sendMouse(&label, QEvent::MouseButtonPress, QPoint(50, 50));
    sendMouse(&label, QEvent::MouseButtonRelease, QPoint(50, 50));
    sendMouse(&label, QEvent::MouseMove, QPoint(90, 80));
    QCOMPARE(label.offset(), QPoint(0, 0));
}

void TestMyLabel::selectAndPresetResetZoomAndOffsetButKeepAngle_data()
{
    QTest::addColumn<bool>("preset");
    QTest::newRow("select image") << false;
    QTest::newRow("preset") << true;
}

void TestMyLabel::selectAndPresetResetZoomAndOffsetButKeepAngle()
{
    QFETCH(bool, preset);
    ProbeLabel label;
    label.resize(kWidth, kHeight);
    label.OnSelectImage(m_picturePath);
    label.OnZoomInImage();
    label.OnXuanZhuan();
    sendMouse(&label, QEvent::MouseButtonPress, QPoint(10, 10));
    sendMouse(&label, QEvent::MouseMove, QPoint(25, 30));
    sendMouse(&label, QEvent::MouseButtonRelease, QPoint(25, 30));
    QCOMPARE(label.offset(), QPoint(15, 20));
    if (preset)
        label.OnPresetImage();
    else
        label.OnSelectImage(m_picturePath);
    QCOMPARE(label.zoom(), 1.0);
    QCOMPARE(label.offset(), QPoint(0, 0));
    QCOMPARE(label.rotation(), 270);
}

void TestMyLabel::changedFileIsDecodedAgain_data()
{
    QTest::addColumn<bool>("sameSize");
    QTest::newRow("rewritten with another size") << false;
    QTest::newRow("same size, newer time") << true;
}

void TestMyLabel::changedFileIsDecodedAgain()
{
    QFETCH(bool, sameSize);
    const QString path = m_dir.filePath(QStringLiteral("changing.bmp"));
    QVERIFY(m_picture.save(path, "BMP"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    file.close();

    MyLabel label;
    label.resize(kWidth, kHeight);
    label.OnSelectImage(path);
    QVERIFY(mismatchShare(grabbed(&label), m_picture) < 0.02);

    // A BMP of the same dimensions has the same byte size; otherwise change the dimensions.
    QImage other = m_picture.mirrored(true, true);
    if (!sameSize)
        other = other.scaled(kWidth / 2, kHeight / 2);
    const qint64 sizeBefore = QFileInfo(path).size();
    QVERIFY(other.save(path, "BMP"));
    QCOMPARE(QFileInfo(path).size() == sizeBefore, sameSize);
    label.update();
    const QImage expected = other.scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QVERIFY(mismatchShare(grabbed(&label), expected) < 0.02);
}

void TestMyLabel::unreadableFileDrawsNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing file") << QByteArray() << false;
    QTest::newRow("not an image") << QByteArray("plain text, no picture") << true;
    QTest::newRow("empty file") << QByteArray() << true;
}

void TestMyLabel::unreadableFileDrawsNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    const QString path = m_dir.filePath(QStringLiteral("broken.jpg"));
    QFile::remove(path);
    if (exists)
        QVERIFY(TestUtils::writeFile(path, content));
    MyLabel label;
    label.resize(kWidth, kHeight);
    label.OnSelectImage(path);
    label.OnZoomInImage();
    QCOMPARE(grabbed(&label), m_background);
}

QTEST_MAIN(TestMyLabel)
#include "tst_mylabel.moc"
