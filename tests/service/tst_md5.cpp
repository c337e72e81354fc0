#include <QCryptographicHash>
#include <QtTest>

#include "service/MD5.h"

namespace {

QString md5Of(MD5& md5)
{
    return QString::fromStdString(md5.toString());
}

QString reference(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

// Bytes that are not all alike, so that a misplaced block or word shows.
QByteArray pattern(int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((i * 37 + 11) & 0xff);
    return bytes;
}

} // namespace

class TestMD5 : public QObject
{
    Q_OBJECT

private slots:
    void rfc1321Suite_data();
    void rfc1321Suite();
    void splitUpdates_data();
    void splitUpdates();
    void blockBoundaries_data();
    void blockBoundaries();
    void digestThenUpdateContinuesMessage_data();
    void digestThenUpdateContinuesMessage();
    void digestIsStableAndMatchesText();
    void stringUpdateUsesWholeSize();
    void resetStartsAnewAfterUse();
    void millionCharacters();
};

void TestMD5::rfc1321Suite_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QByteArray("") << "d41d8cd98f00b204e9800998ecf8427e";
    QTest::newRow("a") << QByteArray("a") << "0cc175b9c0f1b6a831c399e269772661";
    QTest::newRow("abc") << QByteArray("abc") << "900150983cd24fb0d6963f7d28e17f72";
    QTest::newRow("message digest") << QByteArray("message digest") << "f96b697d7cb7938d525a2f31aaf161d0";
    QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz") << "c3fcd3d76192e4007dfb496cca67e13b";
    QTest::newRow("alphanumeric") << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
                                  << "d174ab98d277d9f5a5611c2c9f419d9f";
    QTest::newRow("eight times digits")
        << QByteArray("12345678901234567890123456789012345678901234567890123456789012345678901234567890")
        << "57edf4a22be3c955ac49da2e2107b67a";
}

void TestMD5::rfc1321Suite()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);

    MD5 md5;
    md5.update(input.constData(), size_t(input.size()));
    QCOMPARE(md5Of(md5), expected);
}

void TestMD5::splitUpdates_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("pieces");

    QTest::newRow("two halves of a short text") << 14 << QList<int>{7, 7};
    QTest::newRow("byte by byte across a block") << 70 << QVector<int>(70, 1).toList();
    QTest::newRow("first piece fills the block exactly") << 130 << QList<int>{64, 66};
    QTest::newRow("first piece one short of a block") << 130 << QList<int>{63, 1, 66};
    QTest::newRow("first piece one over a block") << 200 << QList<int>{65, 135};
    QTest::newRow("empty pieces between") << 100 << QList<int>{0, 50, 0, 50, 0};
    QTest::newRow("three blocks at once after a partial") << 250 << QList<int>{10, 192, 48};
}

void TestMD5::splitUpdates()
{
    QFETCH(int, length);
    QFETCH(QList<int>, pieces);

    const QByteArray bytes = pattern(length);
    MD5 md5;
    int offset = 0;
    for (int piece : pieces) {
        md5.update(bytes.constData() + offset, size_t(piece));
        offset += piece;
    }
    QCOMPARE(offset, length);
    QCOMPARE(md5Of(md5), reference(bytes));
}

void TestMD5::blockBoundaries_data()
{
    QTest::addColumn<int>("length");

    // From 56 bytes on the length field no longer fits the last block.
    for (int length : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000})
        QTest::newRow(qPrintable(QStringLiteral("%1 bytes").arg(length))) << length;
}

void TestMD5::blockBoundaries()
{
    QFETCH(int, length);

    const QByteArray bytes = pattern(length);
    MD5 md5;
    md5.update(bytes.constData(), size_t(bytes.size()));
    QCOMPARE(md5Of(md5), reference(bytes));
}

void TestMD5::digestThenUpdateContinuesMessage_data()
{
    QTest::addColumn<int>("firstLength");
    QTest::addColumn<int>("secondLength");

    QTest::newRow("short then short") << 3 << 5;
    QTest::newRow("first part forces a second padding block") << 60 << 10;
    QTest::newRow("first part a whole block") << 64 << 64;
    QTest::newRow("nothing then text") << 0 << 20;
    QTest::newRow("text then nothing") << 20 << 0;
}

void TestMD5::digestThenUpdateContinuesMessage()
{
    QFETCH(int, firstLength);
    QFETCH(int, secondLength);

    const QByteArray all = pattern(firstLength + secondLength);
    MD5 md5;
    md5.update(all.constData(), size_t(firstLength));
    QCOMPARE(md5Of(md5), reference(all.left(firstLength)));
    md5.update(all.constData() + firstLength, size_t(secondLength));
    QCOMPARE(md5Of(md5), reference(all));
}

void TestMD5::digestIsStableAndMatchesText()
{
    MD5 md5;
    md5.update(std::string("abc"));
    const QByteArray first(reinterpret_cast<const char*>(md5.digest()), 16);
    const QByteArray second(reinterpret_cast<const char*>(md5.digest()), 16);
    QCOMPARE(first, second);
    QCOMPARE(QString::fromLatin1(first.toHex()), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    QCOMPARE(md5Of(md5), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
}

void TestMD5::stringUpdateUsesWholeSize()
{
    const std::string withZero("ab\0cd", 5);
    MD5 md5;
    md5.update(withZero);
    QCOMPARE(md5Of(md5), reference(QByteArray("ab\0cd", 5)));
}

void TestMD5::resetStartsAnewAfterUse()
{
    MD5 md5;
    md5.update(std::string("something else entirely"));
    md5.toString();
    md5.reset();
    md5.update(std::string("abc"));
    QCOMPARE(md5Of(md5), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
}

void TestMD5::millionCharacters()
{
    const std::string block(1000, 'a');
    MD5 md5;
    for (int i = 0; i < 1000; ++i)
        md5.update(block);
    QCOMPARE(md5Of(md5), QStringLiteral("7707d6ae4e027c70eea2a935c2296f21"));
}

QTEST_GUILESS_MAIN(TestMD5)
#include "tst_md5.moc"
