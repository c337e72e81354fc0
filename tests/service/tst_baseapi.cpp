#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "service/BaseAPI.h"

namespace {

// A loopback HTTP server for the transport edge cases the emulator does not model: a peer that accepts and never
// answers, one that stalls half-way through a body, one that trickles its body slowly, and one that sends a body
// without a length (ended by closing the connection, or chunked) that never ends.
class FakeServer : public QObject
{
public:
    enum class Mode
    {
        Silent,
        StallHalfWay,
        Trickle,
        EndlessUntilClosed,
        EndlessChunked,
    };

    FakeServer(Mode mode, const QByteArray& body, int intervalMs = 0)
        : m_mode(mode), m_body(body), m_interval(intervalMs)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, &FakeServer::accept);
    }

    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }

    int connections() const { return m_connections; }
    qint64 bodyBytesSent() const { return m_sent; }

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++m_connections;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequest(socket); });
        }
    }

    void onRequest(QTcpSocket* socket)
    {
        if (!socket->readAll().contains("\r\n\r\n") || m_mode == Mode::Silent)
            return;
        if (m_mode == Mode::EndlessUntilClosed || m_mode == Mode::EndlessChunked) {
            const bool chunked = m_mode == Mode::EndlessChunked;
            socket->write(chunked ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                  : "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            auto* timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [this, socket, chunked] {
                const QByteArray chunk = m_body.left(1000);
                socket->write(chunked ? QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n" : chunk);
                m_sent += chunk.size();
            });
            timer->start(m_interval);
            return;
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                      QByteArray::number(m_body.size()) + "\r\n\r\n");
        if (m_mode == Mode::StallHalfWay) {
            socket->write(m_body.left(m_body.size() / 2));
            return;
        }
        auto* timer = new QTimer(socket);
        auto sent = std::make_shared<int>(0);
        connect(timer, &QTimer::timeout, socket, [this, socket, timer, sent] {
            const int chunk = qMax(1, m_body.size() / 8);
            socket->write(m_body.mid(*sent, chunk));
            *sent += chunk;
            if (*sent >= m_body.size())
                timer->stop();
        });
        timer->start(m_interval);
    }

    QTcpServer m_server;
    Mode m_mode;
    QByteArray m_body;
    int m_interval;
    int m_connections = 0;
    qint64 m_sent = 0;
};

QString refusedUrl()
{
    // A port that was free a moment ago and has nobody listening now.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/x.json").arg(port);
}

QStringList leftovers(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

QByteArray bigBody(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + 7) & 0xff);
    return bytes;
}

} // namespace

class TestBaseAPI : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void getParsesReplies_data();
    void getParsesReplies();
    void postFollowsFaults_data();
    void postFollowsFaults();
    void refusedConnectionGivesEmptyObject();
    void silentServerTimesOut();
    void slowReplyWithinBoundSucceeds();

    void downloadReplacesExistingFile();
    void twoDownloadsThroughOneObject_data();
    void twoDownloadsThroughOneObject();
    void failedDownloadLeavesNothing_data();
    void failedDownloadLeavesNothing();
    void downloadStalledHalfWayTimesOut();
    void trickledDownloadWithinBounds_data();
    void trickledDownloadWithinBounds();

    void worksOnThreadWithoutEventLoop();
    void nestedCallWhileWaitingCompletesBoth();

private:
    std::unique_ptr<EmulatorFixture> m_emulator;
    std::unique_ptr<ScopedWorkingDirectory> m_dir;
};

void TestBaseAPI::init()
{
    m_dir = std::make_unique<ScopedWorkingDirectory>();
    m_emulator = std::make_unique<EmulatorFixture>();
    QVERIFY(m_emulator->isRunning());
    BaseAPI::setTransferTimeout(30000);
    BaseAPI::setInactivityTimeout(30000);
    BaseAPI::setDownloadDeadline(120000);
    BaseAPI::setDownloadSizeLimit(64 * 1024 * 1024);
}

void TestBaseAPI::cleanup()
{
    m_emulator.reset();
    m_dir.reset();
}

void TestBaseAPI::getParsesReplies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QJsonObject>("expected");

    const QJsonObject plain{{"code", 0}, {"desc", "ok"}, {"data", QJsonObject{{"n", 5}}}};
    QTest::newRow("plain object") << QByteArray(R"({"code":0,"desc":"ok","data":{"n":5}})") << plain;
    QTest::newRow("whole text percent-encoded")
        << QByteArray("%7B%22code%22%3A0%2C%22desc%22%3A%22ok%22%2C%22data%22%3A%7B%22n%22%3A5%7D%7D") << plain;
    QTest::newRow("escape inside a string value")
        << QByteArray(R"({"desc":"a%41b%2Fc"})") << QJsonObject{{"desc", "aAb/c"}};
    QTest::newRow("plus stays plus") << QByteArray(R"({"desc":"1+1"})") << QJsonObject{{"desc", "1+1"}};
    QTest::newRow("encoded UTF-8 text") << QByteArray(R"({"desc":"%E6%88%90%E5%8A%9F"})")
                                        << QJsonObject{{"desc", QStringLiteral("成功")}};
    QTest::newRow("array at top level") << QByteArray(R"([{"code":0}])") << QJsonObject();
    QTest::newRow("empty body") << QByteArray() << QJsonObject();
    QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << QJsonObject();
    QTest::newRow("truncated JSON") << QByteArray(R"({"code":0,"desc")") << QJsonObject();
}

void TestBaseAPI::getParsesReplies()
{
    QFETCH(QByteArray, body);
    QFETCH(QJsonObject, expected);

    (*m_emulator)->addStaticFile(QStringLiteral("/raw/reply.json"), body, "application/json");
    BaseAPI api;
    QJsonObject result{{"stale", true}};
    api.get(m_emulator->baseUrl() + QStringLiteral("/raw/reply.json"), result);
    QCOMPARE(result, expected);
}

void TestBaseAPI::postFollowsFaults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("expectObject");

    QTest::newRow("no fault") << -1 << 0 << true;
    QTest::newRow("percent-encoded reply") << int(ServiceEmulator::Fault::PercentEncoded) << 0 << true;
    QTest::newRow("array reply") << int(ServiceEmulator::Fault::JsonArray) << 0 << false;
    QTest::newRow("empty reply") << int(ServiceEmulator::Fault::EmptyBody) << 0 << false;
    QTest::newRow("non-JSON reply") << int(ServiceEmulator::Fault::NonJson) << 0 << false;
    QTest::newRow("dropped connection") << int(ServiceEmulator::Fault::Drop) << 0 << false;
    // Valid JSON, but 9 MB of it: cut at the reply limit instead of being held in memory.
    QTest::newRow("reply beyond the size limit") << int(ServiceEmulator::Fault::Endless) << 9 * 1024 << false;
}

void TestBaseAPI::postFollowsFaults()
{
    QFETCH(int, fault);
    QFETCH(int, value);
    QFETCH(bool, expectObject);

    const ServiceEmulator::Endpoint endpoint = ServiceEmulator::Endpoint::PaperStatus;
    (*m_emulator)->setCannedData(endpoint, QJsonObject{{"uploadedImageCount", 7}});
    if (fault >= 0)
        (*m_emulator)->addFault(endpoint, {ServiceEmulator::Fault::Kind(fault), value, -1});

    // A correctly signed text, so that only the injected fault can make the reply unusable.
    const QByteArray t = "1700000000123";
    const QByteArray body = "taskId=T1&userType=1&uid=u1&v=5.1.0&f=windows&t=" + t +
                            "&token=tok&s=" + ServiceEmulator::signatureFor(t, "u1").toLatin1();
    BaseAPI api;
    QJsonObject result;
    api.post(m_emulator->baseUrl() + QStringLiteral("/collect_after_correct/get/paper_status"), body, result);

    QCOMPARE((*m_emulator)->requestCount(endpoint), 1);
    QCOMPARE((*m_emulator)->requests(endpoint).first().body, body);
    if (expectObject) {
        QCOMPARE(result.value("code").toInt(-1), 0);
        QCOMPARE(result.value("data").toObject().value("uploadedImageCount").toInt(), 7);
    } else {
        QCOMPARE(result, QJsonObject());
    }
}

void TestBaseAPI::refusedConnectionGivesEmptyObject()
{
    BaseAPI api;
    QJsonObject result{{"stale", true}};
    api.get(refusedUrl(), result);
    QCOMPARE(result, QJsonObject());
    result = QJsonObject{{"stale", true}};
    api.post(refusedUrl(), "a=b", result);
    QCOMPARE(result, QJsonObject());
}

void TestBaseAPI::silentServerTimesOut()
{
    FakeServer server(FakeServer::Mode::Silent, QByteArray());
    BaseAPI::setTransferTimeout(300);

    BaseAPI api;
    QJsonObject result{{"stale", true}};
    api.get(server.url("/never"), result);
    QCOMPARE(server.connections(), 1);
    QCOMPARE(result, QJsonObject());

    result = QJsonObject{{"stale", true}};
    api.post(server.url("/never"), "a=b", result);
    QCOMPARE(result, QJsonObject());
}

void TestBaseAPI::slowReplyWithinBoundSucceeds()
{
    (*m_emulator)->addStaticFile(QStringLiteral("/slow.json"), R"({"code":0})", "application/json");
    (*m_emulator)->addFault(ServiceEmulator::Endpoint::Files, {ServiceEmulator::Fault::Delay, 200, 1});
    BaseAPI::setTransferTimeout(5000);

    BaseAPI api;
    QJsonObject result;
    api.get(m_emulator->baseUrl() + QStringLiteral("/slow.json"), result);
    QCOMPARE(result, (QJsonObject{{"code", 0}}));

    // The same delay beyond the bound is a failure, and a late answer cannot leak into a later call.
    (*m_emulator)->addFault(ServiceEmulator::Endpoint::Files, {ServiceEmulator::Fault::Delay, 1500, 1});
    BaseAPI::setTransferTimeout(300);
    api.get(m_emulator->baseUrl() + QStringLiteral("/slow.json"), result);
    QCOMPARE(result, QJsonObject());
}

void TestBaseAPI::downloadReplacesExistingFile()
{
    const QString target = m_dir->filePath("page.png");
    QVERIFY(TestUtils::writeFile(target, QByteArray(5000, 'x')));
    (*m_emulator)->addStaticFile(QStringLiteral("/img/page.png"), "new contents");

    BaseAPI api;
    api.download(m_emulator->baseUrl() + QStringLiteral("/img/page.png"), target);
    QCOMPARE(TestUtils::readFile(target), QByteArray("new contents"));
    QCOMPARE(leftovers(m_dir->path()), QStringList{"page.png"});
}

void TestBaseAPI::twoDownloadsThroughOneObject_data()
{
    // A URL the same object was asked for just before: only http and https may be fetched, and an answer to an
    // earlier request must not end a later one's wait.
    QTest::addColumn<QString>("before");
    QTest::newRow("nothing before") << QString();
    QTest::newRow("missing local file") << QStringLiteral("file:///nonexistent/x.png");
    QTest::newRow("data URL") << QStringLiteral("data:image/png;base64,iVBORw0KGgo=");
    QTest::newRow("existing local file") << QStringLiteral("file:///etc/hostname");
    // A host in a local file's URL does not make it a web address (on Windows "file://host/share" is a network
    // path), nor does one in another scheme's. "%1": the port of a server that counts who connects.
    QTest::newRow("local file through localhost") << QStringLiteral("file://localhost/etc/hostname");
    QTest::newRow("ftp to this machine") << QStringLiteral("ftp://127.0.0.1:%1/x");
}

void TestBaseAPI::twoDownloadsThroughOneObject()
{
    QFETCH(QString, before);
    FakeServer listener(FakeServer::Mode::Silent, QByteArray());
    if (before.contains(QLatin1String("%1")))
        before = before.arg(QUrl(listener.url(QString())).port());
    const QByteArray first = bigBody(300000);
    const QByteArray second = "second file";
    const QByteArray third = bigBody(200000).toBase64();
    (*m_emulator)->addStaticFile(QStringLiteral("/a.jpg"), first);
    (*m_emulator)->addStaticFile(QStringLiteral("/b.jpg"), second);
    (*m_emulator)->addStaticFile(QStringLiteral("/c.jpg"), third);

    BaseAPI api;
    QJsonObject result;
    (*m_emulator)->addStaticFile(QStringLiteral("/status.json"), R"({"code":0})", "application/json");
    api.get(m_emulator->baseUrl() + QStringLiteral("/status.json"), result);
    if (!before.isEmpty())
        api.download(before, m_dir->filePath("before.png"));
    api.download(m_emulator->baseUrl() + QStringLiteral("/a.jpg"), m_dir->filePath("a.jpg"));
    api.download(m_emulator->baseUrl() + QStringLiteral("/b.jpg"), m_dir->filePath("b.jpg"));
    api.download(m_emulator->baseUrl() + QStringLiteral("/c.jpg"), m_dir->filePath("c.jpg"));

    // Complete and closed: another handle can read and remove them at once.
    QCOMPARE(TestUtils::readFile(m_dir->filePath("a.jpg")), first);
    QCOMPARE(TestUtils::readFile(m_dir->filePath("b.jpg")), second);
    QCOMPARE(TestUtils::readFile(m_dir->filePath("c.jpg")), third);
    QCOMPARE(leftovers(m_dir->path()), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
    QCOMPARE(listener.connections(), 0);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        QVERIFY(QFile::remove(m_dir->filePath(name)));
}

void TestBaseAPI::failedDownloadLeavesNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("refused");

    QTest::newRow("not found") << "/missing.png" << -1 << 0 << false;
    QTest::newRow("server error status") << "/img.png" << int(ServiceEmulator::Fault::HttpStatus) << 500 << false;
    QTest::newRow("connection dropped after headers") << "/img.png" << int(ServiceEmulator::Fault::Drop) << 0 << false;
    QTest::newRow("connection refused") << "" << -1 << 0 << true;
}

void TestBaseAPI::failedDownloadLeavesNothing()
{
    QFETCH(QString, path);
    QFETCH(int, fault);
    QFETCH(int, value);
    QFETCH(bool, refused);

    (*m_emulator)->addStaticFile(QStringLiteral("/img.png"), bigBody(200000));
    if (fault >= 0)
        (*m_emulator)->addFault(ServiceEmulator::Endpoint::Files, {ServiceEmulator::Fault::Kind(fault), value, 1});
    const QString url = refused ? refusedUrl() : m_emulator->baseUrl() + path;

    // No file under the real name, so that the next refresh fetches it again.
    BaseAPI api;
    api.download(url, m_dir->filePath("fresh.png"));
    QVERIFY(!QFile::exists(m_dir->filePath("fresh.png")));

    // An earlier good copy is not spoilt by a failed attempt.
    QVERIFY(TestUtils::writeFile(m_dir->filePath("kept.png"), "good copy"));
    if (fault >= 0)
        (*m_emulator)->addFault(ServiceEmulator::Endpoint::Files, {ServiceEmulator::Fault::Kind(fault), value, 1});
    api.download(url, m_dir->filePath("kept.png"));
    QCOMPARE(TestUtils::readFile(m_dir->filePath("kept.png")), QByteArray("good copy"));
    QCOMPARE(leftovers(m_dir->path()), QStringList{"kept.png"});
}

void TestBaseAPI::downloadStalledHalfWayTimesOut()
{
    FakeServer server(FakeServer::Mode::StallHalfWay, bigBody(10000));
    BaseAPI::setInactivityTimeout(300);

    BaseAPI api;
    api.download(server.url("/stall.png"), m_dir->filePath("stall.png"));
    QCOMPARE(server.connections(), 1);
    QCOMPARE(leftovers(m_dir->path()), QStringList());
}

void TestBaseAPI::trickledDownloadWithinBounds_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<qint64>("sizeLimit");
    QTest::addColumn<bool>("complete");

    // Eight chunks of 1000 bytes 100 ms apart: longer in total than the idle bound, but never silent for that long.
    const int trickle = int(FakeServer::Mode::Trickle);
    QTest::newRow("within every bound") << trickle << 20000 << qint64(8000) << true;
    QTest::newRow("past the overall deadline") << trickle << 300 << qint64(8000) << false;
    QTest::newRow("larger than the size limit") << trickle << 20000 << qint64(7999) << false;
    // No length in the headers and no end: cut as soon as the limit is passed, long before the deadline.
    QTest::newRow("endless body until closed")
        << int(FakeServer::Mode::EndlessUntilClosed) << 60000 << qint64(7999) << false;
    QTest::newRow("endless chunked body") << int(FakeServer::Mode::EndlessChunked) << 60000 << qint64(7999) << false;
}

void TestBaseAPI::trickledDownloadWithinBounds()
{
    QFETCH(int, mode);
    QFETCH(int, deadlineMs);
    QFETCH(qint64, sizeLimit);
    QFETCH(bool, complete);

    const QByteArray body = bigBody(8000);
    FakeServer server(FakeServer::Mode(mode), body, 100);
    BaseAPI::setInactivityTimeout(400);
    BaseAPI::setDownloadDeadline(deadlineMs);
    BaseAPI::setDownloadSizeLimit(sizeLimit);

    BaseAPI api;
    api.download(server.url("/slow.png"), m_dir->filePath("slow.png"));
    if (complete)
        QCOMPARE(TestUtils::readFile(m_dir->filePath("slow.png")), body);
    else
        QCOMPARE(leftovers(m_dir->path()), QStringList());
    // Cut at the limit, not at the deadline (which would take 600 chunks): slack for a slow machine.
    QVERIFY2(server.bodyBytesSent() <= sizeLimit + 20 * 1000, qPrintable(QString::number(server.bodyBytesSent())));
}

void TestBaseAPI::worksOnThreadWithoutEventLoop()
{
    (*m_emulator)->addStaticFile(QStringLiteral("/t.json"), R"({"code":0,"desc":"thread"})", "application/json");
    (*m_emulator)->addStaticFile(QStringLiteral("/t.png"), "thread file");
    const QString base = m_emulator->baseUrl();
    const QString target = m_dir->filePath("t.png");

    QJsonObject result;
    // QThread::create runs the function as run() itself: the thread has no event loop of its own.
    QThread* thread = QThread::create([&result, base, target] {
        BaseAPI api;
        api.get(base + QStringLiteral("/t.json"), result);
        api.download(base + QStringLiteral("/t.png"), target);
    });
    thread->start();
    QVERIFY(thread->wait(20000));
    delete thread;

    QCOMPARE(result.value("desc").toString(), QStringLiteral("thread"));
    QCOMPARE(TestUtils::readFile(target), QByteArray("thread file"));
}

void TestBaseAPI::nestedCallWhileWaitingCompletesBoth()
{
    (*m_emulator)->addStaticFile(QStringLiteral("/outer.json"), R"({"which":"outer"})", "application/json");
    (*m_emulator)->addStaticFile(QStringLiteral("/inner.json"), R"({"which":"inner"})", "application/json");
    // Only the first request (the outer one) is held back.
    (*m_emulator)->addFault(ServiceEmulator::Endpoint::Files, {ServiceEmulator::Fault::Delay, 1000, 1});
    const QString base = m_emulator->baseUrl();

    QStringList order;
    QJsonObject inner;
    QTimer::singleShot(50, this, [&] {
        BaseAPI api;
        api.get(base + QStringLiteral("/inner.json"), inner);
        order << QStringLiteral("inner");
    });

    BaseAPI api;
    QJsonObject outer;
    api.get(base + QStringLiteral("/outer.json"), outer);
    order << QStringLiteral("outer");

    QCOMPARE(outer.value("which").toString(), QStringLiteral("outer"));
    QCOMPARE(inner.value("which").toString(), QStringLiteral("inner"));
    QCOMPARE(order, (QStringList{"inner", "outer"}));
}

QTEST_GUILESS_MAIN(TestBaseAPI)
#include "tst_baseapi.moc"
