#include <QJsonArray>
#include <QJsonDocument>

#include "EmulatorPrivate.h"

using namespace EmulatorDetail;

namespace {

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

} // namespace

namespace EmulatorDetail {

const char kJsonType[] = "application/json;charset=UTF-8";

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

} // namespace EmulatorDetail

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
