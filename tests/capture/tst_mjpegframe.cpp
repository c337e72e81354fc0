#include <QBuffer>
#include <QImage>
#include <QTest>

#include "TestUtils.h"
#include "capture/MjpegFrame.h"

namespace {

QByteArray encodeJpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return bytes;
}

// What a USB camera streams: the same JPEG with every Huffman table segment taken out of its headers.
QByteArray withoutHuffmanTables(const QByteArray& jpeg, int* removed)
{
    QByteArray out = jpeg.left(2);
    int pos = 2;
    *removed = 0;
    while (pos + 4 <= jpeg.size()) {
        const auto type = static_cast<unsigned char>(jpeg.at(pos + 1));
        if (type == 0xDA) {
            out.append(jpeg.mid(pos));
            return out;
        }
        const int length =
            (static_cast<unsigned char>(jpeg.at(pos + 2)) << 8) | static_cast<unsigned char>(jpeg.at(pos + 3));
        if (type == 0xC4)
            ++*removed;
        else
            out.append(jpeg.mid(pos, 2 + length));
        pos += 2 + length;
    }
    return QByteArray();
}

QImage decode(const QByteArray& bytes)
{
    return QImage::fromData(bytes, "JPG");
}

} // namespace

class TestMjpegFrame : public QObject
{
    Q_OBJECT

private slots:
    void insertedTablesDecodeLikeOriginal_data();
    void insertedTablesDecodeLikeOriginal();
    void framesLeftUnchanged_data();
    void framesLeftUnchanged();
    void fillBytesBeforeMarkersAreSkipped();
};

void TestMjpegFrame::insertedTablesDecodeLikeOriginal_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("quality");
    QTest::newRow("colour 640x480, quality 80") << TestUtils::makeTestImage(640, 480) << 80;
    QTest::newRow("colour odd size 333x217, quality 95") << TestUtils::makeTestImage(333, 217) << 95;
    QTest::newRow("colour 2048x1536, quality 60") << TestUtils::makeTestImage(2048, 1536) << 60;
    QTest::newRow("grey 320x240: luminance tables only")
        << TestUtils::makeTestImage(320, 240).convertToFormat(QImage::Format_Grayscale8) << 85;
}

void TestMjpegFrame::insertedTablesDecodeLikeOriginal()
{
    QFETCH(QImage, image);
    QFETCH(int, quality);
    const QByteArray original = encodeJpeg(image, quality);
    QVERIFY(MjpegFrame::hasHuffmanTables(original));
    int removed = 0;
    const QByteArray stripped = withoutHuffmanTables(original, &removed);
    QVERIFY(removed > 0);
    QVERIFY(!MjpegFrame::hasHuffmanTables(stripped));

    const QByteArray repaired = MjpegFrame::withHuffmanTables(stripped);
    QVERIFY(MjpegFrame::hasHuffmanTables(repaired));
    const QImage expected = decode(original);
    const QImage actual = decode(repaired);
    QVERIFY(!actual.isNull());
    // The encoder used the standard tables, so putting them back restores the very same picture.
    QCOMPARE(actual, expected);
}

void TestMjpegFrame::framesLeftUnchanged_data()
{
    const QByteArray complete = encodeJpeg(TestUtils::makeTestImage(64, 48), 90);
    int removed = 0;
    const QByteArray stripped = withoutHuffmanTables(complete, &removed);
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("already has tables") << complete;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a JPEG") << QByteArray("\x89PNG\r\n\x1a\n plain bytes", 18);
    QTest::newRow("headers cut before the scan") << stripped.left(40);
    QTest::newRow("segment length below 2") << QByteArray("\xFF\xD8\xFF\xE0\x00\x01\xFF\xDA", 8);
    QTest::newRow("garbage between segments") << QByteArray("\xFF\xD8\x12\x34\xFF\xDA\x00\x02", 8);
}

void TestMjpegFrame::framesLeftUnchanged()
{
    QFETCH(QByteArray, frame);
    QCOMPARE(MjpegFrame::withHuffmanTables(frame), frame);
}

void TestMjpegFrame::fillBytesBeforeMarkersAreSkipped()
{
    const QByteArray complete = encodeJpeg(TestUtils::makeTestImage(96, 64), 90);
    int removed = 0;
    QByteArray stripped = withoutHuffmanTables(complete, &removed);
    // A run of fill bytes before the first header marker is allowed.
    stripped.insert(2, QByteArray("\xFF\xFF\xFF", 3));
    const QImage actual = decode(MjpegFrame::withHuffmanTables(stripped));
    QCOMPARE(actual, decode(complete));
}

QTEST_MAIN(TestMjpegFrame)
#include "tst_mjpegframe.moc"
