#include <QTest>

#include "widgets/NumLabel.h"

namespace {

bool isWhitish(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) > 200 && qBlue(pixel) > 200;
}

} // namespace

class TestNumLabel : public QObject
{
    Q_OBJECT

private slots:
    void drawsWhiteTextInsideBadge_data();
    void drawsWhiteTextInsideBadge();
    void differentTextsPaintDifferently();
};

void TestNumLabel::drawsWhiteTextInsideBadge_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("three pages") << QStringLiteral("3张");
    QTest::newRow("two digits") << QStringLiteral("12张");
}

void TestNumLabel::drawsWhiteTextInsideBadge()
{
    QFETCH(QString, text);
    QWidget host;
    host.setStyleSheet(QStringLiteral("background:rgb(200,200,200);"));
    host.resize(60, 40);
    NumLabel badge(text, &host);
    badge.setGeometry(10, 10, 36, 18);
    QCOMPARE(badge.badgeText(), text);
    QVERIFY(badge.QLabel::text().isEmpty());

    const QImage image = host.grab().toImage().copy(10, 10, 36, 18).convertToFormat(QImage::Format_RGB32);
    const QRect textArea(7, 0, 25, 17);
    int whiteInside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!isWhitish(image.pixel(x, y)))
                continue;
            QVERIFY2(textArea.contains(x, y),
                     qPrintable(QStringLiteral("white outside the text at %1,%2").arg(x).arg(y)));
            ++whiteInside;
        }
    }
    QVERIFY(whiteInside > 5);
    // The badge darkens the light page behind it (black at alpha 118 over grey 200 gives about 107).
    const QRgb corner = image.pixel(3, 9);
    QVERIFY2(qRed(corner) < 150 && qRed(corner) > 60, qPrintable(QString::number(qRed(corner))));
}

void TestNumLabel::differentTextsPaintDifferently()
{
    NumLabel three(QStringLiteral("3张"));
    NumLabel seven(QStringLiteral("7张"));
    three.resize(36, 18);
    seven.resize(36, 18);
    QVERIFY(three.grab().toImage() != seven.grab().toImage());
}

QTEST_MAIN(TestNumLabel)
#include "tst_numlabel.moc"
