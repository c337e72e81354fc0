#include <QtTest>

#include "service/MD5.h"
#include "service/SafeFileName.h"

namespace {

QString md5Hex(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    MD5 md5;
    md5.update(bytes.constData(), size_t(bytes.size()));
    return QString::fromStdString(md5.toString());
}

} // namespace

// Names the download cannot exercise: the emulator does not serve such paths, so only the derived name is checked.
class TestSafeFileName : public QObject
{
    Q_OBJECT

private slots:
    void fromUrl_data();
    void fromUrl();
};

void TestSafeFileName::fromUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("extension"); // after the URL's digest; a null text: the last segment is kept

    QTest::newRow("plain name kept") << "http://h/x/p1.png?v=2" << QString();
    QTest::newRow("line end after the extension") << "http://h/x/evil.png\n"
                                                  << "";
    QTest::newRow("lone surrogate after a device name")
        << QString(QStringLiteral("http://h/x/CON.") + QChar(0xDC00)) << "";
    QTest::newRow("console output device with extension") << "http://h/x/conout$.txt"
                                                          << ".txt";
}

void TestSafeFileName::fromUrl()
{
    QFETCH(QString, url);
    QFETCH(QString, extension);
    const QString name = SafeFileName::fromUrl(url);
    if (extension.isNull())
        QCOMPARE(name, url.section(QLatin1Char('?'), 0, 0).section(QLatin1Char('/'), -1));
    else
        QCOMPARE(name, md5Hex(url) + extension);
}

QTEST_GUILESS_MAIN(TestSafeFileName)
#include "tst_safefilename.moc"
