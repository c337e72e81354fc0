#include <QHttpMultiPart>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include "EmulatorFixture.h"
#include "EmulatorHttp.h"
#include "TestUtils.h"

using Endpoint = ServiceEmulator::Endpoint;
using Fault = ServiceEmulator::Fault;

namespace {

const qint64 kT = 1700000000123;

QJsonObject parse(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).object();
}

// Calls an endpoint the way the client does and returns the reply object.
QJsonObject call(EmulatorFixture& emulator, const QString& path, bool get, const QByteArray& text)
{
    const QString url = emulator.baseUrl() + path;
    const EmulatorHttp::Reply reply =
        get ? EmulatorHttp::get(url + "?" + QString::fromUtf8(text)) : EmulatorHttp::post(url, text);
    return parse(reply.body);
}

QByteArray common()
{
    return EmulatorHttp::commonQuery("teacher01", "tk", kT);
}

QString fetchUploadToken(EmulatorFixture& emulator)
{
    return call(emulator, "/qiniu/get/token", false, common()).value("data").toObject().value("token").toString();
}

QJsonObject withPage(EmulatorFixture& emulator, const QByteArray& taskId)
{
    return call(emulator, "/collect_after_correct/get/paper_status/with_page", true,
                "taskId=" + taskId + "&" + common())
        .value("data")
        .toObject();
}

QJsonObject replenish(EmulatorFixture& emulator, const QByteArray& taskId)
{
    return call(emulator, "/collect_after_correct/get/replenish_students/with_fail_info_and_page", true,
                "taskId=" + taskId + "&" + common())
        .value("data")
        .toObject();
}

QJsonObject proofread(EmulatorFixture& emulator, const QByteArray& taskId)
{
    return call(emulator, "/collect_after_correct/get/zero_proofread_status", true, "taskId=" + taskId + "&" + common())
        .value("data")
        .toObject();
}

} // namespace

class TestEmulatorStore : public QObject
{
    Q_OBJECT

private slots:
    void uploadStoresAndServes_data();
    void uploadStoresAndServes();
    void uploadRefusals_data();
    void uploadRefusals();
    void forcedUploadStatusForNextUploads();
    void revokedTokenIsRefused();
    void multipartFieldsRecordedInOrder();
    void largeUploadArrivesIntact();
    void seedDemoTask();
    void analysisSteps();
    void analysisTimer();
    void staticFilesAndDownloadFaults();
    void executable();
};

void TestEmulatorStore::uploadStoresAndServes_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("/upload") << QString("/upload");
    QTest::newRow("/upload/") << QString("/upload/");
    QTest::newRow("/ as the public store") << QString("/");
}

void TestEmulatorStore::uploadStoresAndServes()
{
    QFETCH(QString, path);
    EmulatorFixture emulator;
    const QString token = fetchUploadToken(emulator);
    QVERIFY(!token.isEmpty());
    QCOMPARE(token, emulator->currentUploadToken());
    const QByteArray content = TestUtils::patternBytes(70000, 1);
    const QByteArray key = "paper/origin/teacher01/task-1/1700000000001.JPG";
    const EmulatorHttp::Reply reply =
        EmulatorHttp::upload(emulator.baseUrl() + path, token.toUtf8(), key, "scan.JPG", content);
    QCOMPARE(reply.status, 200);
    QCOMPARE(emulator->storedKeys(), QStringList{key});
    QCOMPARE(emulator->objectBytes(key), content);
    QVERIFY(QFile::exists(emulator->objectPath(key)));
    QVERIFY(emulator->objectPath(key).startsWith(emulator->storageDir()));

    // The object is reachable at domain + key, as the service hands the URL around.
    const EmulatorHttp::Reply served = EmulatorHttp::get(emulator.domain() + key);
    QCOMPARE(served.status, 200);
    QCOMPARE(served.body, content);
}

void TestEmulatorStore::uploadRefusals_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("issuedToken");
    const QByteArray existing = "paper/origin/u/t/1.jpg";
    QTest::newRow("key exists") << QByteArray() << existing << 614 << true;
    QTest::newRow("token never issued") << QByteArray("forged") << QByteArray("paper/origin/u/t/2.jpg") << 401 << false;
    QTest::newRow("empty token") << QByteArray("") << QByteArray("paper/origin/u/t/2.jpg") << 401 << false;
    QTest::newRow("key leaves the store") << QByteArray() << QByteArray("paper/../../evil.jpg") << 400 << true;
    QTest::newRow("absolute key") << QByteArray() << QByteArray("/etc/evil.jpg") << 400 << true;
    QTest::newRow("empty key") << QByteArray() << QByteArray() << 400 << true;
}

void TestEmulatorStore::uploadRefusals()
{
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, key);
    QFETCH(int, status);
    QFETCH(bool, issuedToken);
    EmulatorFixture emulator;
    const QByteArray original = "original";
    QVERIFY(emulator->storeObject("paper/origin/u/t/1.jpg", original));
    if (issuedToken)
        token = fetchUploadToken(emulator).toUtf8();
    const EmulatorHttp::Reply reply = EmulatorHttp::upload(emulator.uploadUrl(), token, key, "x.jpg", "new bytes");
    QCOMPARE(reply.status, status);
    QCOMPARE(emulator->storedKeys(), QStringList{"paper/origin/u/t/1.jpg"});
    QCOMPARE(emulator->objectBytes("paper/origin/u/t/1.jpg"), original);
    QCOMPARE(emulator->uploads().last().status, status);
    // Nothing of a refused upload is left behind.
    QCOMPARE(QDir(emulator->storageDir() + "/incoming").entryList(QDir::Files), QStringList());
}

void TestEmulatorStore::forcedUploadStatusForNextUploads()
{
    EmulatorFixture emulator;
    const QByteArray token = fetchUploadToken(emulator).toUtf8();
    emulator->addFault(Endpoint::Upload, Fault{Fault::UploadStatus, 500, 2});
    emulator->addFault(Endpoint::Upload, Fault{Fault::UploadStatus, 614, 1});
    QList<int> statuses;
    for (int i = 0; i < 4; ++i) {
        const QByteArray key = "k/" + QByteArray::number(i) + ".jpg";
        statuses.append(EmulatorHttp::upload(emulator.uploadUrl(), token, key, "a.jpg", "x").status);
    }
    // Both faults apply to the first upload; the later-added one decides its status.
    QCOMPARE(statuses, (QList<int>{614, 500, 200, 200}));
    QCOMPARE(emulator->storedKeys(), (QStringList{"k/2.jpg", "k/3.jpg"}));
}

void TestEmulatorStore::revokedTokenIsRefused()
{
    EmulatorFixture emulator;
    const QByteArray first = fetchUploadToken(emulator).toUtf8();
    QCOMPARE(EmulatorHttp::upload(emulator.uploadUrl(), first, "a/1.png", "1.png", "1").status, 200);
    emulator->revokeUploadTokens();
    QCOMPARE(EmulatorHttp::upload(emulator.uploadUrl(), first, "a/2.png", "2.png", "2").status, 401);
    // A fresh token call gives a token the store accepts again.
    const QByteArray second = fetchUploadToken(emulator).toUtf8();
    QVERIFY(second != first);
    QCOMPARE(EmulatorHttp::upload(emulator.uploadUrl(), second, "a/2.png", "2.png", "2").status, 200);
    QCOMPARE(emulator->storedKeys(), (QStringList{"a/1.png", "a/2.png"}));
}

void TestEmulatorStore::multipartFieldsRecordedInOrder()
{
    EmulatorFixture emulator;
    const QByteArray token = fetchUploadToken(emulator).toUtf8();

    // Fields in another order: still stored, and the record shows the order they came in.
    auto* multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart file;
    file.setHeader(QNetworkRequest::ContentDispositionHeader, "form-data; name=\"file\"; filename=\"p 1.png\"");
    file.setHeader(QNetworkRequest::ContentTypeHeader, "image/png");
    file.setBody("png bytes");
    QHttpPart key;
    key.setHeader(QNetworkRequest::ContentDispositionHeader, "form-data; name=\"key\"");
    key.setBody("b/p.png");
    QHttpPart tokenPart;
    tokenPart.setHeader(QNetworkRequest::ContentDispositionHeader, "form-data; name=\"token\"");
    tokenPart.setBody(token);
    multipart->append(file);
    multipart->append(key);
    multipart->append(tokenPart);
    QCOMPARE(EmulatorHttp::postMultipart(emulator.uploadUrl(), multipart).status, 200);

    QCOMPARE(EmulatorHttp::upload(emulator.uploadUrl(), token, "b/q.jpg", "q.jpg", "jpeg bytes").status, 200);

    const QList<ServiceEmulator::UploadRecord> uploads = emulator->uploads();
    QCOMPARE(uploads.size(), 2);
    QStringList names;
    for (const ServiceEmulator::UploadPart& part : uploads.at(0).parts)
        names.append(part.name);
    QCOMPARE(names, (QStringList{"file", "key", "token"}));
    QCOMPARE(uploads.at(0).fileName, QString("p 1.png"));
    QCOMPARE(uploads.at(0).parts.at(0).contentType, QString("image/png"));

    names.clear();
    for (const ServiceEmulator::UploadPart& part : uploads.at(1).parts)
        names.append(part.name);
    QCOMPARE(names, (QStringList{"token", "key", "file"}));
    QCOMPARE(uploads.at(1).token, QString::fromUtf8(token));
    QCOMPARE(uploads.at(1).key, QString("b/q.jpg"));
    QCOMPARE(uploads.at(1).fileName, QString("q.jpg"));
    QCOMPARE(uploads.at(1).parts.at(2).contentType, QString("application/octet-stream"));
    QCOMPARE(uploads.at(1).parts.at(2).size, qint64(10));
    QVERIFY(uploads.at(1).contentType.startsWith("multipart/form-data; boundary="));
    QCOMPARE(emulator->requests(Endpoint::Upload).size(), 2);
    QCOMPARE(emulator->requests(Endpoint::Upload).last().status, 200);
}

void TestEmulatorStore::largeUploadArrivesIntact()
{
    EmulatorFixture emulator;
    const QByteArray token = fetchUploadToken(emulator).toUtf8();
    const QByteArray content = TestUtils::patternBytes(20 * 1024 * 1024, 7);
    QCOMPARE(EmulatorHttp::upload(emulator.uploadUrl(), token, "big/1.bmp", "1.bmp", content).status, 200);
    QCOMPARE(emulator->uploads().last().parts.last().size, qint64(content.size()));
    QVERIFY(emulator->objectBytes("big/1.bmp") == content);
}

void TestEmulatorStore::seedDemoTask()
{
    EmulatorFixture emulator;
    emulator->seedDemo("demo-task", "teacher01");
    const ServiceEmulator::TaskCounts counts = emulator->counts("demo-task");
    QCOMPARE(counts.analysedStudents, 12);
    QCOMPARE(counts.failedStudents, 2);
    QCOMPARE(counts.pending, 0);
    QCOMPARE(counts.proofread, counts.uploaded);

    const QJsonObject status =
        call(emulator, "/collect_after_correct/get/paper_status", false, "taskId=demo-task&" + common())
            .value("data")
            .toObject();
    const int uploaded = status.value("uploadedImageCount").toInt();
    const int failed = status.value("analyseFailImageCount").toInt();
    // The client's start-up check: images uploaded and not all of them failed.
    QVERIFY(uploaded > 0);
    QVERIFY(failed > 0);
    QVERIFY(failed != uploaded);

    const QJsonObject page = withPage(emulator, "demo-task");
    QCOMPARE(page.value("analyseSuccessStudentCount").toInt(), 12);
    QCOMPARE(page.value("unAnalyseSuccessStudentCount").toInt(), 2);
    const QJsonArray students = page.value("studentAnswers").toArray();
    QCOMPARE(students.size(), 12);
    QSet<QString> names;
    QSet<int> pageCounts;
    int warnings = 0;
    for (const QJsonValue& value : students) {
        const QJsonObject student = value.toObject();
        names.insert(student.value("studentName").toString());
        QVERIFY(student.value("scoreDesc").toString().endsWith(QString("分")));
        warnings += student.value("warnDesc").toString().isEmpty() ? 0 : 1;
        const QJsonArray images = student.value("images").toArray();
        pageCounts.insert(images.size());
        for (int i = 0; i < images.size(); ++i) {
            const QJsonObject image = images.at(i).toObject();
            QCOMPARE(image.value("beginPage").toInt(), i + 1);
            QCOMPARE(image.value("endPage").toInt(), i + 1);
            QVERIFY(image.value("url").toString().startsWith(emulator.domain()));
        }
        // answer_info lists the same pages.
        const QJsonObject info =
            call(emulator, "/collect_after_correct/get/answer_info", false,
                 "taskId=demo-task&studentId=" + student.value("studentId").toString().toUtf8() + "&" + common())
                .value("data")
                .toObject();
        QCOMPARE(info.value("studentName"), student.value("studentName"));
        QCOMPARE(info.value("images").toArray().size(), images.size());
        QCOMPARE(info.value("images").toArray().first().toString(), images.first().toObject().value("url").toString());
    }
    QCOMPARE(names.size(), 12);
    QCOMPARE(pageCounts, (QSet<int>{1, 2, 3}));
    QVERIFY(warnings > 0 && warnings < 12);

    // Pages are real JPEG answer sheets; thumbnails are small JPEGs of them.
    const QJsonObject first = students.first().toObject();
    const EmulatorHttp::Reply pageReply =
        EmulatorHttp::get(first.value("images").toArray().first().toObject().value("url").toString());
    QCOMPARE(pageReply.status, 200);
    const QImage sheet = QImage::fromData(pageReply.body, "JPEG");
    QVERIFY(!sheet.isNull());
    QVERIFY(sheet.height() > sheet.width());
    const QString thumbUrl = first.value("thumbAnswerImageUrl").toString();
    // The thumbnail's file name differs from every page's, so both can sit in one folder.
    QVERIFY(!thumbUrl.section('/', -1).isEmpty());
    QVERIFY(thumbUrl.section('/', -1) !=
            first.value("images").toArray().first().toObject().value("url").toString().section('/', -1));
    const EmulatorHttp::Reply thumbReply = EmulatorHttp::get(thumbUrl);
    QCOMPARE(thumbReply.status, 200);
    const QImage thumb = QImage::fromData(thumbReply.body, "JPEG");
    QVERIFY(!thumb.isNull());
    QVERIFY(thumb.width() <= 200);
    QCOMPARE(thumb.width() * 100 / thumb.height(), sheet.width() * 100 / sheet.height());

    const QJsonArray retake = replenish(emulator, "demo-task").value("students").toArray();
    QCOMPARE(retake.size(), 2);
    for (const QJsonValue& value : retake) {
        const QJsonObject student = value.toObject();
        QVERIFY(!student.value("realName").toString().isEmpty());
        QVERIFY(!names.contains(student.value("realName").toString()));
        const QJsonArray images = student.value("images").toArray();
        QCOMPARE(images.size(), 1);
        QVERIFY(!images.first().toObject().value("failReason").toString().isEmpty());
        QVERIFY(!images.first().toObject().value("proposals").toString().isEmpty());
        QVERIFY(images.first().toObject().value("page").isString());
    }
}

void TestEmulatorStore::analysisSteps()
{
    ServiceEmulator::Options options;
    options.pagesPerStudent = 2;
    options.failEvery = 3;
    options.warnEvery = 0;
    EmulatorFixture emulator(options);
    for (int i = 1; i <= 6; ++i) {
        const QJsonObject reply = call(emulator, "/collect_after_correct/analyse/answer_image", false,
                                       common() + "&taskId=t1&imageUrl=" + emulator.domain().toUtf8() + "k/" +
                                           QByteArray::number(i) + ".jpg&ts=" + QByteArray::number(kT));
        QCOMPARE(reply.value("code").toInt(-1), 0);
    }
    // Announced but not analysed yet.
    QCOMPARE(withPage(emulator, "t1").value("studentAnswers").toArray().size(), 0);
    QCOMPARE(proofread(emulator, "t1").value("totalImageCount").toInt(), 6);
    QCOMPARE(proofread(emulator, "t1").value("proofreadImageCount").toInt(), 0);
    // Another task is untouched.
    QCOMPARE(proofread(emulator, "t2").value("totalImageCount").toInt(), 0);

    // Step 1 analyses image 1 (student 1 appears with one page) and proofreads it.
    emulator->advance();
    QJsonArray students = withPage(emulator, "t1").value("studentAnswers").toArray();
    QCOMPARE(students.size(), 1);
    QCOMPARE(students.first().toObject().value("images").toArray().size(), 1);
    QCOMPARE(proofread(emulator, "t1").value("proofreadImageCount").toInt(), 1);

    emulator->advance(2);
    // Image 3 failed: its student (images 3 and 4) is in the re-take list with page 1.
    QJsonArray retake = replenish(emulator, "t1").value("students").toArray();
    QCOMPARE(retake.size(), 1);
    QCOMPARE(retake.first().toObject().value("images").toArray().first().toObject().value("page").toString(),
             QString("1"));
    QCOMPARE(proofread(emulator, "t1").value("proofreadImageCount").toInt(), 3);

    emulator->finishAnalysis("t1");
    const QJsonObject page = withPage(emulator, "t1");
    QCOMPARE(page.value("analyseSuccessStudentCount").toInt(), 1);
    QCOMPARE(page.value("unAnalyseSuccessStudentCount").toInt(), 2);
    students = page.value("studentAnswers").toArray();
    QCOMPARE(students.size(), 1);
    QCOMPARE(students.first().toObject().value("images").toArray().at(1).toObject().value("url").toString(),
             emulator.domain() + "k/2.jpg");
    retake = replenish(emulator, "t1").value("students").toArray();
    QCOMPARE(retake.size(), 2);
    QCOMPARE(retake.at(1).toObject().value("images").toArray().first().toObject().value("page").toString(),
             QString("2"));
    QCOMPARE(proofread(emulator, "t1").value("proofreadImageCount").toInt(), 6);
    const QJsonObject status = call(emulator, "/collect_after_correct/get/paper_status", false, "taskId=t1&" + common())
                                   .value("data")
                                   .toObject();
    QCOMPARE(status.value("uploadedImageCount").toInt(), 6);
    QCOMPARE(status.value("analyseFailImageCount").toInt(), 2);

    // An analyse call without an image URL is refused.
    const QJsonObject refused =
        call(emulator, "/collect_after_correct/analyse/answer_image", false, common() + "&taskId=t1&imageUrl=&ts=1");
    QVERIFY(refused.value("code").toInt() != 0);
    QCOMPARE(emulator->counts("t1").uploaded, 6);
}

void TestEmulatorStore::analysisTimer()
{
    EmulatorFixture emulator;
    for (int i = 0; i < 4; ++i)
        emulator->announce("t", emulator.domain() + QString("k/%1.jpg").arg(i));
    QCOMPARE(emulator->counts("t").proofread, 0);
    emulator->setStepMs(10);
    QTRY_COMPARE(emulator->counts("t").proofread, 4);
    QCOMPARE(emulator->counts("t").pending, 0);
    // Stopped, it takes no step: not while a second emulator's timer at the same pace, on the same machine, takes
    // three.
    emulator->setStepMs(0);
    emulator->announce("t", emulator.domain() + "k/9.jpg");
    EmulatorFixture pace;
    for (int i = 0; i < 3; ++i)
        pace->announce("p", pace.domain() + QString("k/%1.jpg").arg(i));
    pace->setStepMs(10);
    QTRY_COMPARE(pace->counts("p").proofread, 3);
    QCOMPARE(emulator->counts("t").pending, 1);
}

void TestEmulatorStore::staticFilesAndDownloadFaults()
{
    EmulatorFixture emulator;
    emulator->addStaticFile("/a/b/c.png", "png data", "image/png");
    const QString url = emulator.baseUrl() + "/a/b/c.png?x=1/2";
    EmulatorHttp::Reply reply = EmulatorHttp::get(url);
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray("png data"));

    emulator->addFault(Endpoint::Files, Fault{Fault::Drop, 0, 1});
    emulator->addFault(Endpoint::Files, Fault{Fault::HttpStatus, 500, 2});
    QVERIFY(EmulatorHttp::get(url).error != QNetworkReply::NoError);
    QCOMPARE(EmulatorHttp::get(url).status, 500);
    QCOMPARE(EmulatorHttp::get(url).body, QByteArray("png data"));
    QCOMPARE(emulator->requestCount(QString("/a/b/c.png")), 4);

    reply = EmulatorHttp::get(emulator.baseUrl() + "/files/missing.jpg");
    QCOMPARE(reply.status, 404);
}

void TestEmulatorStore::executable()
{
    QTemporaryDir storage;
    QProcess process;
    process.setProgram(EMULATOR_EXECUTABLE);
    process.setArguments({"--seed-demo", "--task", "cli-task", "--storage", storage.path(), "--quiet", "--fault",
                          "zero_proofread:code:9:1"});
    process.start();
    QVERIFY(process.waitForStarted());
    QByteArray output;
    QString address;
    auto listening = [&] {
        output += process.readAllStandardOutput();
        const QRegularExpression pattern("listening on (http://127\\.0\\.0\\.1:\\d+)");
        address = pattern.match(QString::fromUtf8(output)).captured(1);
        return !address.isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(listening(), 15000);

    const QByteArray query = "?taskId=cli-task&" + common();
    EmulatorHttp::Reply reply = EmulatorHttp::get(address + "/collect_after_correct/get/zero_proofread_status" + query);
    QCOMPARE(parse(reply.body).value("code").toInt(), 9);
    reply = EmulatorHttp::get(address + "/collect_after_correct/get/zero_proofread_status" + query);
    QCOMPARE(parse(reply.body).value("code").toInt(-1), 0);
    QVERIFY(parse(reply.body).value("data").toObject().value("totalImageCount").toInt() > 0);
    // Seeded pages live in the given storage folder.
    QVERIFY(!QDir(storage.path() + "/objects/paper/origin/teacher01/cli-task").entryList(QDir::Files).isEmpty());

    process.terminate();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    QProcess bad;
    bad.start(EMULATOR_EXECUTABLE, {"--fault", "nowhere:drop"});
    QVERIFY(bad.waitForFinished(10000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("--fault"));
}

QTEST_MAIN(TestEmulatorStore)
#include "tst_emulator_store.moc"
