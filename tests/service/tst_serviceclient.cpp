#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include "EmulatorFixture.h"
#include "TestClock.h"
#include "TestUtils.h"
#include "core/Settings.h"
#include "service/BaseAPI.h"
#include "service/HttpCommunicationThread.h"
#include "service/RequestSigning.h"

using Endpoint = ServiceEmulator::Endpoint;
using Fault = ServiceEmulator::Fault;

Q_DECLARE_METATYPE(HttpCommunicationThread::Announcement)

namespace {

const qint64 CLOCK = 1700000000123;
const char T[] = "1700000000123";

QString md5Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QString commonQuery()
{
    return QStringLiteral("userType=1&uid=teacher01&v=5.1.0&f=windows&t=%1&token=tok-42&s=%2")
        .arg(T, md5Hex(QByteArray("7.3.2DesktopKorvex") + T + "teacher01"));
}

QJsonObject imageEntry(const QString& url, int begin = -1, int end = -1)
{
    QJsonObject image{{"url", url}};
    if (begin >= 0)
        image.insert("beginPage", begin);
    if (end >= 0)
        image.insert("endPage", end);
    return image;
}

QJsonObject studentEntry(const QString& id, const QJsonArray& images, const QString& thumb)
{
    return QJsonObject{{"studentId", id},
                       {"studentName", QString(QStringLiteral("学生") + id)},
                       {"scoreDesc", "90分"},
                       {"warnDesc", ""},
                       {"thumbAnswerImageUrl", thumb},
                       {"images", images}};
}

// Every file under the working directory, relative to it.
QStringList allFiles()
{
    QStringList files;
    QDirIterator it(QDir::currentPath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir::current().relativeFilePath(it.next());
    files.sort();
    return files;
}

QString refusedBase()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

} // namespace

class TestServiceClient : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requestTexts_data();
    void requestTexts();
    void paperStatus_data();
    void paperStatus();
    void nonZeroCodeIsReported_data();
    void nonZeroCodeIsReported();
    void unusableRepliesChangeNothing_data();
    void unusableRepliesChangeNothing();
    void missingCodeCountsAsSuccess();
    void uploadTokenSetsCredentials();
    void zeroProofreadFillsCounts();
    void replenishStudentsParsed();

    void pageStates_data();
    void pageStates();
    void pageStudentsAndDownloads();
    void existingFileIsNotFetched_data();
    void existingFileIsNotFetched();
    void sameNamedUrlsKeepTheirOwnFiles();
    void failedDownloadIsFetchedNextTime();
    void hostileFileNamesStayInFolder_data();
    void hostileFileNamesStayInFolder();

    void answerInfoFillsImages();
    void answerInfoHostileStudentId();

    void logRedactsToken_data();
    void logRedactsToken();
    void logOfGetCallsHoldsReply();

    void hungServiceTimesOut();
    void nestedCallWhileWaiting();
    void analyseTellsWhetherTheServiceTookIt_data();
    void analyseTellsWhetherTheServiceTookIt();
    void workerThreadCalls();
    void simulatedTaskEndToEnd();
    void seededDemoTaskHasUploads();

private:
    QString base() const { return m_emulator->baseUrl(); }
    ServiceEmulator& server() { return m_emulator->server(); }
    QString taskFolder() const { return QDir::currentPath() + QStringLiteral("/save/T7/"); }
    // The log without the time stamp in front of each entry.
    QByteArray readLog() const
    {
        static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT[\\d:.]{12} "),
                                              QRegularExpression::MultilineOption);
        return QString::fromLocal8Bit(TestUtils::readFile(Settings::logFile())).remove(stamp).toLocal8Bit();
    }

    std::unique_ptr<ScopedWorkingDirectory> m_dir;
    std::unique_ptr<TestClock> m_clock;
    std::unique_ptr<EmulatorFixture> m_emulator;
};

void TestServiceClient::init()
{
    m_dir = std::make_unique<ScopedWorkingDirectory>();
    QVERIFY(m_dir->isValid());
    qputenv("AMBREL_LOG_FILE", m_dir->filePath("log.txt").toLocal8Bit());
    m_emulator = std::make_unique<EmulatorFixture>();
    QVERIFY(m_emulator->isRunning());

    HttpCommunicationThread::setTaskId("T7");
    HttpCommunicationThread::setToken("tok-42");
    HttpCommunicationThread::setUid("teacher01");
    HttpCommunicationThread::uploadToken.clear();
    HttpCommunicationThread::uploadDomain.clear();
    HttpCommunicationThread::imageCache.clear();
    m_clock = std::make_unique<TestClock>(CLOCK);
    BaseAPI::setTransferTimeout(30000);
    BaseAPI::setInactivityTimeout(30000);
}

void TestServiceClient::cleanup()
{
    m_clock.reset();
    m_emulator.reset();
    m_dir.reset();
}

void TestServiceClient::requestTexts_data()
{
    QTest::addColumn<int>("endpoint");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");

    const QString common = commonQuery();
    QTest::newRow("upload token") << int(Endpoint::UploadToken) << "POST"
                                  << "/qiniu/get/token" << common;
    QTest::newRow("analyse") << int(Endpoint::Analyse) << "POST"
                             << "/collect_after_correct/analyse/answer_image"
                             << common +
                                    "&taskId=T7&imageUrl=http://cdn.example/paper/origin/teacher01/T7/9.jpg&ts=" + T;
    QTest::newRow("paper status") << int(Endpoint::PaperStatus) << "POST"
                                  << "/collect_after_correct/get/paper_status"
                                  << "taskId=T7&" + common;
    QTest::newRow("zero proofread") << int(Endpoint::ZeroProofread) << "GET"
                                    << "/collect_after_correct/get/zero_proofread_status"
                                    << "taskId=T7&" + common;
    QTest::newRow("replenish students") << int(Endpoint::ReplenishStudents) << "GET"
                                        << "/collect_after_correct/get/replenish_students/with_fail_info_and_page"
                                        << "taskId=T7&" + common;
    QTest::newRow("answer info") << int(Endpoint::AnswerInfo) << "POST"
                                 << "/collect_after_correct/get/answer_info"
                                 << "taskId=T7&studentId=S1&" + common;
    QTest::newRow("paper status with page") << int(Endpoint::PaperStatusWithPage) << "GET"
                                            << "/collect_after_correct/get/paper_status/with_page"
                                            << "taskId=T7&" + common;
}

void TestServiceClient::requestTexts()
{
    QFETCH(int, endpoint);
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(QString, text);

    QSignalSpy messages(HttpCommunicationThread::getInstance(), &HttpCommunicationThread::message);
    HttpCommunicationThread::uploadDomain = QStringLiteral("http://cdn.example/");
    server().setCannedData(Endpoint::AnswerInfo, QJsonObject{{"studentId", "S1"}, {"images", QJsonArray()}});
    int proofread = -1, total = -1, state = -1;
    QList<ReplenishStudent> students;
    AnswerInfo info;
    PaperStatusPage page;
    switch (Endpoint(endpoint)) {
    case Endpoint::UploadToken:
        QVERIFY(HttpCommunicationThread::getUploadToken());
        break;
    case Endpoint::Analyse:
        HttpCommunicationThread::analyseAnswerImage(QStringLiteral("paper/origin/teacher01/T7/9.jpg"));
        break;
    case Endpoint::PaperStatus:
        HttpCommunicationThread::getPaperStatus();
        break;
    case Endpoint::ZeroProofread:
        HttpCommunicationThread::getZeroProofreadStatus(&proofread, &total);
        break;
    case Endpoint::ReplenishStudents:
        HttpCommunicationThread::getReplenishStudents(students);
        break;
    case Endpoint::AnswerInfo:
        HttpCommunicationThread::getAnswerInfo(QStringLiteral("S1"), &info);
        break;
    default:
        QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
        break;
    }

    const QList<ServiceEmulator::RequestRecord> records = server().requests(Endpoint(endpoint));
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().method, method);
    QCOMPARE(records.first().path, path);
    const QByteArray sent = method == QLatin1String("GET") ? records.first().query : records.first().body;
    QCOMPARE(QString::fromLocal8Bit(sent), text);
    // The emulator checks the signature and the token: a mismatch would come back as an error text.
    QCOMPARE(records.first().code, 0);
    QCOMPARE(messages.count(), 0);
}

void TestServiceClient::paperStatus_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("expected");

    QTest::newRow("5 uploaded, 5 failed")
        << QByteArray(R"({"code":0,"data":{"uploadedImageCount":5,"analyseFailImageCount":5}})") << false;
    QTest::newRow("5 uploaded, 2 failed")
        << QByteArray(R"({"code":0,"data":{"uploadedImageCount":5,"analyseFailImageCount":2}})") << true;
    QTest::newRow("0 uploaded") << QByteArray(R"({"code":0,"data":{"uploadedImageCount":0,"analyseFailImageCount":0}})")
                                << false;
    QTest::newRow("no data") << QByteArray(R"({"code":0})") << false;
    QTest::newRow("counts as text read as 0")
        << QByteArray(R"({"code":0,"data":{"uploadedImageCount":"5","analyseFailImageCount":2}})") << false;
}

void TestServiceClient::paperStatus()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, expected);

    server().setCannedBody(Endpoint::PaperStatus, body);
    QCOMPARE(HttpCommunicationThread::getPaperStatus(), expected);
}

void TestServiceClient::nonZeroCodeIsReported_data()
{
    QTest::addColumn<int>("endpoint");
    QTest::newRow("upload token") << int(Endpoint::UploadToken);
    QTest::newRow("analyse") << int(Endpoint::Analyse);
    QTest::newRow("paper status") << int(Endpoint::PaperStatus);
    QTest::newRow("zero proofread") << int(Endpoint::ZeroProofread);
    QTest::newRow("replenish students") << int(Endpoint::ReplenishStudents);
    QTest::newRow("answer info") << int(Endpoint::AnswerInfo);
    QTest::newRow("paper status with page") << int(Endpoint::PaperStatusWithPage);
}

void TestServiceClient::nonZeroCodeIsReported()
{
    QFETCH(int, endpoint);

    server().addFault(Endpoint(endpoint), {Fault::CodeNonZero, 40001, -1});
    QSignalSpy messages(HttpCommunicationThread::getInstance(), &HttpCommunicationThread::message);
    HttpCommunicationThread::uploadToken = QStringLiteral("old-token");
    HttpCommunicationThread::uploadDomain = QStringLiteral("http://old/");
    int proofread = -1, total = -1, state = -1;
    QList<ReplenishStudent> students{ReplenishStudent{QStringLiteral("stale"), {}}};
    AnswerInfo info;
    info.images.append({QStringLiteral("stale"), QStringLiteral("1")});
    PaperStatusPage page;

    switch (Endpoint(endpoint)) {
    case Endpoint::UploadToken:
        QVERIFY(!HttpCommunicationThread::getUploadToken());
        QCOMPARE(HttpCommunicationThread::uploadToken, QStringLiteral("old-token"));
        QCOMPARE(HttpCommunicationThread::uploadDomain, QStringLiteral("http://old/"));
        break;
    case Endpoint::Analyse:
        HttpCommunicationThread::analyseAnswerImage(QStringLiteral("k.jpg"));
        break;
    case Endpoint::PaperStatus:
        QVERIFY(!HttpCommunicationThread::getPaperStatus());
        break;
    case Endpoint::ZeroProofread:
        HttpCommunicationThread::getZeroProofreadStatus(&proofread, &total);
        QCOMPARE(proofread, -1);
        QCOMPARE(total, -1);
        break;
    case Endpoint::ReplenishStudents:
        HttpCommunicationThread::getReplenishStudents(students);
        QVERIFY(students.isEmpty());
        break;
    case Endpoint::AnswerInfo:
        HttpCommunicationThread::getAnswerInfo(QStringLiteral("S1"), &info);
        QVERIFY(info.images.isEmpty());
        break;
    default:
        // The progress page shows this state itself; no message.
        QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
        QCOMPARE(state, int(ServiceError));
        QCOMPARE(messages.count(), 0);
        return;
    }
    QCOMPARE(messages.count(), 1);
    const QString desc = messages.first().first().toString();
    QVERIFY(!desc.isEmpty());
    QVERIFY(desc.at(0).unicode() > 0x2e80); // the service's Chinese text, passed on as it is
}

void TestServiceClient::unusableRepliesChangeNothing_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("value");

    QTest::newRow("not JSON") << int(Fault::NonJson) << 0;
    QTest::newRow("empty body") << int(Fault::EmptyBody) << 0;
    QTest::newRow("array") << int(Fault::JsonArray) << 0;
    QTest::newRow("dropped connection") << int(Fault::Drop) << 0;
    QTest::newRow("refused connection") << -1 << 0;
}

void TestServiceClient::unusableRepliesChangeNothing()
{
    QFETCH(int, fault);
    QFETCH(int, value);

    if (fault < 0) {
        qputenv("AMBREL_API_HOST", refusedBase().toLatin1());
        Settings::reload();
    } else {
        for (Endpoint e : {Endpoint::UploadToken, Endpoint::Analyse, Endpoint::PaperStatus, Endpoint::ZeroProofread,
                           Endpoint::ReplenishStudents, Endpoint::AnswerInfo, Endpoint::PaperStatusWithPage})
            server().addFault(e, {Fault::Kind(fault), value, -1});
    }
    QSignalSpy messages(HttpCommunicationThread::getInstance(), &HttpCommunicationThread::message);
    HttpCommunicationThread::uploadToken = QStringLiteral("old-token");

    QVERIFY(!HttpCommunicationThread::getUploadToken());
    QCOMPARE(HttpCommunicationThread::uploadToken, QStringLiteral("old-token"));
    HttpCommunicationThread::analyseAnswerImage(QStringLiteral("k.jpg"));
    QVERIFY(!HttpCommunicationThread::getPaperStatus());
    int proofread = -1, total = -1;
    HttpCommunicationThread::getZeroProofreadStatus(&proofread, &total);
    QCOMPARE(proofread, -1);
    QCOMPARE(total, -1);
    QList<ReplenishStudent> students{ReplenishStudent{QStringLiteral("stale"), {}}};
    HttpCommunicationThread::getReplenishStudents(students);
    QVERIFY(students.isEmpty());
    AnswerInfo info;
    HttpCommunicationThread::getAnswerInfo(QStringLiteral("S1"), &info);
    QVERIFY(info.images.isEmpty());
    QVERIFY(info.studentName.isEmpty());
    PaperStatusPage page;
    page.analyseSuccessStudentCount = 9;
    int state = -1;
    QVERIFY(!HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
    QCOMPARE(state, -1);
    QCOMPARE(page.analyseSuccessStudentCount, 0);
    QVERIFY(page.studentAnswers.isEmpty());

    QCOMPARE(messages.count(), 0);
}

void TestServiceClient::missingCodeCountsAsSuccess()
{
    server().setCannedData(Endpoint::PaperStatus, QJsonObject{{"uploadedImageCount", 5}, {"analyseFailImageCount", 2}});
    server().addFault(Endpoint::PaperStatus, {Fault::CodeMissing, 0, -1});
    server().setCannedData(Endpoint::ZeroProofread, QJsonObject{{"proofreadImageCount", 1}, {"totalImageCount", 4}});
    server().addFault(Endpoint::ZeroProofread, {Fault::CodeMissing, 0, -1});

    QVERIFY(HttpCommunicationThread::getPaperStatus());
    int proofread = -1, total = -1;
    HttpCommunicationThread::getZeroProofreadStatus(&proofread, &total);
    QCOMPARE(proofread, 1);
    QCOMPARE(total, 4);
}

void TestServiceClient::uploadTokenSetsCredentials()
{
    QVERIFY(HttpCommunicationThread::getUploadToken());
    QCOMPARE(HttpCommunicationThread::uploadToken, server().currentUploadToken());
    QCOMPARE(HttpCommunicationThread::uploadDomain, m_emulator->domain());
    QVERIFY(!HttpCommunicationThread::uploadToken.isEmpty());

    // A success without "data" still counts and empties both values.
    server().setCannedBody(Endpoint::UploadToken, R"({"code":0})");
    QVERIFY(HttpCommunicationThread::getUploadToken());
    QCOMPARE(HttpCommunicationThread::uploadToken, QString());
    QCOMPARE(HttpCommunicationThread::uploadDomain, QString());
}

void TestServiceClient::zeroProofreadFillsCounts()
{
    server().setCannedData(Endpoint::ZeroProofread, QJsonObject{{"proofreadImageCount", 3}, {"totalImageCount", 8}});
    int proofread = -1, total = -1;
    HttpCommunicationThread::getZeroProofreadStatus(&proofread, &total);
    QCOMPARE(proofread, 3);
    QCOMPARE(total, 8);
}

void TestServiceClient::replenishStudentsParsed()
{
    const QJsonArray images1{QJsonObject{{"failReason", "模糊"}, {"proposals", "重拍"}, {"page", "2"}},
                             QJsonObject{{"failReason", "缺页"}, {"proposals", "补拍"}, {"page", 3}}};
    const QJsonArray students{QJsonObject{{"realName", "张三"}, {"images", images1}},
                              QJsonObject{{"realName", 7}, {"images", QJsonArray()}}};
    server().setCannedData(Endpoint::ReplenishStudents, QJsonObject{{"students", students}});

    QList<ReplenishStudent> list{ReplenishStudent{QStringLiteral("stale"), {}}};
    HttpCommunicationThread::getReplenishStudents(list);

    QVERIFY(QDir(QStringLiteral("save/UnCollectionInfo")).exists());
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0].realName, QStringLiteral("张三"));
    QCOMPARE(list[0].images.size(), 2);
    QCOMPARE(list[0].images[0].failReason, QStringLiteral("模糊"));
    QCOMPARE(list[0].images[0].proposals, QStringLiteral("重拍"));
    QCOMPARE(list[0].images[0].page, QStringLiteral("2"));
    // A page sent as a number is not text: it reads as empty.
    QCOMPARE(list[0].images[1].page, QString());
    QCOMPARE(list[1].realName, QString());
    QVERIFY(list[1].images.isEmpty());
}

void TestServiceClient::pageStates_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("analysed");
    QTest::addColumn<int>("unanalysed");

    QTest::newRow("10 analysed, 0 not: complete")
        << QByteArray(R"({"code":0,"data":{"analyseSuccessStudentCount":10,"unAnalyseSuccessStudentCount":0}})")
        << int(AnalysisComplete) << 10 << 0;
    QTest::newRow("10 analysed, 1 not: running")
        << QByteArray(R"({"code":0,"data":{"analyseSuccessStudentCount":10,"unAnalyseSuccessStudentCount":1}})")
        << int(AnalysisRunning) << 10 << 1;
    QTest::newRow("nothing analysed: running")
        << QByteArray(R"({"code":0,"data":{"analyseSuccessStudentCount":0,"unAnalyseSuccessStudentCount":0}})")
        << int(AnalysisRunning) << 0 << 0;
    QTest::newRow("no data: running, no students") << QByteArray(R"({"code":0})") << int(AnalysisRunning) << 0 << 0;
}

void TestServiceClient::pageStates()
{
    QFETCH(QByteArray, body);
    QFETCH(int, state);
    QFETCH(int, analysed);
    QFETCH(int, unanalysed);

    server().setCannedBody(Endpoint::PaperStatusWithPage, body);
    PaperStatusPage page;
    page.studentAnswers.append(StudentAnswer());
    int got = -1;
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &got));
    QCOMPARE(got, state);
    QCOMPARE(page.analyseSuccessStudentCount, analysed);
    QCOMPARE(page.unAnalyseSuccessStudentCount, unanalysed);
    QVERIFY(page.studentAnswers.isEmpty());
    QVERIFY(QDir(taskFolder()).exists());
}

void TestServiceClient::pageStudentsAndDownloads()
{
    server().addStaticFile(QStringLiteral("/a/b/c.png"), "page c");
    server().addStaticFile(QStringLiteral("/shared.png"), "shared page");
    server().addStaticFile(QStringLiteral("/thumbs/a.jpg"), "thumb a");
    const QString shared = base() + QStringLiteral("/shared.png");
    const QString cUrl = base() + QStringLiteral("/a/b/c.png?x=1/2");
    const QJsonArray students{
        studentEntry("S1", QJsonArray{imageEntry(cUrl, 3, 4), imageEntry(shared)}, base() + "/thumbs/a.jpg"),
        // The second student's thumbnail is an image URL fetched already: the cached file serves.
        studentEntry("S2", QJsonArray{imageEntry(shared, 1, 1)}, shared)};
    server().setCannedData(Endpoint::PaperStatusWithPage, QJsonObject{{"analyseSuccessStudentCount", 2},
                                                                      {"unAnalyseSuccessStudentCount", 0},
                                                                      {"studentAnswers", students}});

    PaperStatusPage page;
    int state = -1;
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
    QCOMPARE(state, int(AnalysisComplete));
    QCOMPARE(page.studentAnswers.size(), 2);

    const StudentAnswer& first = page.studentAnswers[0];
    QCOMPARE(first.studentId, QStringLiteral("S1"));
    QCOMPARE(first.studentName, QStringLiteral("学生S1"));
    QCOMPARE(first.scoreDesc, QStringLiteral("90分"));
    QCOMPARE(first.warnDesc, QString());
    const PhotoPathList expectedFirst{{taskFolder() + "c.png", "3-4"}, {taskFolder() + "shared.png", "0-0"}};
    QCOMPARE(first.images, expectedFirst);
    QCOMPARE(first.thumbPath, taskFolder() + "a.jpg");

    const StudentAnswer& second = page.studentAnswers[1];
    const PhotoPathList expectedSecond{{taskFolder() + "shared.png", "1-1"}};
    QCOMPARE(second.images, expectedSecond);
    QCOMPARE(second.thumbPath, taskFolder() + "shared.png");

    QCOMPARE(TestUtils::readFile(taskFolder() + "c.png"), QByteArray("page c"));
    QCOMPARE(TestUtils::readFile(taskFolder() + "shared.png"), QByteArray("shared page"));
    QCOMPARE(TestUtils::readFile(taskFolder() + "a.jpg"), QByteArray("thumb a"));
    QCOMPARE(server().requestCount(QStringLiteral("/shared.png")), 1);
    QCOMPARE(server().requestCount(QStringLiteral("/a/b/c.png")), 1);
    // Images enter the cache, thumbnails do not.
    QCOMPARE(HttpCommunicationThread::imageCache.keys(), (QStringList{cUrl, shared}));

    // A second refresh takes everything from the cache and the disk.
    const int filesBefore = server().requestCount(Endpoint::Files);
    PaperStatusPage again;
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&again, &state));
    QCOMPARE(again.studentAnswers[0].images, expectedFirst);
    QCOMPARE(server().requestCount(Endpoint::Files), filesBefore);
}

void TestServiceClient::existingFileIsNotFetched_data()
{
    QTest::addColumn<bool>("firstDownloadFails");
    QTest::newRow("service reachable") << false;
    // A first start without network keeps the pages cached so far, and fetches them once the service answers.
    QTest::newRow("first download fails") << true;
}

// A file on disk counts as a URL's copy only when it was fetched for that URL, in this run or an earlier one.
void TestServiceClient::existingFileIsNotFetched()
{
    QFETCH(bool, firstDownloadFails);
    QVERIFY(TestUtils::writeFile(taskFolder() + "old.png", "left there by somebody"));
    server().addStaticFile(QStringLiteral("/img/old.png"), "fresh from the service");
    const QString url = base() + QStringLiteral("/img/old.png");
    server().setCannedData(
        Endpoint::PaperStatusWithPage,
        QJsonObject{{"studentAnswers", QJsonArray{studentEntry("S1", {imageEntry(url, 1, 2)}, "")}}});

    PaperStatusPage page;
    int state = -1;
    if (firstDownloadFails) {
        // Held until cleared: the network stack may send a request again on its own when the connection closes
        // early, and that second request must break off too.
        server().addFault(Endpoint::Files, {Fault::Drop, 0, -1});
        QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
        QCOMPARE(page.studentAnswers[0].images, (PhotoPathList{{taskFolder() + "old.png", "1-2"}}));
        QCOMPARE(TestUtils::readFile(taskFolder() + "old.png"), QByteArray("left there by somebody"));
        server().clearFaults(Endpoint::Files);
        // Next start: the name is claimed afresh and the file fetched.
        HttpCommunicationThread::imageCache.clear();
        page = PaperStatusPage();
    }
    const int requestsBefore = server().requestCount(QStringLiteral("/img/old.png"));
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
    QCOMPARE(page.studentAnswers.size(), 1);
    QCOMPARE(page.studentAnswers[0].images, (PhotoPathList{{taskFolder() + "old.png", "1-2"}}));
    QCOMPARE(page.studentAnswers[0].thumbPath, QString());
    QCOMPARE(TestUtils::readFile(taskFolder() + "old.png"), QByteArray("fresh from the service"));

    // After a restart the recorded copy serves, even on the first refresh.
    HttpCommunicationThread::imageCache.clear();
    server().addStaticFile(QStringLiteral("/img/old.png"), "changed on the service");
    PaperStatusPage again;
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&again, &state));
    QCOMPARE(again.studentAnswers[0].images, (PhotoPathList{{taskFolder() + "old.png", "1-2"}}));
    QCOMPARE(server().requestCount(QStringLiteral("/img/old.png")), requestsBefore + 1);
    QCOMPARE(TestUtils::readFile(taskFolder() + "old.png"), QByteArray("fresh from the service"));
    QCOMPARE(HttpCommunicationThread::imageCache.value(url), taskFolder() + "old.png");
}

// Two students' pages that end in the same name get a file each, and keep it across a restart whatever the order.
void TestServiceClient::sameNamedUrlsKeepTheirOwnFiles()
{
    server().addStaticFile(QStringLiteral("/files/S1/1.png"), "sheet of S1");
    server().addStaticFile(QStringLiteral("/files/S2/1.png"), "sheet of S2");
    const QString first = base() + QStringLiteral("/files/S1/1.png");
    const QString second = base() + QStringLiteral("/files/S2/1.png");
    const QJsonObject s1 = studentEntry("S1", {imageEntry(first, 1, 1)}, "");
    const QJsonObject s2 = studentEntry("S2", {imageEntry(second, 1, 1)}, "");

    QStringList bytesSeen;
    for (const QJsonArray& students : {QJsonArray{s1, s2}, QJsonArray{s2, s1}}) {
        server().setCannedData(Endpoint::PaperStatusWithPage, QJsonObject{{"studentAnswers", students}});
        PaperStatusPage page;
        int state = -1;
        QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
        QCOMPARE(page.studentAnswers.size(), 2);
        for (const StudentAnswer& answer : page.studentAnswers)
            bytesSeen << answer.studentId + QLatin1Char(':') +
                             QString::fromUtf8(TestUtils::readFile(answer.images.first().first));
        HttpCommunicationThread::imageCache.clear();
    }
    QCOMPARE(bytesSeen, (QStringList{"S1:sheet of S1", "S2:sheet of S2", "S2:sheet of S2", "S1:sheet of S1"}));
    QCOMPARE(server().requestCount(Endpoint::Files), 2);
}

void TestServiceClient::failedDownloadIsFetchedNextTime()
{
    server().addStaticFile(QStringLiteral("/img/p1.png"), QByteArray(100000, 'p'));
    const QString url = base() + QStringLiteral("/img/p1.png");
    server().setCannedData(Endpoint::PaperStatusWithPage,
                           QJsonObject{{"studentAnswers", QJsonArray{studentEntry("S1", {imageEntry(url, 1, 1)},
                                                                                  base() + "/img/t1.png")}}});
    // The image transfer breaks off after its headers; the thumbnail is not there yet (404). A partial file an
    // interrupted earlier run left behind goes when the folder is first used. The break holds until cleared, also
    // for a request the network stack sends again by itself.
    server().addFault(Endpoint::Files, {Fault::Drop, 0, -1});
    QVERIFY(TestUtils::writeFile(taskFolder() + ".p1.png." + QString(32, 'a') + ".part", "half an image"));

    PaperStatusPage page;
    int state = -1;
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
    // The path is recorded all the same, but nothing sits under it and nothing is remembered.
    QCOMPARE(page.studentAnswers[0].images, (PhotoPathList{{taskFolder() + "p1.png", "1-1"}}));
    QCOMPARE(page.studentAnswers[0].thumbPath, taskFolder() + "t1.png");
    QVERIFY(!QFile::exists(taskFolder() + "p1.png"));
    QVERIFY(!QFile::exists(taskFolder() + "t1.png"));
    QVERIFY(!HttpCommunicationThread::imageCache.contains(url));
    QCOMPARE(QDir(taskFolder()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".png")), QStringList());

    server().clearFaults(Endpoint::Files);
    server().addStaticFile(QStringLiteral("/img/t1.png"), "thumb");
    PaperStatusPage again;
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&again, &state));
    QCOMPARE(TestUtils::readFile(taskFolder() + "p1.png"), QByteArray(100000, 'p'));
    QCOMPARE(TestUtils::readFile(taskFolder() + "t1.png"), QByteArray("thumb"));
    QCOMPARE(HttpCommunicationThread::imageCache.value(url), taskFolder() + "p1.png");
}

void TestServiceClient::hostileFileNamesStayInFolder_data()
{
    QTest::addColumn<QString>("tail");
    QTest::addColumn<QString>("extension");

    QTest::newRow("backslash climb") << "/x/..\\..\\evil.png"
                                     << ".png";
    QTest::newRow("last segment is dot-dot") << "/x/.."
                                             << "";
    QTest::newRow("empty last segment") << "/x/"
                                        << "";
    QTest::newRow("drive colon") << "/x/C:evil.jpg"
                                 << ".jpg";
    QTest::newRow("device name") << "/x/CON.png"
                                 << ".png";
    QTest::newRow("trailing dot") << "/x/evil.png."
                                  << "";
    QTest::newRow("device name with a superscript digit") << QString::fromUtf8("/x/COM\u00b9.png") << ".png";
    QTest::newRow("console device") << "/x/CONIN$"
                                    << "";
    QTest::newRow("device stem, spaces, dot") << "/x/nul  .png"
                                              << ".png";
}

void TestServiceClient::hostileFileNamesStayInFolder()
{
    QFETCH(QString, tail);
    QFETCH(QString, extension);

    const QString url = base() + tail;
    // Served whichever way the server spells the path, so that a file is really written.
    server().addStaticFile(QUrl(url).path(QUrl::FullyEncoded), "payload");
    server().addStaticFile(QUrl(url).path(), "payload");
    server().addStaticFile(QUrl(url).adjusted(QUrl::NormalizePathSegments).path(), "payload");
    server().setCannedData(
        Endpoint::PaperStatusWithPage,
        QJsonObject{{"studentAnswers", QJsonArray{studentEntry("S1", {imageEntry(url, 1, 1)}, "")}}});

    PaperStatusPage page;
    int state = -1;
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
    const QString expected = taskFolder() + md5Hex(url.toUtf8()) + extension;
    QCOMPARE(page.studentAnswers[0].images.first().first, expected);
    for (const QString& file : allFiles())
        QVERIFY2(file == QLatin1String("log.txt") || file.startsWith(QLatin1String("save/T7/")), qPrintable(file));
    QCOMPARE(TestUtils::readFile(expected), QByteArray("payload"));
}

void TestServiceClient::answerInfoFillsImages()
{
    server().addStaticFile(QStringLiteral("/ans/p1.jpg"), "one");
    server().addStaticFile(QStringLiteral("/ans/p2.jpg"), "two");
    const QJsonArray images{QString(base() + "/ans/p1.jpg"), QString(base() + "/ans/p2.jpg?v=3")};
    server().setCannedData(Endpoint::AnswerInfo,
                           QJsonObject{{"studentId", "S1"}, {"studentName", "张三"}, {"images", images}});

    AnswerInfo info;
    info.images.append({QStringLiteral("stale"), QStringLiteral("9")});
    HttpCommunicationThread::getAnswerInfo(QStringLiteral("S1"), &info);

    const QString folder = taskFolder() + "S1/";
    QCOMPARE(info.studentId, QStringLiteral("S1"));
    QCOMPARE(info.studentName, QStringLiteral("张三"));
    QCOMPARE(info.images, (PhotoPathList{{folder + "p1.jpg", "1"}, {folder + "p2.jpg", "2"}}));
    QCOMPARE(TestUtils::readFile(folder + "p1.jpg"), QByteArray("one"));
    QCOMPARE(TestUtils::readFile(folder + "p2.jpg"), QByteArray("two"));

    // The folder is reused and only the missing page is fetched again.
    QVERIFY(QFile::remove(folder + "p2.jpg"));
    HttpCommunicationThread::getAnswerInfo(QStringLiteral("S1"), &info);
    QCOMPARE(server().requestCount(QStringLiteral("/ans/p1.jpg")), 1);
    QCOMPARE(server().requestCount(QStringLiteral("/ans/p2.jpg")), 2);
    QCOMPARE(info.images.size(), 2);
}

void TestServiceClient::answerInfoHostileStudentId()
{
    server().addStaticFile(QStringLiteral("/ans/p1.jpg"), "one");
    server().setCannedData(Endpoint::AnswerInfo,
                           QJsonObject{{"studentId", "x"}, {"images", QJsonArray{QString(base() + "/ans/p1.jpg")}}});

    AnswerInfo info;
    const QString hostile = QStringLiteral("../../escape");
    HttpCommunicationThread::getAnswerInfo(hostile, &info);
    const QString folder = taskFolder() + md5Hex(hostile.toUtf8()) + "/";
    QCOMPARE(info.images, (PhotoPathList{{folder + "p1.jpg", "1"}}));
    for (const QString& file : allFiles())
        QVERIFY2(file == QLatin1String("log.txt") || file.startsWith(QLatin1String("save/T7/")), qPrintable(file));
    QVERIFY(!QDir(m_dir->filePath("escape")).exists());
}

void TestServiceClient::logRedactsToken_data()
{
    QTest::addColumn<QString>("token");
    QTest::newRow("plain token") << "tok-42";
    QTest::newRow("token with separator and space") << "ab&cd ef";
}

void TestServiceClient::logRedactsToken()
{
    QFETCH(QString, token);

    HttpCommunicationThread::setToken(token);
    HttpCommunicationThread::getUploadToken();
    HttpCommunicationThread::getPaperStatus();

    const QString s = md5Hex(QByteArray("7.3.2DesktopKorvex") + T + "teacher01");
    const QString common = QStringLiteral("userType=1&uid=teacher01&v=5.1.0&f=windows&t=%1&token=***&s=%2").arg(T, s);
    // Each entry on one line: the URL, then the request's text.
    const QString expected = base() + "/qiniu/get/token | " + common + "\n" + base() +
                             "/collect_after_correct/get/paper_status | taskId=T7&" + common + "\n";
    const QByteArray log = readLog();
    QCOMPARE(QString::fromLocal8Bit(log), expected);
    QVERIFY(!log.contains(token.toLocal8Bit()));
}

void TestServiceClient::logOfGetCallsHoldsReply()
{
    server().setCannedData(Endpoint::ZeroProofread, QJsonObject{{"proofreadImageCount", 3}, {"totalImageCount", 8}});
    int proofread = 0, total = 0;
    HttpCommunicationThread::getZeroProofreadStatus(&proofread, &total);

    const QString log = QString::fromLocal8Bit(readLog());
    const QString url = base() + QStringLiteral("/collect_after_correct/get/zero_proofread_status?");
    // One line: the URL, then the reply's lines joined.
    QVERIFY2(log.startsWith(url + " | { | "), qPrintable(log));
    QVERIFY(log.endsWith(QLatin1String(" | }\n")));
    QCOMPARE(log.count(QLatin1Char('\n')), 1);
    QVERIFY(log.contains(QLatin1String(" | \"proofreadImageCount\": 3")));
    QVERIFY(!log.contains(QLatin1String("tok-42")));

    // The progress page's call writes nothing.
    const QByteArray before = readLog();
    PaperStatusPage page;
    int state = 0;
    HttpCommunicationThread::getPaperStatusWithPage(&page, &state);
    QCOMPARE(readLog(), before);
}

void TestServiceClient::hungServiceTimesOut()
{
    server().setCannedData(Endpoint::PaperStatus, QJsonObject{{"uploadedImageCount", 5}, {"analyseFailImageCount", 2}});
    server().addFault(Endpoint::PaperStatus, {Fault::Hang, 5000, 1});
    BaseAPI::setTransferTimeout(300);

    QVERIFY(!HttpCommunicationThread::getPaperStatus());
    // The next poll gets through.
    QVERIFY(HttpCommunicationThread::getPaperStatus());
}

void TestServiceClient::nestedCallWhileWaiting()
{
    server().setCannedData(Endpoint::PaperStatus, QJsonObject{{"uploadedImageCount", 5}, {"analyseFailImageCount", 2}});
    server().addFault(Endpoint::PaperStatus, {Fault::Delay, 1000, 1});
    server().setCannedData(Endpoint::ZeroProofread, QJsonObject{{"proofreadImageCount", 2}, {"totalImageCount", 6}});

    // A page timer fires while the start-up check is waiting for its reply.
    int proofread = -1, total = -1;
    bool innerDone = false;
    QTimer::singleShot(50, this, [&] {
        HttpCommunicationThread::getZeroProofreadStatus(&proofread, &total);
        innerDone = true;
    });
    QVERIFY(HttpCommunicationThread::getPaperStatus());
    QVERIFY(innerDone);
    QCOMPARE(proofread, 2);
    QCOMPARE(total, 6);
}

void TestServiceClient::analyseTellsWhetherTheServiceTookIt_data()
{
    using Announcement = HttpCommunicationThread::Announcement;
    QTest::addColumn<int>("fault"); // -1: none; -2: the service is not running
    QTest::addColumn<int>("value");
    QTest::addColumn<Announcement>("outcome");
    // What the log says about the exchange itself: empty when it went through.
    QTest::addColumn<QString>("failure");
    QTest::newRow("code 0") << -1 << 0 << Announcement::Taken << QString();
    QTest::newRow("code missing") << int(Fault::CodeMissing) << 0 << Announcement::Taken << QString();
    QTest::newRow("code not 0: refused, with the service's text")
        << int(Fault::CodeNonZero) << 40001 << Announcement::Refused << QString();
    QTest::newRow("HTTP 502 with a code 0 body")
        << int(Fault::HttpStatus) << 502 << Announcement::Failed << "server replied: Bad Gateway (HTTP status 502)";
    QTest::newRow("not JSON") << int(Fault::NonJson) << 0 << Announcement::Failed << QString();
    QTest::newRow("connection dropped before the body: may have been taken")
        << int(Fault::Drop) << 0 << Announcement::Unanswered << "Connection closed (HTTP status 200)";
    QTest::newRow("answered after the client gave up: may have been taken")
        << int(Fault::Delay) << 3000 << Announcement::Unanswered
        << "abandoned at its time or size limit (HTTP status none)";
    QTest::newRow("service not running: nothing reached it")
        << -2 << 0 << Announcement::Failed << "Connection refused (HTTP status none)";
}

void TestServiceClient::analyseTellsWhetherTheServiceTookIt()
{
    using Announcement = HttpCommunicationThread::Announcement;
    QFETCH(int, fault);
    QFETCH(int, value);
    QFETCH(Announcement, outcome);
    // Held for the whole call: when the connection closes before the reply's headers are read, the network stack
    // sends the request again by itself (twice at most), and every one of those must meet the fault.
    if (fault >= 0)
        server().addFault(Endpoint::Analyse, {Fault::Kind(fault), value, -1});
    if (fault == int(Fault::Delay))
        BaseAPI::setTransferTimeout(300);
    if (fault == -2)
        server().stop();

    QString reason;
    QCOMPARE(HttpCommunicationThread::announceAnswerImage(QStringLiteral("T7"),
                                                          QStringLiteral("paper/origin/teacher01/T7/3.jpg"), &reason),
             outcome);
    QCOMPARE(reason.isEmpty(), outcome != Announcement::Refused);

    QFETCH(QString, failure);
    const QString log = QString::fromLocal8Bit(readLog());
    const QString failed =
        QStringLiteral("request failed: ") + base() + "/collect_after_correct/analyse/answer_image: ";
    QCOMPARE(log.contains(failed), !failure.isEmpty());
    if (!failure.isEmpty()) {
        const QString line = log.mid(log.indexOf(failed)).section(QLatin1Char('\n'), 0, 0);
        QVERIFY2(line.endsWith(failure), qPrintable(line));
    }
    QVERIFY(!log.contains(QLatin1String("tok-42")));
}

void TestServiceClient::workerThreadCalls()
{
    QSignalSpy messages(HttpCommunicationThread::getInstance(), &HttpCommunicationThread::message);
    server().addFault(Endpoint::Analyse, {Fault::CodeNonZero, 0, 1});

    bool gotToken = false;
    QThread* thread = QThread::create([&gotToken] {
        gotToken = HttpCommunicationThread::getUploadToken();
        HttpCommunicationThread::analyseAnswerImage(QStringLiteral("paper/origin/teacher01/T7/5.jpg"));
    });
    thread->start();
    QVERIFY(thread->wait(20000));
    delete thread;

    QVERIFY(gotToken);
    QCOMPARE(HttpCommunicationThread::uploadDomain, m_emulator->domain());
    const QList<ServiceEmulator::RequestRecord> analyse = server().requests(Endpoint::Analyse);
    QCOMPARE(analyse.size(), 1);
    QCOMPARE(analyse.first().params.value("imageUrl"), m_emulator->domain() + "paper/origin/teacher01/T7/5.jpg");
    QCOMPARE(messages.count(), 1);
}

void TestServiceClient::simulatedTaskEndToEnd()
{
    // Two pages uploaded and announced as the worker would, then analysed by the service.
    QVERIFY(HttpCommunicationThread::getUploadToken());
    for (const QString& key :
         {QStringLiteral("paper/origin/teacher01/T7/1.jpg"), QStringLiteral("paper/origin/teacher01/T7/2.jpg")}) {
        QVERIFY(server().storeObject(key, "jpeg of " + key.toLatin1()));
        HttpCommunicationThread::analyseAnswerImage(key);
    }
    server().finishAnalysis(QStringLiteral("T7"));
    QVERIFY(HttpCommunicationThread::getPaperStatus());

    PaperStatusPage page;
    int state = -1;
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
    QCOMPARE(state, int(AnalysisComplete));
    QCOMPARE(page.studentAnswers.size(), 1);
    const StudentAnswer& answer = page.studentAnswers.first();
    QVERIFY(!answer.studentName.isEmpty());
    QCOMPARE(answer.images.size(), 2);
    QCOMPARE(TestUtils::readFile(answer.images[0].first), QByteArray("jpeg of paper/origin/teacher01/T7/1.jpg"));
    QVERIFY(QFile::exists(answer.thumbPath));

    AnswerInfo info;
    HttpCommunicationThread::getAnswerInfo(answer.studentId, &info);
    QCOMPARE(info.studentId, answer.studentId);
    QCOMPARE(info.images.size(), 2);
    QCOMPARE(TestUtils::readFile(info.images[1].first), QByteArray("jpeg of paper/origin/teacher01/T7/2.jpg"));
}

void TestServiceClient::seededDemoTaskHasUploads()
{
    // The demo task: the start-up check must send the teacher to the progress page.
    server().seedDemo(QStringLiteral("T7"), QStringLiteral("teacher01"));
    QVERIFY(HttpCommunicationThread::getPaperStatus());

    PaperStatusPage page;
    int state = -1;
    QVERIFY(HttpCommunicationThread::getPaperStatusWithPage(&page, &state));
    QCOMPARE(page.studentAnswers.size(), server().counts(QStringLiteral("T7")).analysedStudents);
    QVERIFY(!page.studentAnswers.isEmpty());
    for (const StudentAnswer& answer : page.studentAnswers) {
        QVERIFY(QFile::exists(answer.thumbPath));
        for (const auto& image : answer.images)
            QVERIFY2(QFile::exists(image.first), qPrintable(image.first));
    }
    QList<ReplenishStudent> failed;
    HttpCommunicationThread::getReplenishStudents(failed);
    QCOMPARE(failed.size(), server().counts(QStringLiteral("T7")).failedStudents);
}

QTEST_GUILESS_MAIN(TestServiceClient)
#include "tst_serviceclient.moc"
