#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest>

#include "TestClock.h"
#include "service/RequestSigning.h"

namespace {

const qint64 CLOCK = 1700000000123;

QString md5Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QString paramAfter(const QString& text, const QString& name)
{
    const QRegularExpression pattern(QStringLiteral("(?:^|&)") + QRegularExpression::escape(name) +
                                     QStringLiteral("=([^&]*)"));
    return pattern.match(text).captured(1);
}

} // namespace

class TestRequestSigning : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void signature_data();
    void signature();
    void endpointTexts_data();
    void endpointTexts();
    void analyseCarriesOneClockReading();
    void clockSeamRestoresRealClock();

private:
    std::unique_ptr<TestClock> m_clock;
};

void TestRequestSigning::init()
{
    m_clock = std::make_unique<TestClock>(CLOCK);
}

void TestRequestSigning::cleanup()
{
    m_clock.reset();
}

void TestRequestSigning::signature_data()
{
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("expected");

    // Values worked out independently with md5sum over the key, the time and the uid.
    QTest::newRow("plain uid") << "teacher01"
                               << "5f8f22420d18dc8a45546d8d2bd68dd3";
    QTest::newRow("empty uid signs key and time alone") << ""
                                                        << "df547ea250c347391ed4fa72b62b361d";
    QTest::newRow("non-ASCII uid signed over its 8-bit bytes")
        << QStringLiteral("张三") << "f943d35014ef2591e59ad668cefd5dd1";
}

void TestRequestSigning::signature()
{
    QFETCH(QString, uid);
    QFETCH(QString, expected);

    QCOMPARE(RequestSigning::signature(QString::number(CLOCK), uid), expected);
}

void TestRequestSigning::endpointTexts_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("taskId");
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("expected");

    const QString t = QString::number(CLOCK);
    const QString s = md5Hex("7.3.2DesktopKorvex" + t.toLatin1() + "teacher01");
    const QString common = "userType=1&uid=teacher01&v=5.1.0&f=windows&t=" + t + "&token=tok-42&s=" + s;

    QTest::newRow("token call: common query alone") << "token"
                                                    << "teacher01"
                                                    << "tok-42"
                                                    << "T7"
                                                    << "" << common;
    QTest::newRow("analyse: domain and key joined as given")
        << "analyse"
        << "teacher01"
        << "tok-42"
        << "T7"
        << "http://cdn.example/paper/origin/teacher01/T7/1.jpg"
        << common + "&taskId=T7&imageUrl=http://cdn.example/paper/origin/teacher01/T7/1.jpg&ts=" + t;
    QTest::newRow("task status calls") << "task"
                                       << "teacher01"
                                       << "tok-42"
                                       << "T7"
                                       << ""
                                       << "taskId=T7&" + common;
    QTest::newRow("answer info") << "answer"
                                 << "teacher01"
                                 << "tok-42"
                                 << "T7"
                                 << "S-3"
                                 << "taskId=T7&studentId=S-3&" + common;

    const QString emptySig = md5Hex("7.3.2DesktopKorvex" + t.toLatin1());
    QTest::newRow("empty launch values stay empty")
        << "task"
        << ""
        << ""
        << ""
        << ""
        << "taskId=&userType=1&uid=&v=5.1.0&f=windows&t=" + t + "&token=&s=" + emptySig;

    const QString nonAscii = QStringLiteral("张三");
    const QString nonAsciiSig = md5Hex("7.3.2DesktopKorvex" + t.toLatin1() + nonAscii.toLocal8Bit());
    QTest::newRow("non-ASCII uid sent unchanged")
        << "token" << nonAscii << "tok-42"
        << "T7"
        << ""
        << "userType=1&uid=" + nonAscii + "&v=5.1.0&f=windows&t=" + t + "&token=tok-42&s=" + nonAsciiSig;
    QTest::newRow("values with reserved characters are not encoded")
        << "answer"
        << "teacher01"
        << "a b&c"
        << "T 7"
        << "x/y"
        << "taskId=T 7&studentId=x/y&userType=1&uid=teacher01&v=5.1.0&f=windows&t=" + t + "&token=a b&c&s=" + s;
}

void TestRequestSigning::endpointTexts()
{
    QFETCH(QString, endpoint);
    QFETCH(QString, uid);
    QFETCH(QString, token);
    QFETCH(QString, taskId);
    QFETCH(QString, extra);
    QFETCH(QString, expected);

    const QString t = QString::number(RequestSigning::currentMSecs());
    QString text;
    if (endpoint == QLatin1String("token"))
        text = RequestSigning::tokenText(uid, token, t);
    else if (endpoint == QLatin1String("analyse"))
        text = RequestSigning::analyseText(uid, token, taskId, extra, t);
    else if (endpoint == QLatin1String("task"))
        text = RequestSigning::taskText(uid, token, taskId, t);
    else
        text = RequestSigning::answerInfoText(uid, token, taskId, extra, t);
    QCOMPARE(text, expected);
}

void TestRequestSigning::analyseCarriesOneClockReading()
{
    m_clock->set(1000);
    m_clock->setStepPerRead(1);
    const QString t = QString::number(RequestSigning::currentMSecs());
    const QString text = RequestSigning::analyseText("u", "k", "T", "http://d/key.png", t);
    QCOMPARE(paramAfter(text, "t"), QStringLiteral("1000"));
    QCOMPARE(paramAfter(text, "ts"), paramAfter(text, "t"));
    QCOMPARE(paramAfter(text, "s"), md5Hex("7.3.2DesktopKorvex1000u"));
}

void TestRequestSigning::clockSeamRestoresRealClock()
{
    m_clock.reset();
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const qint64 now = RequestSigning::currentMSecs();
    QVERIFY(now >= before);
    QVERIFY(now <= QDateTime::currentMSecsSinceEpoch());
}

QTEST_GUILESS_MAIN(TestRequestSigning)
#include "tst_requestsigning.moc"
