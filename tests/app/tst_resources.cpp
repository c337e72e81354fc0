#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMovie>
#include <QSet>
#include <QXmlStreamReader>
#include <QtTest>

// The bundle is compiled into the static GUI library, whose registration the linker drops unless it is referenced.
static void initBundle()
{
    Q_INIT_RESOURCE(ambrelclient);
}

namespace {

const QString kRoot = QStringLiteral(":/AmbrelClient/");
const QString kListFile = QStringLiteral("ambrelclient.qrc");

struct BundleList
{
    QStringList prefixes;
    QStringList files;
    QString error;
};

// The bundle's own list, read back out of the compiled bundle, so the test follows the list rather than a copy.
BundleList readBundleList()
{
    BundleList list;
    QFile file(kRoot + kListFile);
    if (!file.open(QIODevice::ReadOnly)) {
        list.error = QStringLiteral("the list file is not in the bundle");
        return list;
    }
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("qresource")) {
            list.prefixes << xml.attributes().value(QLatin1String("prefix")).toString();
        } else if (xml.isStartElement() && xml.name() == QLatin1String("file")) {
            list.files << xml.readElementText().trimmed();
        }
    }
    if (xml.hasError()) {
        list.error = xml.errorString();
    }
    return list;
}

QStringList listedImages()
{
    QStringList images = readBundleList().files;
    images.removeAll(kListFile);
    return images;
}

QByteArray formatForName(const QString& name)
{
    return QFileInfo(name).suffix().toLower().toLatin1();
}

// Flat placeholders and blank frames have a single colour: real artwork has at least a shape on a background.
int distinctColours(const QImage& image, int enough)
{
    QSet<QRgb> colours;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height() && colours.size() < enough; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width() && colours.size() < enough; ++x) {
            colours.insert(qAlpha(line[x]) == 0 ? 0u : line[x]);
        }
    }
    return colours.size();
}

bool hasVisiblePixels(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) > 0) {
                return true;
            }
        }
    }
    return false;
}

void addRowsForSuffix(const QString& suffix)
{
    QTest::addColumn<QString>("path");
    for (const QString& name : listedImages()) {
        if (suffix.isEmpty() || name.endsWith(suffix, Qt::CaseInsensitive)) {
            QTest::newRow(qPrintable(name)) << kRoot + name;
        }
    }
}

enum class Fit
{
    Exact,
    AtMost,
    Square,
};

} // namespace

Q_DECLARE_METATYPE(Fit)

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listNamesEveryFileUnderOnePrefix();
    void bundleHoldsOnlyListedFiles();
    void imageDecodesAsItsExtensionSays_data();
    void imageDecodesAsItsExtensionSays();
    void windowsIconHoldsSeveralSizes_data();
    void windowsIconHoldsSeveralSizes();
    void animationHasSeveralDistinctFrames_data();
    void animationHasSeveralDistinctFrames();
    void imageFitsWhereItIsShown_data();
    void imageFitsWhereItIsShown();
    void stillHasItsDoubledDrawing_data();
    void stillHasItsDoubledDrawing();
};

void TestResources::initTestCase()
{
    initBundle();
    QVERIFY2(QFile::exists(kRoot + kListFile), "resource bundle not registered");
}

void TestResources::listNamesEveryFileUnderOnePrefix()
{
    const BundleList list = readBundleList();
    QVERIFY2(list.error.isEmpty(), qPrintable(list.error));
    QCOMPARE(list.prefixes, QStringList{QStringLiteral("AmbrelClient")});
    QVERIFY(list.files.contains(kListFile));
    QVERIFY2(list.files.size() > 1, "the list names no images");

    QSet<QString> seen;
    for (const QString& name : list.files) {
        QVERIFY2(!seen.contains(name), qPrintable(QStringLiteral("listed twice: ") + name));
        seen.insert(name);
        if (name == kListFile) {
            continue;
        }
        QVERIFY2(name.startsWith(QLatin1String("Resources/")), qPrintable(name));
        QVERIFY2(QStringList({"png", "bmp", "ico", "gif"}).contains(QString::fromLatin1(formatForName(name))),
                 qPrintable(name));
    }
}

void TestResources::bundleHoldsOnlyListedFiles()
{
    QStringList compiled;
    QDirIterator it(kRoot + QStringLiteral("Resources"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        compiled << it.next().mid(kRoot.size());
    }
    QStringList listed = listedImages();
    compiled.sort();
    listed.sort();
    QCOMPARE(compiled, listed);
}

void TestResources::imageDecodesAsItsExtensionSays_data()
{
    addRowsForSuffix(QString());
}

void TestResources::imageDecodesAsItsExtensionSays()
{
    QFETCH(QString, path);
    QVERIFY2(QFile::exists(path), "listed but not compiled in");

    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    // The content, not the name, decides: a PNG saved as ".bmp" would fail here.
    QCOMPARE(reader.format(), formatForName(path));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QVERIFY(image.width() > 0 && image.height() > 0);
    QVERIFY2(hasVisiblePixels(image), "fully transparent");
    QVERIFY2(distinctColours(image, 2) >= 2, "a flat fill, not artwork");
}

void TestResources::windowsIconHoldsSeveralSizes_data()
{
    addRowsForSuffix(QStringLiteral(".ico"));
}

void TestResources::windowsIconHoldsSeveralSizes()
{
    QFETCH(QString, path);
    QImageReader reader(path, "ico");
    const int count = reader.imageCount();
    QVERIFY2(count >= 3, qPrintable(QStringLiteral("%1 image(s)").arg(count)));

    QSet<int> sides;
    for (int index = 0; index < count; ++index) {
        QVERIFY(reader.jumpToImage(index));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(QStringLiteral("image %1: %2").arg(index).arg(reader.errorString())));
        QCOMPARE(image.width(), image.height());
        QVERIFY2(hasVisiblePixels(image), qPrintable(QStringLiteral("image %1 is empty").arg(index)));
        sides.insert(image.width());
    }
    QCOMPARE(sides.size(), count);
    // The sizes Windows asks for first: small icons and the task bar.
    QVERIFY(sides.contains(16));
    QVERIFY(sides.contains(32));
}

void TestResources::animationHasSeveralDistinctFrames_data()
{
    addRowsForSuffix(QStringLiteral(".gif"));
}

void TestResources::animationHasSeveralDistinctFrames()
{
    QFETCH(QString, path);
    QMovie movie(path, QByteArray());
    QVERIFY(movie.isValid());
    QCOMPARE(movie.format(), QByteArray("gif"));
    QVERIFY2(movie.frameCount() > 1, qPrintable(QStringLiteral("%1 frame(s)").arg(movie.frameCount())));
    QCOMPARE(movie.loopCount(), -1);

    QSet<QByteArray> frames;
    QSize size;
    for (int index = 0; index < movie.frameCount(); ++index) {
        QVERIFY(movie.jumpToFrame(index));
        const QImage frame = movie.currentImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!frame.isNull());
        if (index == 0) {
            size = frame.size();
        }
        QCOMPARE(frame.size(), size);
        QVERIFY(movie.nextFrameDelay() > 0);
        frames.insert(QByteArray(reinterpret_cast<const char*>(frame.constBits()), int(frame.sizeInBytes())));
    }
    QCOMPARE(frames.size(), movie.frameCount());
}

void TestResources::imageFitsWhereItIsShown_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Fit>("fit");
    QTest::addColumn<QSize>("size");

    // The title bar scales its button pixmaps to exactly 27 x 24 without smoothing: any other size would be
    // distorted.
    QTest::newRow("title bar minimise") << "min.png" << Fit::Exact << QSize(27, 24);
    QTest::newRow("title bar restore") << "max.png" << Fit::Exact << QSize(27, 24);
    QTest::newRow("title bar close") << "close.png" << Fit::Exact << QSize(27, 24);
    QTest::newRow("title bar maximise, first icon image") << "normal.ico" << Fit::AtMost << QSize(27, 24);
    // Shown unscaled: the logo in the 24 px title bar, the loading card over the window, the illustration in its
    // 474 x 518 panel, the hint icon in its 66 x 54 cell, the failure mark in its 23 px strip.
    QTest::newRow("title bar logo") << "logo.bmp" << Fit::AtMost << QSize(24, 24);
    QTest::newRow("loading animation") << "tips.gif" << Fit::AtMost << QSize(860, 523);
    QTest::newRow("home page illustration") << "homePage.png" << Fit::AtMost << QSize(474, 518);
    QTest::newRow("message box hint") << "ic_normal_hint.png" << Fit::AtMost << QSize(66, 54);
    QTest::newRow("warning strip mark") << "shibai.png" << Fit::AtMost << QSize(23, 23);
    // Icons drawn at their button's size: a different aspect ratio would leave the button partly empty.
    QTest::newRow("home page start") << "startButton.png" << Fit::Exact << QSize(209, 60);
    QTest::newRow("home page upload") << "编组备份.png" << Fit::Exact << QSize(209, 60);
    QTest::newRow("capture full screen") << "allscreen.png" << Fit::Exact << QSize(98, 46);
    QTest::newRow("exit full screen") << "esc.png" << Fit::Exact << QSize(130, 46);
    QTest::newRow("capture finish") << "finish.png" << Fit::Exact << QSize(78, 28);
    QTest::newRow("viewer previous") << "left.png" << Fit::Exact << QSize(20, 36);
    QTest::newRow("viewer next") << "right.png" << Fit::Exact << QSize(20, 36);
    // Round things scaled into square cells.
    QTest::newRow("take button") << "BK1.png" << Fit::Square << QSize(78, 78);
    QTest::newRow("take button pressed") << "BK2.png" << Fit::Square << QSize(78, 78);
    QTest::newRow("done mark") << "wancheng.png" << Fit::Square << QSize(24, 24);
}

void TestResources::imageFitsWhereItIsShown()
{
    QFETCH(QString, name);
    QFETCH(Fit, fit);
    QFETCH(QSize, size);

    const QString relative = QStringLiteral("Resources/") + name;
    QVERIFY2(listedImages().contains(relative), "not in the bundle list");
    const QImage image(kRoot + relative);
    QVERIFY(!image.isNull());
    switch (fit) {
    case Fit::Exact:
        QCOMPARE(image.size(), size);
        break;
    case Fit::AtMost:
        QVERIFY2(image.width() <= size.width() && image.height() <= size.height(),
                 qPrintable(QStringLiteral("%1 x %2").arg(image.width()).arg(image.height())));
        break;
    case Fit::Square:
        QCOMPARE(image.width(), image.height());
        // Scaled down into the cell, never up: smaller artwork would be blurred.
        QVERIFY(image.width() >= size.width());
        break;
    }
}

void TestResources::stillHasItsDoubledDrawing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("doubled");
    for (const QString& name : listedImages()) {
        const QString suffix = QFileInfo(name).suffix();
        if (suffix != QLatin1String("png") && suffix != QLatin1String("bmp"))
            continue;
        QString single = name;
        if (single.endsWith(QStringLiteral("@2x.") + suffix))
            single.remove(single.size() - suffix.size() - 4, 3);
        QTest::newRow(qPrintable(name)) << single << single.left(single.size() - suffix.size() - 1) + "@2x." + suffix;
    }
}

void TestResources::stillHasItsDoubledDrawing()
{
    QFETCH(QString, name);
    QFETCH(QString, doubled);
    // Qt shows "name@2x.ext" on screens scaled by 2, at the logical size of "name.ext": both must be listed and the
    // doubled one exactly twice as large, or the picture would jump in size or blur.
    const QStringList listed = listedImages();
    QVERIFY2(listed.contains(name), qPrintable(name + QStringLiteral(" is not listed")));
    QVERIFY2(listed.contains(doubled), qPrintable(doubled + QStringLiteral(" is not listed")));
    const QImage single(kRoot + name);
    const QImage twice(kRoot + doubled);
    QVERIFY(!single.isNull() && !twice.isNull());
    QCOMPARE(twice.size(), single.size() * 2);
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
