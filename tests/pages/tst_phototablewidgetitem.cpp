#include <QBuffer>
#include <QImageWriter>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "TestUtils.h"
#include "pages/PhotoTableWidgetItem.h"
#include "widgets/NumLabel.h"

class TestPhotoTableWidgetItem : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_dir.reset(); }

    void texts_data();
    void texts();
    void thumbnailIsReadByContent_data();
    void thumbnailIsReadByContent();
    void unusableThumbnailLeavesThePhotoEmpty_data();
    void unusableThumbnailLeavesThePhotoEmpty();
    void replacedThumbnailIsReadAgain();
    void anyPressEmitsTheIndex_data();
    void anyPressEmitsTheIndex();

private:
    std::unique_ptr<ScopedWorkingDirectory> m_dir;
};

void TestPhotoTableWidgetItem::init()
{
    m_dir = std::make_unique<ScopedWorkingDirectory>();
    QVERIFY(m_dir->isValid());
}

void TestPhotoTableWidgetItem::texts_data()
{
    QTest::addColumn<QString>("score");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("shownScore");
    QTest::addColumn<QString>("badge");

    QTest::newRow("no page counted yet") << QStringLiteral("92分") << QString() << 0 << QStringLiteral("识别中")
                                         << QStringLiteral("0张");
    QTest::newRow("three pages with a warning") << QStringLiteral("92分") << QStringLiteral("第2页字迹模糊") << 3
                                                << QStringLiteral("92分") << QStringLiteral("3张");
    QTest::newRow("score passed unchanged")
        << QStringLiteral(" 87.5 / 100 ") << QString() << 1 << QStringLiteral(" 87.5 / 100 ") << QStringLiteral("1张");
}

void TestPhotoTableWidgetItem::texts()
{
    QFETCH(QString, score);
    QFETCH(QString, warning);
    QFETCH(int, count);
    QFETCH(QString, shownScore);
    QFETCH(QString, badge);
    PhotoTableWidgetItem tile(QString(), QStringLiteral("张三"), score, warning, count, 4);
    tile.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tile));

    QCOMPARE(tile.size(), QSize(185, 185));
    QCOMPARE(tile.findChild<QLabel*>(QStringLiteral("name"))->text(), QStringLiteral("张三"));
    QCOMPARE(tile.findChild<QLabel*>(QStringLiteral("score"))->text(), shownScore);
    auto* warningLabel = tile.findChild<QLabel*>(QStringLiteral("label"));
    QCOMPARE(warningLabel->isVisible(), !warning.isEmpty());
    if (!warning.isEmpty())
        QCOMPARE(warningLabel->text(), warning);
    auto* photo = tile.findChild<QLabel*>(QStringLiteral("photo"));
    auto* numLabel = photo->findChild<NumLabel*>();
    QVERIFY(numLabel);
    QCOMPARE(numLabel->badgeText(), badge);
    // Wholly inside the photo, in its top right corner.
    QCOMPARE(numLabel->geometry(), QRect(185 - 36, 0, 36, 18));
}

void TestPhotoTableWidgetItem::thumbnailIsReadByContent_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("png named .png") << QByteArray("PNG") << QStringLiteral("thumb.png");
    QTest::newRow("png named .jpg") << QByteArray("PNG") << QStringLiteral("thumb.jpg");
    QTest::newRow("bmp without extension") << QByteArray("BMP") << QStringLiteral("thumb");
}

void TestPhotoTableWidgetItem::thumbnailIsReadByContent()
{
    QFETCH(QByteArray, format);
    QFETCH(QString, fileName);
    const QImage source = TestUtils::makeTestImage(400, 300);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(source.save(&buffer, format.constData()));
    const QString path = m_dir->filePath(fileName);
    QVERIFY(TestUtils::writeFile(path, bytes));

    PhotoTableWidgetItem tile(path, QStringLiteral("李四"), QStringLiteral("80分"), QString(), 2, 0);

    const QPixmap shown = tile.findChild<QLabel*>(QStringLiteral("photo"))->pixmap(Qt::ReturnByValue);
    QCOMPARE(shown.size(), QSize(185, 135));
    // Stretched to the tile, aspect ignored: the corner squares end up in the corners.
    const QImage image = shown.toImage();
    QCOMPARE(QColor(image.pixel(2, 2)), QColor(Qt::red));
    QCOMPARE(QColor(image.pixel(182, 2)), QColor(Qt::green));
    QCOMPARE(QColor(image.pixel(2, 132)), QColor(Qt::blue));
    QCOMPARE(QColor(image.pixel(182, 132)), QColor(Qt::white));
}

void TestPhotoTableWidgetItem::unusableThumbnailLeavesThePhotoEmpty_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty path") << QString() << QByteArray();
    QTest::newRow("missing file") << QStringLiteral("absent.jpg") << QByteArray();
    QTest::newRow("not an image") << QStringLiteral("broken.jpg") << QByteArray("<html>not found</html>");
    QTest::newRow("truncated jpeg") << QStringLiteral("cut.jpg") << QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
}

void TestPhotoTableWidgetItem::unusableThumbnailLeavesThePhotoEmpty()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QString path;
    if (!fileName.isEmpty()) {
        path = m_dir->filePath(fileName);
        if (!bytes.isEmpty())
            QVERIFY(TestUtils::writeFile(path, bytes));
    }

    PhotoTableWidgetItem tile(path, QStringLiteral("王五"), QStringLiteral("70分"), QString(), 1, 0);

    QVERIFY(tile.findChild<QLabel*>(QStringLiteral("photo"))->pixmap(Qt::ReturnByValue).isNull());
}

void TestPhotoTableWidgetItem::replacedThumbnailIsReadAgain()
{
    const QString path = m_dir->filePath(QStringLiteral("thumb.png"));
    auto write = [&](const QColor& colour, int width) {
        QImage image(width, 100, QImage::Format_RGB32);
        image.fill(colour);
        return image.save(path, "PNG");
    };
    auto shownColour = [&] {
        PhotoTableWidgetItem tile(path, QStringLiteral("甲"), QStringLiteral("1分"), QString(), 1, 0);
        return QColor(
            tile.findChild<QLabel*>(QStringLiteral("photo"))->pixmap(Qt::ReturnByValue).toImage().pixel(90, 60));
    };
    QVERIFY(write(Qt::red, 200));
    QCOMPARE(shownColour(), QColor(Qt::red));

    QVERIFY(write(Qt::blue, 240));

    QCOMPARE(shownColour(), QColor(Qt::blue));
}

void TestPhotoTableWidgetItem::anyPressEmitsTheIndex_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("where");
    QTest::newRow("left on the photo") << int(Qt::LeftButton) << QPoint(90, 60);
    QTest::newRow("right on the photo") << int(Qt::RightButton) << QPoint(90, 60);
    QTest::newRow("middle on the name row") << int(Qt::MiddleButton) << QPoint(20, 150);
}

void TestPhotoTableWidgetItem::anyPressEmitsTheIndex()
{
    QFETCH(int, button);
    QFETCH(QPoint, where);
    PhotoTableWidgetItem tile(QString(), QStringLiteral("赵六"), QStringLiteral("60分"), QString(), 1, 7);
    tile.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tile));
    QSignalSpy clicked(&tile, SIGNAL(indexClicked(int)));

    QWidget* target = tile.childAt(where) ? tile.childAt(where) : &tile;
    QTest::mousePress(target, Qt::MouseButton(button), Qt::NoModifier, target->mapFrom(&tile, where));

    QCOMPARE(clicked.count(), 1);
    QCOMPARE(clicked.first().first().toInt(), 7);
}

QTEST_MAIN(TestPhotoTableWidgetItem)
#include "tst_phototablewidgetitem.moc"
