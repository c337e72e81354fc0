#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "EmulatorFixture.h"
#include "EmulatorHttp.h"
#include "core/Settings.h"

using Endpoint = ServiceEmulator::Endpoint;
using Fault = ServiceEmulator::Fault;

Q_DECLARE_METATYPE(Endpoint)
Q_DECLARE_METATYPE(Fault::Kind)

namespace {

const qint64 kT = 1700000000123;

struct Call
{
    Endpoint endpoint;
    bool get;
    QString path;
    QByteArray text;
};

// The request texts exactly as the client composes them, for a given common query.
Call callFor(Endpoint endpoint, const QByteArray& common, const QByteArray& taskId = "task-7")
{
    switch (endpoint) {
    case Endpoint::UploadToken:
        return {endpoint, false, "/qiniu/get/token", common};
    case Endpoint::Analyse:
        return {endpoint, false, "/collect_after_correct/analyse/answer_image",
                common + "&taskId=" + taskId + "&imageUrl=http://127.0.0.1:1/files/paper/origin/u/" + taskId +
                    "/1.jpg&ts=" + QByteArray::number(kT)};
    case Endpoint::PaperStatus:
        return {endpoint, false, "/collect_after_correct/get/paper_status", "taskId=" + taskId + "&" + common};
    case Endpoint::ZeroProofread:
        return {endpoint, true, "/collect_after_correct/get/zero_proofread_status", "taskId=" + taskId + "&" + common};
    case Endpoint::ReplenishStudents:
        return {endpoint, true, "/collect_after_correct/get/replenish_students/with_fail_info_and_page",
                "taskId=" + taskId + "&" + common};
    case Endpoint::AnswerInfo:
        return {endpoint, false, "/collect_after_correct/get/answer_info",
                "taskId=" + taskId + "&studentId=S1001&" + common};
    case Endpoint::PaperStatusWithPage:
        return {endpoint, true, "/collect_after_correct/get/paper_status/with_page", "taskId=" + taskId + "&" + common};
    default:
        return {endpoint, true, "/", QByteArray()};
    }
}

EmulatorHttp::Reply send(const QString& base, const Call& call, int transferTimeoutMs = 0)
{
    if (call.get)
        return EmulatorHttp::get(base + call.path + "?" + QString::fromUtf8(call.text), transferTimeoutMs);
    return EmulatorHttp::post(base + call.path, call.text, transferTimeoutMs);
}

QJsonObject parse(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).object();
}

bool isChinese(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    }
    return false;
}

} // namespace

class TestEmulator : public QObject
{
    Q_OBJECT

private slots:
    void fixturePointsSettingsAtServer();
    void stopRightAfterStart();
    void givenPortInUseIsRefused();
    void endpointsAnswerTheirFields_data();
    void endpointsAnswerTheirFields();
    void wrongMethodIsRefused_data();
    void wrongMethodIsRefused();
    void signatureAndToken_data();
    void signatureAndToken();
    void requestLogRecordsExchange();
    void faults_data();
    void faults();
    void faultLastsItsTimes();
    void hangEndsInClientTimeoutAndStopIsPrompt();
    void cannedReplies();
    void faultTextParsing_data();
    void faultTextParsing();
};

void TestEmulator::fixturePointsSettingsAtServer()
{
    qputenv("AMBREL_API_HOST", "http://example.invalid:1");
    qunsetenv("AMBREL_UPLOAD_HOST");
    Settings::reload();
    QString base;
    {
        EmulatorFixture emulator;
        QVERIFY(emulator.isRunning());
        base = emulator.baseUrl();
        QVERIFY(base.startsWith("http://127.0.0.1:"));
        QVERIFY(emulator->port() != 0);
        QCOMPARE(Settings::apiHost(), base);
        QCOMPARE(Settings::uploadHost(), base + "/upload");
        QCOMPARE(emulator.domain(), base + "/files/");
    }
    QCOMPARE(qgetenv("AMBREL_API_HOST"), QByteArray("http://example.invalid:1"));
    QVERIFY(!qEnvironmentVariableIsSet("AMBREL_UPLOAD_HOST"));
    QCOMPARE(Settings::apiHost(), QString("http://example.invalid:1"));
    qunsetenv("AMBREL_API_HOST");
    Settings::reload();
    // Stopped: nothing listens there any more.
    const EmulatorHttp::Reply reply = EmulatorHttp::get(base + "/files/x");
    QVERIFY(reply.finished);
    QCOMPARE(reply.error, QNetworkReply::ConnectionRefusedError);
}

void TestEmulator::stopRightAfterStart()
{
    // The listening thread may not have marked itself running yet: stop() must still end it without hanging.
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 20; ++i) {
        ServiceEmulator emulator;
        QVERIFY(emulator.start());
        QVERIFY(emulator.isRunning());
        emulator.stop();
        QVERIFY(!emulator.isRunning());
    }
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
}

void TestEmulator::givenPortInUseIsRefused()
{
    ServiceEmulator first;
    QVERIFY(first.start());
    ServiceEmulator::Options options;
    options.port = first.port();
    ServiceEmulator second(options);
    QVERIFY(!second.start());
    QVERIFY(!second.isRunning());
    first.stop();
    // Once the port is free again, the same options succeed.
    ServiceEmulator third(options);
    QVERIFY(third.start());
    QCOMPARE(third.port(), options.port);
}

void TestEmulator::endpointsAnswerTheirFields_data()
{
    QTest::addColumn<Endpoint>("endpoint");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("token") << Endpoint::UploadToken << QStringList{"domain", "token"};
    QTest::newRow("analyse") << Endpoint::Analyse << QStringList{};
    QTest::newRow("paper status") << Endpoint::PaperStatus
                                  << QStringList{"analyseFailImageCount", "uploadedImageCount"};
    QTest::newRow("zero proofread") << Endpoint::ZeroProofread << QStringList{"proofreadImageCount", "totalImageCount"};
    QTest::newRow("replenish students") << Endpoint::ReplenishStudents << QStringList{"students"};
    QTest::newRow("answer info") << Endpoint::AnswerInfo << QStringList{"images", "studentId", "studentName"};
    QTest::newRow("paper status with page")
        << Endpoint::PaperStatusWithPage
        << QStringList{"analyseSuccessStudentCount", "studentAnswers", "unAnalyseSuccessStudentCount"};
}

void TestEmulator::endpointsAnswerTheirFields()
{
    QFETCH(Endpoint, endpoint);
    QFETCH(QStringList, fields);
    EmulatorFixture emulator;
    emulator->seedDemo("task-7", "u1");
    const Call call = callFor(endpoint, EmulatorHttp::commonQuery("u1", "tk", kT));
    const EmulatorHttp::Reply reply = send(emulator.baseUrl(), call);
    QCOMPARE(reply.status, 200);
    const QJsonObject object = parse(reply.body);
    QCOMPARE(object.value("code").toInt(-1), 0);
    if (fields.isEmpty()) {
        QCOMPARE(object.value("data"), QJsonValue(true));
    } else {
        QStringList keys = object.value("data").toObject().keys();
        keys.sort();
        QCOMPARE(keys, fields);
    }
    const QList<ServiceEmulator::RequestRecord> log = emulator->requests(endpoint);
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.first().method, QString(call.get ? "GET" : "POST"));
    QCOMPARE(log.first().path, call.path);
    QCOMPARE(call.get ? log.first().query : log.first().body, call.text);
    QCOMPARE(log.first().params.value("taskId"), QString(endpoint == Endpoint::UploadToken ? "" : "task-7"));
}

void TestEmulator::wrongMethodIsRefused_data()
{
    QTest::addColumn<Endpoint>("endpoint");
    QTest::newRow("token by GET") << Endpoint::UploadToken;
    QTest::newRow("zero proofread by POST") << Endpoint::ZeroProofread;
    QTest::newRow("with page by POST") << Endpoint::PaperStatusWithPage;
}

void TestEmulator::wrongMethodIsRefused()
{
    QFETCH(Endpoint, endpoint);
    EmulatorFixture emulator;
    Call call = callFor(endpoint, EmulatorHttp::commonQuery("u1", "tk", kT));
    call.get = !call.get;
    const EmulatorHttp::Reply reply = send(emulator.baseUrl(), call);
    QCOMPARE(reply.status, 405);
    QCOMPARE(emulator->requests(endpoint).size(), 1);
    QCOMPARE(emulator->requests(endpoint).first().status, 405);
}

void TestEmulator::signatureAndToken_data()
{
    QTest::addColumn<Endpoint>("endpoint");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("acceptedToken");
    QTest::addColumn<int>("code");

    const QByteArray good = EmulatorHttp::commonQuery("u1", "tk", kT);
    QByteArray otherUid = good;
    otherUid.replace("uid=u1", "uid=u2");
    QByteArray otherTime = good;
    otherTime.replace("t=1700000000123", "t=1700000000124");
    QByteArray upperHex = good.left(good.indexOf("&s=") + 3) + good.mid(good.indexOf("&s=") + 3).toUpper();
    const QByteArray noTime = "userType=1&uid=u1&v=5.1.0&f=windows&token=tk&s=" +
                              ServiceEmulator::signatureFor(QByteArray(), "u1").toLatin1();
    const QByteArray unicodeUid = EmulatorHttp::commonQuery(QString("张老师").toUtf8(), "tk", kT);
    const QByteArray emptyUid = EmulatorHttp::commonQuery("", "tk", kT);
    const QByteArray emptyToken = EmulatorHttp::commonQuery("u1", "", kT);

    QTest::newRow("valid, token endpoint") << Endpoint::UploadToken << good << QString("") << 0;
    QTest::newRow("valid, GET endpoint") << Endpoint::ZeroProofread << good << QString("") << 0;
    QTest::newRow("uid changed after signing") << Endpoint::UploadToken << otherUid << QString("") << 10001;
    QTest::newRow("t changed after signing") << Endpoint::PaperStatus << otherTime << QString("") << 10001;
    QTest::newRow("signature in upper case") << Endpoint::UploadToken << upperHex << QString("") << 10001;
    QTest::newRow("no t") << Endpoint::UploadToken << noTime << QString("") << 10001;
    QTest::newRow("non-ASCII uid in a POST body") << Endpoint::UploadToken << unicodeUid << QString("") << 0;
    QTest::newRow("non-ASCII uid in a GET query") << Endpoint::PaperStatusWithPage << unicodeUid << QString("") << 0;
    QTest::newRow("empty uid") << Endpoint::UploadToken << emptyUid << QString("") << 0;
    QTest::newRow("empty token") << Endpoint::UploadToken << emptyToken << QString("") << 10002;
    QTest::newRow("token not the accepted one") << Endpoint::PaperStatus << good << QString("other") << 10002;
    QTest::newRow("the accepted token") << Endpoint::PaperStatus << good << QString("tk") << 0;
    QTest::newRow("bad signature on GET") << Endpoint::ReplenishStudents << otherUid << QString("") << 10001;
}

void TestEmulator::signatureAndToken()
{
    // md5sum of "7.3.2DesktopKorvex1700000000123teacher01", computed outside this program.
    QCOMPARE(ServiceEmulator::signatureFor("1700000000123", "teacher01"), QString("5f8f22420d18dc8a45546d8d2bd68dd3"));

    QFETCH(Endpoint, endpoint);
    QFETCH(QByteArray, text);
    QFETCH(QString, acceptedToken);
    QFETCH(int, code);
    EmulatorFixture emulator;
    emulator->setAcceptedToken(acceptedToken);
    const EmulatorHttp::Reply reply = send(emulator.baseUrl(), callFor(endpoint, text));
    QCOMPARE(reply.status, 200);
    const QJsonObject object = parse(reply.body);
    QCOMPARE(object.value("code").toInt(-1), code);
    if (code != 0) {
        QVERIFY2(isChinese(object.value("desc").toString()), qPrintable(object.value("desc").toString()));
        QVERIFY(!object.contains("data"));
    }
    QCOMPARE(emulator->requests(endpoint).first().code, code);
}

void TestEmulator::requestLogRecordsExchange()
{
    EmulatorFixture emulator;
    const QByteArray uid = QString("李四").toUtf8();
    const Call get = callFor(Endpoint::ZeroProofread, EmulatorHttp::commonQuery(uid, "tk", kT));
    send(emulator.baseUrl(), get);
    const Call post = callFor(Endpoint::Analyse, EmulatorHttp::commonQuery("u1", "tk", kT));
    send(emulator.baseUrl(), post);
    EmulatorHttp::get(emulator.baseUrl() + "/nothing/here");

    const QList<ServiceEmulator::RequestRecord> log = emulator->requestLog();
    QCOMPARE(log.size(), 3);
    // The query travels percent-encoded; the parsed parameters are decoded.
    QVERIFY(log.at(0).query.contains("uid=%E6%9D%8E%E5%9B%9B"));
    QCOMPARE(log.at(0).params.value("uid"), QString("李四"));
    QCOMPARE(log.at(0).status, 200);
    QCOMPARE(log.at(0).code, 0);
    QVERIFY(log.at(0).body.isEmpty());

    QCOMPARE(log.at(1).method, QString("POST"));
    QCOMPARE(log.at(1).body, post.text);
    QVERIFY(log.at(1).query.isEmpty());
    QCOMPARE(log.at(1).params.value("imageUrl"), QString("http://127.0.0.1:1/files/paper/origin/u/task-7/1.jpg"));
    QCOMPARE(log.at(1).params.value("ts"), log.at(1).params.value("t"));
    QCOMPARE(log.at(1).headers.value("content-type"), QString("application/x-www-form-urlencoded"));
    QVERIFY(log.at(1).receivedMs >= log.at(0).receivedMs);

    QCOMPARE(log.at(2).endpoint, Endpoint::Other);
    QCOMPARE(log.at(2).status, 404);
    QCOMPARE(emulator->requestCount(QString("/nothing/here")), 1);

    emulator->clearRequestLog();
    QVERIFY(emulator->requestLog().isEmpty());
}

void TestEmulator::faults_data()
{
    QTest::addColumn<Endpoint>("endpoint");
    QTest::addColumn<Fault::Kind>("kind");
    QTest::addColumn<int>("value");

    const QList<Endpoint> endpoints{Endpoint::UploadToken, Endpoint::ZeroProofread};
    for (Endpoint endpoint : endpoints) {
        const QString name = ServiceEmulator::endpointName(endpoint);
        auto row = [&](const char* what) -> QTestData& { return QTest::newRow(qPrintable(name + ": " + what)); };
        row("delay") << endpoint << Fault::Delay << 300;
        row("http status") << endpoint << Fault::HttpStatus << 503;
        row("not JSON") << endpoint << Fault::NonJson << 0;
        row("JSON array") << endpoint << Fault::JsonArray << 0;
        row("empty body") << endpoint << Fault::EmptyBody << 0;
        row("percent-encoded") << endpoint << Fault::PercentEncoded << 0;
        row("dropped") << endpoint << Fault::Drop << 0;
        row("code 4001") << endpoint << Fault::CodeNonZero << 4001;
        row("code missing") << endpoint << Fault::CodeMissing << 0;
    }
}

void TestEmulator::faults()
{
    QFETCH(Endpoint, endpoint);
    QFETCH(Fault::Kind, kind);
    QFETCH(int, value);
    EmulatorFixture emulator;
    const Call call = callFor(endpoint, EmulatorHttp::commonQuery("u1", "tk", kT));
    const EmulatorHttp::Reply plain = send(emulator.baseUrl(), call);
    const QJsonObject plainObject = parse(plain.body);
    QCOMPARE(plainObject.value("code").toInt(-1), 0);

    emulator->addFault(endpoint, Fault{kind, value, -1});
    const EmulatorHttp::Reply reply = send(emulator.baseUrl(), call);
    QVERIFY(reply.finished);
    const int logged = emulator->requests(endpoint).last().status;
    switch (kind) {
    case Fault::Delay:
        QVERIFY2(reply.elapsedMs >= value, qPrintable(QString::number(reply.elapsedMs)));
        QCOMPARE(parse(reply.body).value("code").toInt(-1), 0);
        break;
    case Fault::HttpStatus:
        QCOMPARE(reply.status, value);
        QCOMPARE(logged, value);
        QVERIFY(reply.error != QNetworkReply::NoError);
        break;
    case Fault::NonJson:
        QVERIFY(!reply.body.isEmpty());
        QVERIFY(QJsonDocument::fromJson(reply.body).isNull());
        break;
    case Fault::JsonArray: {
        const QJsonDocument doc = QJsonDocument::fromJson(reply.body);
        QVERIFY(doc.isArray());
        QCOMPARE(doc.array().first().toObject().value("code").toInt(-1), 0);
        break;
    }
    case Fault::EmptyBody:
        QCOMPARE(reply.status, 200);
        QVERIFY(reply.body.isEmpty());
        break;
    case Fault::PercentEncoded: {
        QVERIFY(!reply.body.contains('{'));
        QVERIFY(!reply.body.contains('"'));
        QVERIFY(!reply.body.contains(':'));
        const QJsonObject decoded = parse(QByteArray::fromPercentEncoding(reply.body));
        QCOMPARE(decoded.value("code").toInt(-1), 0);
        QCOMPARE(decoded.value("desc"), plainObject.value("desc"));
        QCOMPARE(decoded.value("data").toObject().keys(), plainObject.value("data").toObject().keys());
        break;
    }
    case Fault::Drop:
        QVERIFY(reply.error != QNetworkReply::NoError);
        QVERIFY(reply.body.isEmpty());
        QCOMPARE(logged, 0);
        break;
    case Fault::CodeNonZero: {
        const QJsonObject object = parse(reply.body);
        QCOMPARE(object.value("code").toInt(), value);
        QVERIFY(isChinese(object.value("desc").toString()));
        QCOMPARE(emulator->requests(endpoint).last().code, value);
        break;
    }
    case Fault::CodeMissing: {
        const QJsonObject object = parse(reply.body);
        QVERIFY(!object.isEmpty());
        QVERIFY(!object.contains("code"));
        QVERIFY(object.contains("data"));
        break;
    }
    default:
        QFAIL("row without expectations");
    }

    // Faults stay until cleared; afterwards the endpoint answers normally again.
    emulator->clearFaults(endpoint);
    QCOMPARE(parse(send(emulator.baseUrl(), call).body).value("code").toInt(-1), 0);
}

void TestEmulator::faultLastsItsTimes()
{
    EmulatorFixture emulator;
    const Call call = callFor(Endpoint::PaperStatus, EmulatorHttp::commonQuery("u1", "tk", kT));
    emulator->addFault(Endpoint::PaperStatus, Fault{Fault::CodeNonZero, 7, 2});
    // Another endpoint is not affected.
    const Call other = callFor(Endpoint::ZeroProofread, EmulatorHttp::commonQuery("u1", "tk", kT));
    QCOMPARE(parse(send(emulator.baseUrl(), other).body).value("code").toInt(-1), 0);
    QList<int> codes;
    for (int i = 0; i < 4; ++i)
        codes.append(parse(send(emulator.baseUrl(), call).body).value("code").toInt(-1));
    QCOMPARE(codes, (QList<int>{7, 7, 0, 0}));
}

void TestEmulator::hangEndsInClientTimeoutAndStopIsPrompt()
{
    auto emulator = std::make_unique<EmulatorFixture>();
    (*emulator)->addFault(Endpoint::PaperStatus, Fault{Fault::Hang, 60000, -1});
    const Call call = callFor(Endpoint::PaperStatus, EmulatorHttp::commonQuery("u1", "tk", kT));
    const EmulatorHttp::Reply reply = send(emulator->baseUrl(), call, 300);
    QVERIFY(reply.finished);
    QCOMPARE(reply.error, QNetworkReply::OperationCanceledError);
    QVERIFY(reply.elapsedMs < 5000);

    // A second hung exchange is still held by the server when the fixture goes: stopping must not wait for it.
    QNetworkAccessManager manager;
    QNetworkReply* pending = manager.post(QNetworkRequest(QUrl(emulator->baseUrl() + call.path)), call.text);
    // Hung exchanges are logged when they arrive.
    QTRY_COMPARE((*emulator)->requestCount(Endpoint::PaperStatus), 2);
    QElapsedTimer timer;
    timer.start();
    emulator.reset();
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QTRY_VERIFY(pending->isFinished());
    QVERIFY(pending->error() != QNetworkReply::NoError);
}

void TestEmulator::cannedReplies()
{
    EmulatorFixture emulator;
    const Call call = callFor(Endpoint::PaperStatus, EmulatorHttp::commonQuery("u1", "tk", kT));
    emulator->setCannedData(Endpoint::PaperStatus,
                            QJsonObject{{"uploadedImageCount", 5}, {"analyseFailImageCount", 2}});
    QJsonObject object = parse(send(emulator.baseUrl(), call).body);
    QCOMPARE(object.value("code").toInt(-1), 0);
    QCOMPARE(object.value("data").toObject().value("uploadedImageCount").toInt(), 5);
    QCOMPARE(object.value("data").toObject().value("analyseFailImageCount").toInt(), 2);

    // A raw body goes out byte for byte, faults still apply on top.
    emulator->setCannedBody(Endpoint::PaperStatus, "{\"code\":0,\"desc\":\"a%41b\"}");
    QCOMPARE(send(emulator.baseUrl(), call).body, QByteArray("{\"code\":0,\"desc\":\"a%41b\"}"));
    emulator->addFault(Endpoint::PaperStatus, Fault{Fault::JsonArray, 0, 1});
    QCOMPARE(send(emulator.baseUrl(), call).body, QByteArray("[{\"code\":0,\"desc\":\"a%41b\"}]"));

    // The signature is checked before a canned reply is given.
    const Call unsigned_ = callFor(Endpoint::PaperStatus, "taskId=task-7&uid=u1&t=1&token=tk&s=0");
    QCOMPARE(parse(send(emulator.baseUrl(), unsigned_).body).value("code").toInt(), 10001);

    emulator->clearCanned(Endpoint::PaperStatus);
    object = parse(send(emulator.baseUrl(), call).body);
    QCOMPARE(object.value("data").toObject().value("uploadedImageCount").toInt(-1), 0);
}

void TestEmulator::faultTextParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("times");
    QTest::newRow("delay with ms") << QString("delay:250") << true << int(Fault::Delay) << 250 << -1;
    QTest::newRow("upload status for two uploads")
        << QString("upload:614:2") << true << int(Fault::UploadStatus) << 614 << 2;
    QTest::newRow("drop without value") << QString("drop") << true << int(Fault::Drop) << 0 << -1;
    QTest::newRow("code with value") << QString("code:3") << true << int(Fault::CodeNonZero) << 3 << -1;
    QTest::newRow("percent") << QString("percent") << true << int(Fault::PercentEncoded) << 0 << -1;
    QTest::newRow("delay without ms") << QString("delay") << false << 0 << 0 << 0;
    QTest::newRow("unknown kind") << QString("explode:1") << false << 0 << 0 << 0;
    QTest::newRow("value not a number") << QString("hang:soon") << false << 0 << 0 << 0;
    QTest::newRow("zero times") << QString("status:500:0") << false << 0 << 0 << 0;
    QTest::newRow("too many parts") << QString("status:500:1:2") << false << 0 << 0 << 0;
}

void TestEmulator::faultTextParsing()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    Fault fault;
    QCOMPARE(ServiceEmulator::faultFromText(text, &fault), valid);
    if (valid) {
        QTEST(int(fault.kind), "kind");
        QTEST(fault.value, "value");
        QTEST(fault.times, "times");
    }
    Endpoint endpoint;
    QVERIFY(ServiceEmulator::endpointFromName("with_page", &endpoint));
    QCOMPARE(endpoint, Endpoint::PaperStatusWithPage);
    QVERIFY(!ServiceEmulator::endpointFromName("withpage", &endpoint));
}

QTEST_MAIN(TestEmulator)
#include "tst_emulator.moc"
