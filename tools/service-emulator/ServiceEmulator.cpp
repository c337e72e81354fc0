#include "ServiceEmulator.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include <httplib.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include "AnswerSheetImage.h"
#include "SimulatedTask.h"

namespace {

using Endpoint = ServiceEmulator::Endpoint;
using Fault = ServiceEmulator::Fault;

struct ApiRoute
{
    Endpoint endpoint;
    const char* path;
    bool get;
};

const ApiRoute kApiRoutes[] = {
    {Endpoint::UploadToken, "/qiniu/get/token", false},
    {Endpoint::Analyse, "/collect_after_correct/analyse/answer_image", false},
    {Endpoint::PaperStatus, "/collect_after_correct/get/paper_status", false},
    {Endpoint::ZeroProofread, "/collect_after_correct/get/zero_proofread_status", true},
    {Endpoint::ReplenishStudents, "/collect_after_correct/get/replenish_students/with_fail_info_and_page", true},
    {Endpoint::AnswerInfo, "/collect_after_correct/get/answer_info", false},
    {Endpoint::PaperStatusWithPage, "/collect_after_correct/get/paper_status/with_page", true},
};

struct EndpointName
{
    Endpoint endpoint;
    const char* name;
};

const EndpointName kEndpointNames[] = {
    {Endpoint::UploadToken, "token"},
    {Endpoint::Analyse, "analyse"},
    {Endpoint::PaperStatus, "paper_status"},
    {Endpoint::ZeroProofread, "zero_proofread"},
    {Endpoint::ReplenishStudents, "replenish"},
    {Endpoint::AnswerInfo, "answer_info"},
    {Endpoint::PaperStatusWithPage, "with_page"},
    {Endpoint::Upload, "upload"},
    {Endpoint::Files, "files"},
    {Endpoint::Other, "other"},
};

struct FaultName
{
    Fault::Kind kind;
    const char* name;
};

const FaultName kFaultNames[] = {
    {Fault::Delay, "delay"},
    {Fault::Hang, "hang"},
    {Fault::HttpStatus, "status"},
    {Fault::NonJson, "nonjson"},
    {Fault::JsonArray, "array"},
    {Fault::EmptyBody, "empty"},
    {Fault::PercentEncoded, "percent"},
    {Fault::Drop, "drop"},
    {Fault::CodeNonZero, "code"},
    {Fault::CodeMissing, "nocode"},
    {Fault::UploadStatus, "upload"},
    {Fault::Endless, "endless"},
};

const char kJsonType[] = "application/json;charset=UTF-8";

using RawParams = QList<QPair<QByteArray, QByteArray>>;

QByteArray bytes(const std::string& text)
{
    return QByteArray(text.data(), int(text.size()));
}

std::string stdString(const QByteArray& data)
{
    return std::string(data.constData(), size_t(data.size()));
}

// The request texts are "a=b&c=d" with values inserted raw: split on "&", then on the first "=". Query strings
// arrive percent-encoded by the client's URL handling, bodies do not.
RawParams splitRequestText(const QByteArray& text, bool percentDecode)
{
    RawParams params;
    for (const QByteArray& piece : text.split('&')) {
        if (piece.isEmpty())
            continue;
        const int eq = piece.indexOf('=');
        QByteArray name = eq < 0 ? piece : piece.left(eq);
        QByteArray value = eq < 0 ? QByteArray() : piece.mid(eq + 1);
        if (percentDecode) {
            name = QByteArray::fromPercentEncoding(name);
            value = QByteArray::fromPercentEncoding(value);
        }
        params.append({name, value});
    }
    return params;
}

QByteArray paramValue(const RawParams& params, const char* name)
{
    for (const auto& p : params) {
        if (p.first == name)
            return p.second;
    }
    return QByteArray();
}

QJsonObject replyObject(int code, const QString& desc)
{
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("desc"), desc}};
}

QJsonObject successReply(const QJsonValue& data)
{
    QJsonObject reply = replyObject(0, QStringLiteral("成功"));
    reply.insert(QStringLiteral("data"), data);
    return reply;
}

QByteArray compactJson(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The store's content hash of a stored object, as the form upload's reply names it.
QString objectHash(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return QString::fromLatin1(hash.result().toBase64(QByteArray::Base64UrlEncoding));
}

QByteArray contentTypeFor(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return "image/jpeg";
    if (suffix == QLatin1String("png"))
        return "image/png";
    if (suffix == QLatin1String("bmp"))
        return "image/bmp";
    return "application/octet-stream";
}

// Object keys become paths under the storage folder: refuse anything that could leave it.
bool isSafeKey(const QString& key)
{
    if (key.isEmpty() || key.startsWith(QLatin1Char('/')) || key.contains(QLatin1Char('\\')) ||
        key.contains(QLatin1Char(':')))
        return false;
    for (const QString& segment : key.split(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return false;
    }
    return true;
}

void dropConnection(httplib::Response& res)
{
    // The headers promise a body that never comes: the client sees the connection closed mid-reply.
    res.status = 200;
    res.set_content_provider(
        64, kJsonType, [](size_t, size_t, httplib::DataSink&) { return false; }, nullptr);
}

} // namespace

class ServiceEmulator::Private
{
public:
    struct Canned
    {
        bool isData = false;
        QJsonObject data;
        QByteArray body;
        QByteArray contentType;
    };
    struct StaticFile
    {
        QByteArray bytes;
        QByteArray contentType;
    };

    explicit Private(const Options& o) : options(o), stepMs(o.stepMs)
    {
        if (o.tlsCertFile.isEmpty())
            server = std::make_unique<httplib::Server>();
        else
            server = std::make_unique<httplib::SSLServer>(QFile::encodeName(o.tlsCertFile).constData(),
                                                          QFile::encodeName(o.tlsKeyFile).constData());
    }

    QString baseUrl() const
    {
        return (options.tlsCertFile.isEmpty() ? QStringLiteral("http://127.0.0.1:%1")
                                              : QStringLiteral("https://127.0.0.1:%1"))
            .arg(port);
    }
    QString domainLocked() const
    {
        return domainOverride.isEmpty() ? baseUrl() + QStringLiteral("/files/") : domainOverride;
    }
    SimulatedTask& task(const QString& taskId)
    {
        auto it = tasks.find(taskId);
        if (it == tasks.end()) {
            SimulatedTask::Rules rules;
            rules.pagesPerStudent = options.pagesPerStudent;
            rules.failEvery = options.failEvery;
            rules.warnEvery = options.warnEvery;
            rules.analysePerStep = options.analysePerStep;
            rules.proofreadPerStep = options.proofreadPerStep;
            it = tasks.emplace(taskId, std::make_unique<SimulatedTask>(taskId, rules)).first;
        }
        return *it->second;
    }

    void handleGet(const httplib::Request& req, httplib::Response& res);
    void handlePost(const httplib::Request& req, httplib::Response& res);
    void handleApi(Endpoint endpoint, bool expectGet, const httplib::Request& req, httplib::Response& res);
    void handleUpload(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader);
    void handleFile(const httplib::Request& req, httplib::Response& res);

    ServiceEmulator::RequestRecord makeRecord(Endpoint endpoint, const httplib::Request& req, RawParams* params);
    QList<Fault> takeFaults(Endpoint endpoint);
    // Delay, hang and drop. False when the exchange ended here (the record is logged).
    bool applyTiming(const QList<Fault>& faults, httplib::Response& res, ServiceEmulator::RequestRecord& record);
    QJsonObject answer(Endpoint endpoint, const RawParams& params, bool* canned, Canned* cannedReply);
    void appendLog(const ServiceEmulator::RequestRecord& record);
    void sleepFor(int ms);
    void sendEndless(httplib::Response& res, qint64 paddingBytes);
    QString storeIncoming(const QString& key, const QString& incomingPath);
    void stepperLoop();

    Options options;
    // An SSLServer when a certificate is given.
    std::unique_ptr<httplib::Server> server;
    std::thread serverThread;
    std::thread stepper;
    quint16 port = 0;
    bool running = false;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    int stepMs = 0;
    int stepGeneration = 0;
    QElapsedTimer clock;
    std::unique_ptr<QTemporaryDir> tempDir;
    QString storage;
    QString domainOverride;
    QMap<Endpoint, QList<Fault>> faults;
    QMap<Endpoint, Canned> canned;
    QList<ServiceEmulator::RequestRecord> log;
    QList<ServiceEmulator::UploadRecord> uploads;
    QStringList keys;
    QMap<QString, QString> objects; // key -> file
    QMap<QString, StaticFile> statics;
    QMap<QString, QByteArray> thumbnails;
    std::map<QString, std::unique_ptr<SimulatedTask>> tasks;
    QStringList validUploadTokens;
    int tokenSerial = 0;
    int incomingSerial = 0;
};

ServiceEmulator::RequestRecord ServiceEmulator::Private::makeRecord(Endpoint endpoint, const httplib::Request& req,
                                                                    RawParams* params)
{
    RequestRecord record;
    record.endpoint = endpoint;
    record.method = QString::fromStdString(req.method);
    record.path = QString::fromStdString(req.path);
    const QByteArray target = bytes(req.target);
    const int q = target.indexOf('?');
    if (q >= 0)
        record.query = target.mid(q + 1);
    for (const auto& header : req.headers)
        record.headers.insert(QString::fromStdString(header.first).toLower(), QString::fromStdString(header.second));
    {
        std::lock_guard<std::mutex> lock(mutex);
        record.receivedMs = clock.elapsed();
    }
    if (endpoint == Endpoint::Upload)
        return record;
    record.body = bytes(req.body);
    const RawParams raw = record.method == QLatin1String("GET") ? splitRequestText(record.query, true)
                                                                : splitRequestText(record.body, false);
    for (const auto& p : raw)
        record.params.insert(QString::fromUtf8(p.first), QString::fromUtf8(p.second));
    if (params)
        *params = raw;
    return record;
}

QList<Fault> ServiceEmulator::Private::takeFaults(Endpoint endpoint)
{
    std::lock_guard<std::mutex> lock(mutex);
    QList<Fault> taken;
    QList<Fault>& list = faults[endpoint];
    for (int i = 0; i < list.size();) {
        taken.append(list.at(i));
        if (list[i].times > 0 && --list[i].times == 0) {
            list.removeAt(i);
            continue;
        }
        ++i;
    }
    return taken;
}

void ServiceEmulator::Private::sleepFor(int ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
}

void ServiceEmulator::Private::sendEndless(httplib::Response& res, qint64 paddingBytes)
{
    // Chunked, so that no length tells the client in advance how much is coming.
    res.status = 200;
    res.set_chunked_content_provider(kJsonType, [this, paddingBytes](size_t offset, httplib::DataSink& sink) {
        static const std::string head = R"({"code":0,"desc":")";
        static const std::string chunk(64 * 1024, 'x');
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                return false;
        }
        if (offset == 0)
            return sink.write(head.data(), head.size());
        const qint64 sent = qint64(offset - head.size());
        if (paddingBytes > 0 && sent >= paddingBytes) {
            sink.write("\"}", 2);
            sink.done();
            return true;
        }
        const size_t size =
            paddingBytes > 0 ? size_t(std::min<qint64>(qint64(chunk.size()), paddingBytes - sent)) : chunk.size();
        return sink.write(chunk.data(), size);
    });
}

bool ServiceEmulator::Private::applyTiming(const QList<Fault>& list, httplib::Response& res, RequestRecord& record)
{
    for (const Fault& f : list) {
        if (f.kind == Fault::Delay)
            sleepFor(f.value);
    }
    for (const Fault& f : list) {
        if (f.kind == Fault::Hang || f.kind == Fault::Drop) {
            // Logged on arrival, so that a test can see the exchange is being held.
            record.status = 0;
            appendLog(record);
            if (f.kind == Fault::Hang)
                sleepFor(f.value);
            dropConnection(res);
            return false;
        }
    }
    return true;
}

void ServiceEmulator::Private::appendLog(const RequestRecord& record)
{
    std::lock_guard<std::mutex> lock(mutex);
    log.append(record);
}

QJsonObject ServiceEmulator::Private::answer(Endpoint endpoint, const RawParams& params, bool* isCanned,
                                             Canned* cannedReply)
{
    const QByteArray t = paramValue(params, "t");
    const QByteArray uid = paramValue(params, "uid");
    const QByteArray s = paramValue(params, "s");
    const QByteArray token = paramValue(params, "token");
    const QString taskId = QString::fromUtf8(paramValue(params, "taskId"));

    std::lock_guard<std::mutex> lock(mutex);
    *isCanned = false;
    if (t.isEmpty() || s != ServiceEmulator::signatureFor(t, uid).toLatin1())
        return replyObject(10001, QStringLiteral("签名校验失败，请检查系统时间后重试"));
    if (token.isEmpty() || (!options.acceptedToken.isEmpty() && QString::fromUtf8(token) != options.acceptedToken))
        return replyObject(10002, QStringLiteral("登录已失效，请重新登录"));
    if (!options.acceptedUid.isEmpty() && QString::fromUtf8(uid) != options.acceptedUid)
        return replyObject(10003, QStringLiteral("用户不存在"));

    if (canned.contains(endpoint)) {
        *isCanned = true;
        *cannedReply = canned.value(endpoint);
        return cannedReply->isData ? successReply(cannedReply->data) : QJsonObject();
    }

    if (endpoint == Endpoint::UploadToken) {
        const QString uploadToken = QStringLiteral("emulator-upload-token-%1").arg(++tokenSerial);
        validUploadTokens.append(uploadToken);
        return successReply(
            QJsonObject{{QStringLiteral("token"), uploadToken}, {QStringLiteral("domain"), domainLocked()}});
    }
    if (taskId.isEmpty())
        return replyObject(10004, QStringLiteral("缺少参数：taskId"));
    SimulatedTask& simulated = task(taskId);
    switch (endpoint) {
    case Endpoint::Analyse: {
        const QString url = QString::fromUtf8(paramValue(params, "imageUrl"));
        if (url.isEmpty())
            return replyObject(10005, QStringLiteral("缺少参数：imageUrl"));
        simulated.announce(url);
        return successReply(true);
    }
    case Endpoint::PaperStatus:
        return successReply(simulated.paperStatusData());
    case Endpoint::ZeroProofread:
        return successReply(simulated.zeroProofreadData());
    case Endpoint::ReplenishStudents:
        return successReply(simulated.replenishStudentsData());
    case Endpoint::PaperStatusWithPage:
        return successReply(simulated.paperStatusWithPageData(baseUrl() + "/thumbs/" + taskId + "/"));
    case Endpoint::AnswerInfo: {
        QJsonObject data;
        if (!simulated.answerInfoData(QString::fromUtf8(paramValue(params, "studentId")), &data))
            return replyObject(10006, QStringLiteral("未找到该学生的答题信息"));
        return successReply(data);
    }
    default:
        return replyObject(404, QStringLiteral("接口不存在"));
    }
}

void ServiceEmulator::Private::handleApi(Endpoint endpoint, bool expectGet, const httplib::Request& req,
                                         httplib::Response& res)
{
    RawParams params;
    RequestRecord record = makeRecord(endpoint, req, &params);
    if ((req.method == "GET") != expectGet) {
        res.status = 405;
        res.set_content("method not allowed", "text/plain");
        record.status = 405;
        appendLog(record);
        return;
    }
    const QList<Fault> list = takeFaults(endpoint);
    if (!applyTiming(list, res, record))
        return;

    bool isCanned = false;
    Canned cannedReply;
    bool refused = false;
    for (const Fault& f : list)
        refused = refused || f.kind == Fault::CodeNonZero;
    // A service that answers with an error code did nothing: an announcement it refused is not counted.
    QJsonObject reply = refused ? QJsonObject() : answer(endpoint, params, &isCanned, &cannedReply);
    QByteArray body;
    QByteArray contentType = kJsonType;
    bool isObject = true;
    if (isCanned && !cannedReply.isData) {
        body = cannedReply.body;
        contentType = cannedReply.contentType;
        const QJsonDocument doc = QJsonDocument::fromJson(body);
        isObject = doc.isObject();
        reply = doc.object();
    }

    // A raw canned body goes out byte for byte unless a fault rewrites its "code".
    bool rewrite = !isCanned || cannedReply.isData;
    for (const Fault& f : list) {
        if (f.kind == Fault::CodeNonZero && isObject) {
            reply.insert(QStringLiteral("code"), f.value != 0 ? f.value : 500);
            reply.insert(QStringLiteral("desc"), QStringLiteral("服务器繁忙，请稍后再试"));
            reply.remove(QStringLiteral("data"));
            rewrite = true;
        }
    }
    for (const Fault& f : list) {
        if (f.kind == Fault::CodeMissing && isObject) {
            reply.remove(QStringLiteral("code"));
            rewrite = true;
        }
    }
    if (isObject) {
        record.code = reply.contains(QStringLiteral("code")) ? reply.value(QStringLiteral("code")).toInt() : -1;
        if (rewrite)
            body = compactJson(reply);
    }
    int status = 200;
    for (const Fault& f : list) {
        switch (f.kind) {
        case Fault::JsonArray:
            body = "[" + body + "]";
            break;
        case Fault::NonJson:
            body = "<html>service unavailable</html>";
            contentType = "text/html";
            break;
        case Fault::EmptyBody:
            body.clear();
            break;
        case Fault::HttpStatus:
            status = f.value;
            break;
        default:
            break;
        }
    }
    for (const Fault& f : list) {
        if (f.kind == Fault::PercentEncoded)
            body = body.toPercentEncoding();
    }
    for (const Fault& f : list) {
        if (f.kind == Fault::Endless) {
            sendEndless(res, qint64(f.value) * 1024);
            record.status = 200;
            appendLog(record);
            return;
        }
    }
    res.status = status;
    res.set_content(stdString(body), contentType.constData());
    record.status = status;
    appendLog(record);
}

QString ServiceEmulator::Private::storeIncoming(const QString& key, const QString& incomingPath)
{
    const QString target = storage + QStringLiteral("/objects/") + key;
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    if (!QFile::rename(incomingPath, target))
        return QString();
    return target;
}

void ServiceEmulator::Private::handleUpload(const httplib::Request& req, httplib::Response& res,
                                            const httplib::ContentReader& reader)
{
    RequestRecord record = makeRecord(Endpoint::Upload, req, nullptr);
    UploadRecord upload;
    upload.contentType = bytes(req.get_header_value("Content-Type"));

    QString incomingPath;
    {
        std::lock_guard<std::mutex> lock(mutex);
        incomingPath = storage + QStringLiteral("/incoming/%1.part").arg(++incomingSerial);
    }
    QDir().mkpath(storage + QStringLiteral("/incoming"));
    QFile incoming(incomingPath);
    bool fileSeen = false;
    bool writing = false;
    QByteArray value;
    QMap<QString, QByteArray> fields;
    auto finishPart = [&] {
        if (writing)
            incoming.close();
        else if (!upload.parts.isEmpty() && !fields.contains(upload.parts.last().name))
            fields.insert(upload.parts.last().name, value);
        writing = false;
        value.clear();
    };

    int status = 200;
    QByteArray reply;
    if (req.is_multipart_form_data()) {
        reader(
            [&](const httplib::MultipartFormData& part) {
                finishPart();
                UploadPart p;
                p.name = QString::fromStdString(part.name);
                p.fileName = QString::fromStdString(part.filename);
                p.contentType = QString::fromStdString(part.content_type);
                upload.parts.append(p);
                // Only the first "file" part becomes the object; the store ignores later ones.
                if (p.name == QLatin1String("file") && !fileSeen) {
                    fileSeen = true;
                    upload.fileName = p.fileName;
                    writing = incoming.open(QIODevice::WriteOnly | QIODevice::Truncate);
                }
                return true;
            },
            [&](const char* data, size_t length) {
                if (!upload.parts.isEmpty())
                    upload.parts.last().size += qint64(length);
                if (writing)
                    incoming.write(data, qint64(length));
                else if (value.size() < 65536)
                    value.append(data, int(length));
                return true;
            });
        finishPart();
        upload.token = QString::fromUtf8(fields.value(QStringLiteral("token")));
        upload.key = QString::fromUtf8(fields.value(QStringLiteral("key")));
    } else {
        reader([](const char*, size_t) { return true; });
        status = 400;
        reply = R"({"error":"multipart/form-data expected"})";
    }

    const QList<Fault> list = takeFaults(Endpoint::Upload);
    if (!applyTiming(list, res, record)) {
        QFile::remove(incomingPath);
        std::lock_guard<std::mutex> lock(mutex);
        uploads.append(upload);
        return;
    }
    int forced = 0;
    bool portal = false;
    for (const Fault& f : list) {
        if (f.kind == Fault::UploadStatus || f.kind == Fault::HttpStatus)
            forced = f.value;
        else if (f.kind == Fault::NonJson)
            portal = true;
    }

    QByteArray replyType = kJsonType;
    if (status == 200) {
        std::lock_guard<std::mutex> lock(mutex);
        if (portal) {
            // A captive portal's login page: 200 (or the forced status), HTML, nothing stored.
            status = forced != 0 ? forced : 200;
            reply = "<html><body>please log in to the network</body></html>";
            replyType = "text/html";
        } else if (forced != 0) {
            status = forced;
            reply = R"({"error":"injected failure"})";
        } else if (!fileSeen) {
            status = 400;
            reply = R"({"error":"file is required"})";
        } else if (!options.refusedFileName.isEmpty() && upload.fileName == options.refusedFileName) {
            // A file the store will never take, whatever the key or the token.
            status = 413;
            reply = R"({"error":"request entity too large"})";
        } else if (!validUploadTokens.contains(upload.token)) {
            status = 401;
            reply = R"({"error":"bad token"})";
        } else if (!isSafeKey(upload.key)) {
            status = 400;
            reply = R"({"error":"invalid key"})";
        } else if (objects.contains(upload.key)) {
            status = 614;
            reply = R"({"error":"file exists"})";
        } else {
            const QString path = storeIncoming(upload.key, incomingPath);
            if (path.isEmpty()) {
                status = 500;
                reply = R"({"error":"storage failure"})";
            } else {
                objects.insert(upload.key, path);
                keys.append(upload.key);
                // A canned body stands for the upload policy's own return body.
                if (canned.contains(Endpoint::Upload) && !canned.value(Endpoint::Upload).isData)
                    reply = canned.value(Endpoint::Upload).body;
                else
                    reply = compactJson(
                        QJsonObject{{QStringLiteral("hash"), objectHash(path)}, {QStringLiteral("key"), upload.key}});
            }
        }
    }
    if (status != 200)
        QFile::remove(incomingPath);
    upload.status = status;
    record.status = status;
    res.status = status;
    res.set_content(stdString(reply), replyType.constData());
    std::lock_guard<std::mutex> lock(mutex);
    uploads.append(upload);
    log.append(record);
}

void ServiceEmulator::Private::handleFile(const httplib::Request& req, httplib::Response& res)
{
    const QString path = QString::fromStdString(req.path);
    RequestRecord record = makeRecord(Endpoint::Files, req, nullptr);
    QByteArray body;
    QByteArray contentType;
    bool found = false;
    QString thumbnailSource;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const QString filesPrefix = QStringLiteral("/files/");
        const QString thumbsPrefix = QStringLiteral("/thumbs/");
        if (statics.contains(path)) {
            body = statics.value(path).bytes;
            contentType = statics.value(path).contentType;
            found = true;
        } else if (path.startsWith(filesPrefix) && objects.contains(path.mid(filesPrefix.size()))) {
            QFile file(objects.value(path.mid(filesPrefix.size())));
            found = file.open(QIODevice::ReadOnly);
            body = file.readAll();
            contentType = contentTypeFor(path);
        } else if (path.startsWith(thumbsPrefix) && path.endsWith(QLatin1String("_thumb.jpg"))) {
            contentType = "image/jpeg";
            if (thumbnails.contains(path)) {
                body = thumbnails.value(path);
                found = true;
            } else {
                const QStringList parts = path.mid(thumbsPrefix.size()).split(QLatin1Char('/'));
                if (parts.size() == 2 && tasks.count(parts.at(0))) {
                    const QString studentId = parts.at(1).chopped(int(strlen("_thumb.jpg")));
                    const QString pageUrl = tasks.at(parts.at(0))->firstPageUrl(studentId);
                    const QString domain = domainLocked();
                    if (!pageUrl.isEmpty()) {
                        found = true;
                        if (pageUrl.startsWith(domain))
                            thumbnailSource = objects.value(pageUrl.mid(domain.size()));
                    }
                }
            }
        }
    }
    if (found && body.isEmpty() && contentType == "image/jpeg" && path.startsWith(QLatin1String("/thumbs/"))) {
        // Scaling takes a few milliseconds: done outside the lock, then kept.
        QFile source(thumbnailSource);
        const QByteArray original = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
        body = AnswerSheetImage::thumbnail(original);
        std::lock_guard<std::mutex> lock(mutex);
        thumbnails.insert(path, body);
    }
    if (!found)
        record.endpoint = Endpoint::Other;

    const QList<Fault> list = takeFaults(record.endpoint);
    if (!applyTiming(list, res, record))
        return;
    int status = found ? 200 : 404;
    if (!found) {
        body = "not found";
        contentType = "text/plain";
    }
    for (const Fault& f : list) {
        if (f.kind == Fault::HttpStatus)
            status = f.value;
        else if (f.kind == Fault::EmptyBody)
            body.clear();
    }
    res.status = status;
    res.set_content(stdString(body), contentType.constData());
    record.status = status;
    appendLog(record);
}

void ServiceEmulator::Private::handleGet(const httplib::Request& req, httplib::Response& res)
{
    for (const ApiRoute& route : kApiRoutes) {
        if (req.path == route.path) {
            handleApi(route.endpoint, route.get, req, res);
            return;
        }
    }
    handleFile(req, res);
}

void ServiceEmulator::Private::handlePost(const httplib::Request& req, httplib::Response& res)
{
    for (const ApiRoute& route : kApiRoutes) {
        if (req.path == route.path) {
            handleApi(route.endpoint, route.get, req, res);
            return;
        }
    }
    RequestRecord record = makeRecord(Endpoint::Other, req, nullptr);
    record.status = 404;
    res.status = 404;
    res.set_content("not found", "text/plain");
    appendLog(record);
}

void ServiceEmulator::Private::stepperLoop()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        if (stepMs <= 0) {
            wake.wait(lock, [this] { return stopping || stepMs > 0; });
            continue;
        }
        const int generation = stepGeneration;
        const bool interrupted = wake.wait_for(lock, std::chrono::milliseconds(stepMs),
                                               [&] { return stopping || stepGeneration != generation; });
        if (interrupted)
            continue;
        for (auto& entry : tasks)
            entry.second->step();
    }
}

ServiceEmulator::ServiceEmulator() : ServiceEmulator(Options()) {}

ServiceEmulator::ServiceEmulator(const Options& options) : d(std::make_unique<Private>(options))
{
    if (options.storageDir.isEmpty()) {
        d->tempDir = std::make_unique<QTemporaryDir>();
        d->storage = d->tempDir->path();
    } else {
        d->storage = QDir(options.storageDir).absolutePath();
        QDir().mkpath(d->storage);
    }
    d->clock.start();

    // Hung exchanges and the client's keep-alive connections each hold a worker: more than the default few.
    d->server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    d->server->set_keep_alive_timeout(2);
    // The library closes a kept-alive connection after 5 requests by default: a worker sending hundreds of images
    // would then pay a new connection every fifth upload, which the real store does not make it do.
    d->server->set_keep_alive_max_count(100000);
    // Headers and body leave in separate writes: with Nagle on, a kept-alive client's delayed ACK holds every
    // reply body back by ~40 ms.
    d->server->set_tcp_nodelay(true);
    // The library's default adds SO_REUSEPORT, which would let two emulators share a port given with --port.
    d->server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
    });
    d->server->Get(".*", [this](const httplib::Request& req, httplib::Response& res) { d->handleGet(req, res); });
    d->server->Post(R"(/upload/?|/)",
                    [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                        d->handleUpload(req, res, reader);
                    });
    d->server->Post(".*", [this](const httplib::Request& req, httplib::Response& res) { d->handlePost(req, res); });
}

ServiceEmulator::~ServiceEmulator()
{
    stop();
}

bool ServiceEmulator::start()
{
    if (d->running)
        return true;
    // An SSLServer whose certificate or key could not be read.
    if (!d->server->is_valid())
        return false;
    int bound = -1;
    if (d->options.port != 0)
        bound = d->server->bind_to_port("127.0.0.1", d->options.port) ? d->options.port : -1;
    else
        bound = d->server->bind_to_any_port("127.0.0.1");
    if (bound <= 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->port = quint16(bound);
        d->stopping = false;
    }
    d->serverThread = std::thread([this] { d->server->listen_after_bind(); });
    // stop() is ignored until the listening thread has marked the server running; wait for that.
    QElapsedTimer waited;
    waited.start();
    while (!d->server->is_running() && waited.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->running = true;
    d->stepper = std::thread([this] { d->stepperLoop(); });
    return d->server->is_running();
}

void ServiceEmulator::stop()
{
    if (!d->running)
        return;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_all();
    d->server->stop();
    if (d->serverThread.joinable())
        d->serverThread.join();
    if (d->stepper.joinable())
        d->stepper.join();
    d->running = false;
}

bool ServiceEmulator::isRunning() const
{
    return d->running && d->server->is_running();
}

quint16 ServiceEmulator::port() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->port;
}

QString ServiceEmulator::baseUrl() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->baseUrl();
}

QString ServiceEmulator::uploadUrl() const
{
    return baseUrl() + QStringLiteral("/upload");
}

QString ServiceEmulator::domain() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->domainLocked();
}

QString ServiceEmulator::storageDir() const
{
    return d->storage;
}

const ServiceEmulator::Options& ServiceEmulator::options() const
{
    return d->options;
}

void ServiceEmulator::setAcceptedToken(const QString& token)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->options.acceptedToken = token;
}

void ServiceEmulator::setAcceptedUid(const QString& uid)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->options.acceptedUid = uid;
}

void ServiceEmulator::setDomainOverride(const QString& domain)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->domainOverride = domain;
}

void ServiceEmulator::setStepMs(int ms)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stepMs = ms;
        d->options.stepMs = ms;
        ++d->stepGeneration;
    }
    d->wake.notify_all();
}

void ServiceEmulator::setRefusedFileName(const QString& name)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->options.refusedFileName = name;
}

void ServiceEmulator::addFault(Endpoint endpoint, const Fault& fault)
{
    if (fault.times == 0)
        return;
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults[endpoint].append(fault);
}

void ServiceEmulator::clearFaults(Endpoint endpoint)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults.remove(endpoint);
}

void ServiceEmulator::clearAllFaults()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults.clear();
}

void ServiceEmulator::setCannedData(Endpoint endpoint, const QJsonObject& data)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Private::Canned c;
    c.isData = true;
    c.data = data;
    d->canned.insert(endpoint, c);
}

void ServiceEmulator::setCannedBody(Endpoint endpoint, const QByteArray& body, const QByteArray& contentType)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Private::Canned c;
    c.body = body;
    c.contentType = contentType;
    d->canned.insert(endpoint, c);
}

void ServiceEmulator::clearCanned(Endpoint endpoint)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->canned.remove(endpoint);
}

QList<ServiceEmulator::RequestRecord> ServiceEmulator::requestLog() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->log;
}

QList<ServiceEmulator::RequestRecord> ServiceEmulator::requests(Endpoint endpoint) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    QList<RequestRecord> matching;
    for (const RequestRecord& r : d->log) {
        if (r.endpoint == endpoint)
            matching.append(r);
    }
    return matching;
}

int ServiceEmulator::requestCount(Endpoint endpoint) const
{
    return requests(endpoint).size();
}

int ServiceEmulator::requestCount(const QString& path) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    int n = 0;
    for (const RequestRecord& r : d->log)
        n += r.path == path ? 1 : 0;
    return n;
}

void ServiceEmulator::clearRequestLog()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->log.clear();
    d->uploads.clear();
}

QList<ServiceEmulator::UploadRecord> ServiceEmulator::uploads() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->uploads;
}

QStringList ServiceEmulator::storedKeys() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->keys;
}

bool ServiceEmulator::hasObject(const QString& key) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->objects.contains(key);
}

QByteArray ServiceEmulator::objectBytes(const QString& key) const
{
    const QString path = objectPath(key);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString ServiceEmulator::objectPath(const QString& key) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->objects.value(key);
}

bool ServiceEmulator::storeObject(const QString& key, const QByteArray& data)
{
    if (!isSafeKey(key) || hasObject(key))
        return false;
    QString incomingPath;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        incomingPath = d->storage + QStringLiteral("/incoming/%1.part").arg(++d->incomingSerial);
    }
    QDir().mkpath(d->storage + QStringLiteral("/incoming"));
    QFile file(incomingPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return false;
    file.close();
    std::lock_guard<std::mutex> lock(d->mutex);
    const QString path = d->storeIncoming(key, incomingPath);
    if (path.isEmpty())
        return false;
    d->objects.insert(key, path);
    d->keys.append(key);
    return true;
}

QString ServiceEmulator::currentUploadToken() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->validUploadTokens.isEmpty() ? QString() : d->validUploadTokens.last();
}

void ServiceEmulator::revokeUploadTokens()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->validUploadTokens.clear();
}

void ServiceEmulator::addStaticFile(const QString& path, const QByteArray& data, const QByteArray& contentType)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->statics.insert(path, Private::StaticFile{data, contentType});
}

void ServiceEmulator::advance(int steps)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (int i = 0; i < steps; ++i) {
        for (auto& entry : d->tasks)
            entry.second->step();
    }
}

void ServiceEmulator::finishAnalysis(const QString& taskId)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->task(taskId).finish();
}

void ServiceEmulator::announce(const QString& taskId, const QString& imageUrl)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->task(taskId).announce(imageUrl);
}

void ServiceEmulator::seedDemo(const QString& taskId, const QString& uid)
{
    // 12 students with 1, 2 or 3 pages, then one whose second page failed and one whose only page failed.
    struct Seed
    {
        int pages;
        QList<int> failed;
    };
    QList<Seed> seeds;
    for (int i = 0; i < 12; ++i)
        seeds.append(Seed{i % 3 + 1, {}});
    seeds.append(Seed{2, {1}});
    seeds.append(Seed{1, {0}});

    int first = 0;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        first = d->task(taskId).studentIds().size();
    }
    qint64 ms = 1764547200000;
    for (int s = 0; s < seeds.size(); ++s) {
        const int index = first + s;
        QStringList urls;
        for (int page = 1; page <= seeds.at(s).pages; ++page) {
            const QByteArray jpeg = AnswerSheetImage::render(SimulatedTask::studentName(index), page, seeds.at(s).pages,
                                                             SimulatedTask::scoreText(index));
            QString key;
            do {
                ms += 1371;
                key = QStringLiteral("paper/origin/%1/%2/%3.jpg").arg(uid, taskId).arg(ms);
            } while (!storeObject(key, jpeg) && hasObject(key));
            urls.append(domain() + key);
        }
        std::lock_guard<std::mutex> lock(d->mutex);
        d->task(taskId).addAnalysedStudent(urls, seeds.at(s).failed);
    }
}

ServiceEmulator::TaskCounts ServiceEmulator::counts(const QString& taskId) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    TaskCounts c;
    auto it = d->tasks.find(taskId);
    if (it == d->tasks.end())
        return c;
    const SimulatedTask& t = *it->second;
    c.uploaded = t.uploadedCount();
    c.analyseFailed = t.failedCount();
    c.proofread = t.proofreadCount();
    c.pending = t.pendingCount();
    c.analysedStudents = t.analysedStudentCount();
    c.failedStudents = t.failedStudentCount();
    return c;
}

QStringList ServiceEmulator::studentIds(const QString& taskId) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    auto it = d->tasks.find(taskId);
    return it == d->tasks.end() ? QStringList() : it->second->studentIds();
}

QString ServiceEmulator::endpointName(Endpoint endpoint)
{
    for (const EndpointName& e : kEndpointNames) {
        if (e.endpoint == endpoint)
            return QString::fromLatin1(e.name);
    }
    return QString();
}

bool ServiceEmulator::endpointFromName(const QString& name, Endpoint* endpoint)
{
    for (const EndpointName& e : kEndpointNames) {
        if (name == QLatin1String(e.name)) {
            *endpoint = e.endpoint;
            return true;
        }
    }
    return false;
}

bool ServiceEmulator::faultFromText(const QString& text, Fault* fault)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.isEmpty() || parts.size() > 3)
        return false;
    Fault parsed;
    bool known = false;
    for (const FaultName& f : kFaultNames) {
        if (parts.at(0) == QLatin1String(f.name)) {
            parsed.kind = f.kind;
            known = true;
        }
    }
    if (!known)
        return false;
    bool ok = true;
    if (parts.size() > 1)
        parsed.value = parts.at(1).toInt(&ok);
    if (ok && parts.size() > 2)
        parsed.times = parts.at(2).toInt(&ok);
    if (!ok || parsed.times == 0 || parsed.value < 0)
        return false;
    const bool needsValue = parsed.kind == Fault::Delay || parsed.kind == Fault::Hang ||
                            parsed.kind == Fault::HttpStatus || parsed.kind == Fault::UploadStatus;
    if (needsValue && parts.size() < 2)
        return false;
    *fault = parsed;
    return true;
}

QString ServiceEmulator::signatureFor(const QByteArray& t, const QByteArray& uid)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayLiteral("7.3.2DesktopKorvex") + t + uid, QCryptographicHash::Md5).toHex());
}
