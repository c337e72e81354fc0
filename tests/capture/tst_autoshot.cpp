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

QVector<Shot> playThrough(const ScriptedDesk& desk)
{
    AutoShot autoShot;
    QVector<Shot> shots;
    for (qint64 t = 0; t <= desk.durationMs(); t += kFrameMs) {
        if (autoShot.step(AutoShot::reduce(desk.frame(t, kFrameSize)), t))
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
    QTest::addColumn<int>("shots");

    QTest::newRow("place, settle, remove") << ScriptedDesk().wait(1500).place(1).wait(2000).remove().wait(2000) << 1;
    QTest::newRow("hand lingers over the sheet before it goes")
        << ScriptedDesk().wait(1500).place(1).linger(3000).wait(2000) << 1;
    QTest::newRow("empty desk, a hand passing over it")
        << ScriptedDesk().noise(3).wait(2000).linger(2500).wait(2000) << 0;
    QTest::newRow("same sheet pushed a little")
        << ScriptedDesk().wait(1500).place(1).wait(2000).nudge(0.01, 0.008).wait(2000) << 1;
    QTest::newRow("fast swaps") << ScriptedDesk()
                                       .wait(1000)
                                       .place(1, Look::Sharp, 1000)
                                       .wait(1000)
                                       .swap(2, Look::Sharp, 1200)
                                       .wait(1000)
                                       .swap(3, Look::Sharp, 1200)
                                       .wait(1500)
                                << 3;
    QTest::newRow("camera noise") << ScriptedDesk().noise(8).wait(1500).place(1).wait(2000).swap(2).wait(2000) << 2;
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
                                                           << 1;
}

void TestAutoShot::shotsPerScriptedDesk()
{
    QFETCH(ScriptedDesk, desk);
    QFETCH(int, shots);
    const QVector<Shot> taken = playThrough(desk);
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
                rest = r.fromMs;
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

    const QSize size(1600, 1200);
    ScriptedDesk desk;
    desk.place(9).wait(100).swap(10, Look::Blurred).wait(100).swap(11, Look::Dark).wait(100);
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
    QTest::newRow("sharp") << lying(9) << int(StillCheck::Problem::None) << QString();
    QTest::newRow("blurred") << lying(10) << int(StillCheck::Problem::Blurred) << QStringLiteral("照片可能模糊");
    QTest::newRow("dark") << lying(11) << int(StillCheck::Problem::Dark) << QStringLiteral("光线过暗");
    QTest::newRow("glare") << glare << int(StillCheck::Problem::Glare) << QStringLiteral("反光过强");
}

void TestAutoShot::stillCheckOutcome()
{
    QFETCH(QImage, still);
    QFETCH(int, problem);
    QFETCH(QString, reason);
    // Sharpness is judged against the run's earlier stills: three sharp sheets of other students.
    StillCheck check;
    for (int variant = 1; variant <= 3; ++variant)
        check.remember(check.judge(jpeg(ScriptedDesk::drawSheetOnDesk(QSize(1600, 1200), variant))));
    const StillCheck::Result result = check.judge(jpeg(still));
    QCOMPARE(int(result.problem), problem);
    QCOMPARE(StillCheck::reasonText(result.problem), reason);
}

QTEST_MAIN(TestAutoShot)
#include "tst_autoshot.moc"
