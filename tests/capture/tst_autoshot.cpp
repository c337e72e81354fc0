#include <QBuffer>
#include <QPainter>
#include <QSet>
#include <QTest>

#include "capture/AutoShot.h"
#include "capture/ScriptedDesk.h"
#include "capture/StillCheck.h"

Q_DECLARE_METATYPE(ScriptedDesk)

namespace {

using Look = ScriptedDesk::Look;

// The preview's pace and a size whose reduction averages several camera pixels, as a real frame's does.
constexpr qint64 kFrameMs = 66;
const QSize kFrameSize(320, 240);

struct Shot
{
    qint64 ms;
    ScriptedDesk::Scene scene;
};

// Auto shot switched on at fromMs.
QVector<Shot> playThrough(const ScriptedDesk& desk, qint64 fromMs)
{
    AutoShot autoShot;
    QVector<Shot> shots;
    for (qint64 t = fromMs; t <= desk.durationMs(); t += kFrameMs) {
        if (autoShot.step(desk.frame(t, kFrameSize), t))
            shots.append({t, desk.sceneAt(t)});
    }
    return shots;
}

QByteArray jpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

const char* retakeOutcome(StillCheck::Retake retake)
{
    switch (retake) {
    case StillCheck::Retake::KeepFirst:
        return "still";
    case StillCheck::Retake::KeepRetake:
        return "retake";
    case StillCheck::Retake::KeepBoth:
        break;
    }
    return "both";
}

} // namespace

class TestAutoShot : public QObject
{
    Q_OBJECT

private slots:
    void shotsPerScriptedDesk_data();
    void shotsPerScriptedDesk();
    void stillCheckOutcome_data();
    void stillCheckOutcome();
};

void TestAutoShot::shotsPerScriptedDesk_data()
{
    QTest::addColumn<ScriptedDesk>("desk");
    QTest::addColumn<qint64>("from"); // auto shot switched on
    QTest::addColumn<int>("shots");

    QTest::newRow("place, settle, remove")
        << ScriptedDesk().wait(1500).place(1).wait(2000).remove().wait(2000) << qint64(0) << 1;
    QTest::newRow("hand lingers over the sheet before it goes")
        << ScriptedDesk().wait(1500).place(1).linger(3000).wait(2000) << qint64(0) << 1;
    QTest::newRow("empty desk, a hand passing over it")
        << ScriptedDesk().noise(3).wait(2000).linger(2500).wait(2000) << qint64(0) << 0;
    QTest::newRow("same sheet pushed a little")
        << ScriptedDesk().wait(1500).place(1).wait(2000).nudge(0.01, 0.008).wait(2000) << qint64(0) << 1;
    QTest::newRow("fast swaps") << ScriptedDesk()
                                       .wait(1000)
                                       .place(1, Look::Sharp, 1000)
                                       .wait(1000)
                                       .swap(2, Look::Sharp, 1200)
                                       .wait(1000)
                                       .swap(3, Look::Sharp, 1200)
                                       .wait(1500)
                                << qint64(0) << 3;
    QTest::newRow("camera noise") << ScriptedDesk().noise(8).wait(1500).place(1).wait(2000).swap(2).wait(2000)
                                  << qint64(0) << 2;
    QTest::newRow("lights changing, sheet and empty desk") << ScriptedDesk()
                                                                  .wait(1500)
                                                                  .place(1)
                                                                  .wait(2000)
                                                                  .lights(0.6, 0)
                                                                  .wait(2000)
                                                                  .lights(1.0, 3000)
                                                                  .wait(1500)
                                                                  .remove()
                                                                  .wait(1500)
                                                                  .lights(0.7, 0)
                                                                  .wait(2000)
                                                           << qint64(0) << 1;
    // The sheet lies there (the hand let go at 2400 ms) when auto shot is switched on: it is shot, and the empty
    // desk after it is learnt, not shot.
    QTest::newRow("sheet lying when switched on, then removed, then the next")
        << ScriptedDesk().noise(3).wait(1000).place(1).wait(3000).remove().wait(2500).place(2).wait(2000)
        << qint64(2600) << 2;
}

void TestAutoShot::shotsPerScriptedDesk()
{
    QFETCH(ScriptedDesk, desk);
    QFETCH(qint64, from);
    QFETCH(int, shots);
    const QVector<Shot> taken = playThrough(desk, from);
    QCOMPARE(taken.size(), shots);
    QSet<int> sheets;
    for (const Shot& shot : taken) {
        QVERIFY2(shot.scene.sheet >= 0, qPrintable(QStringLiteral("empty desk shot at %1 ms").arg(shot.ms)));
        QVERIFY2(!shot.scene.hand, qPrintable(QStringLiteral("hand in the shot at %1 ms").arg(shot.ms)));
        QVERIFY2(!sheets.contains(shot.scene.sheet),
                 qPrintable(QStringLiteral("sheet %1 twice").arg(shot.scene.sheet)));
        sheets.insert(shot.scene.sheet);
        // Soon after the hand let go of the sheet.
        qint64 rest = -1;
        for (const ScriptedDesk::Rest& r : desk.rests())
            if (r.fromMs <= shot.ms)
                rest = std::max(r.fromMs, from);
        QVERIFY(rest >= 0);
        QVERIFY2(shot.ms - rest < 1000,
                 qPrintable(QStringLiteral("%1 ms after the sheet lay still").arg(shot.ms - rest)));
    }
}

void TestAutoShot::stillCheckOutcome_data()
{
    QTest::addColumn<QImage>("still");
    QTest::addColumn<int>("problem");
    QTest::addColumn<QString>("reason");
    // Taken again because the still failed (null: none), and which of the two is kept: "still", "retake" or "both".
    QTest::addColumn<QImage>("retake");
    QTest::addColumn<QString>("kept");

    const QSize size(1600, 1200);
    ScriptedDesk desk;
    desk.wait(100).place(9).wait(100).swap(10, Look::Blurred).wait(100).swap(11, Look::Dark).wait(100);
    const auto lying = [&desk](int sheet) {
        for (const ScriptedDesk::Rest& r : desk.rests())
            if (r.sheet == sheet)
                return desk.still(r.fromMs + 50, QSize(1600, 1200));
        return QImage();
    };
    QImage glare = lying(9);
    {
        QPainter p(&glare);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(size.width() * 0.3, size.height() * 0.3, size.width() * 0.35, size.height() * 0.3));
    }
    const QImage emptyDesk = desk.still(50, size);
    const QString still = QStringLiteral("still");
    QTest::newRow("sharp") << lying(9) << int(StillCheck::Problem::None) << QString() << QImage() << still;
    QTest::newRow("blurred") << lying(10) << int(StillCheck::Problem::Blurred) << QStringLiteral("照片可能模糊")
                             << QImage() << still;
    QTest::newRow("dark") << lying(11) << int(StillCheck::Problem::Dark) << QStringLiteral("光线过暗") << QImage()
                          << still;
    QTest::newRow("glare") << glare << int(StillCheck::Problem::Glare) << QStringLiteral("反光过强") << QImage()
                           << still;
    // The empty desk is as dark as a dark sheet, but it is no sheet at all.
    QTest::newRow("empty desk") << emptyDesk << int(StillCheck::Problem::NoSheet) << QStringLiteral("未拍到答题卡")
                                << QImage() << still;
    QTest::newRow("dark, retaken in light: the retake in its place")
        << lying(11) << int(StillCheck::Problem::Dark) << QStringLiteral("光线过暗")
        << ScriptedDesk::drawSheetOnDesk(size, 11) << QStringLiteral("retake");
    QTest::newRow("dark, the hand swapped the sheet meanwhile: both kept")
        << lying(11) << int(StillCheck::Problem::Dark) << QStringLiteral("光线过暗")
        << ScriptedDesk::drawSheetOnDesk(size, 12) << QStringLiteral("both");
    QTest::newRow("dark, the hand took the sheet away meanwhile: the sheet kept")
        << lying(11) << int(StillCheck::Problem::Dark) << QStringLiteral("光线过暗") << emptyDesk << still;
}

void TestAutoShot::stillCheckOutcome()
{
    QFETCH(QImage, still);
    QFETCH(int, problem);
    QFETCH(QString, reason);
    QFETCH(QImage, retake);
    QFETCH(QString, kept);
    // Sharpness is judged against the run's earlier stills: three sharp sheets of other students.
    StillCheck check;
    for (int variant = 1; variant <= 3; ++variant)
        check.remember(check.judge(jpeg(ScriptedDesk::drawSheetOnDesk(QSize(1600, 1200), variant))));
    const QImage decoded = StillCheck::decode(jpeg(still));
    const StillCheck::Result result = check.judge(StillCheck::measure(decoded));
    QCOMPARE(int(result.problem), problem);
    QCOMPARE(StillCheck::reasonText(result.problem), reason);
    if (retake.isNull())
        return;
    const QImage retaken = StillCheck::decode(jpeg(retake));
    const StillCheck::Retake outcome = StillCheck::afterRetake(
        result, AutoShot::reduce(decoded), check.judge(StillCheck::measure(retaken)), AutoShot::reduce(retaken));
    QCOMPARE(QString::fromLatin1(retakeOutcome(outcome)), kept);
}

QTEST_MAIN(TestAutoShot)
#include "tst_autoshot.moc"
