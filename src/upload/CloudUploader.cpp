#include "upload/CloudUploader.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "core/SecureTransport.h"
#include "core/Settings.h"
#include "upload/UploadSocket.h"

namespace {

struct GlobalState
{
    QUrl uploadUrl;
};

int s_clientCount = 0;
GlobalState* s_global = nullptr;

void globalInit()
{
    s_global = new GlobalState{QUrl(Settings::uploadHost())};
}

void globalCleanup()
{
    delete s_global;
    s_global = nullptr;
}

// Counted on construction, so that the first client sets up and the last one tears down.
void addClient()
{
    if (s_clientCount++ == 0)
        globalInit();
}

void removeClient()
{
    if (--s_clientCount == 0)
        globalCleanup();
}

QHttpPart textPart(const char* name, const QString& value)
{
    QHttpPart part;
    const QByteArray disposition = QByteArray("form-data; name=\"") + name + QByteArray("\"");
    part.setHeader(QNetworkRequest::ContentDispositionHeader, disposition);
    part.setBody(value.toUtf8());
    return part;
}

// A quote or a line end in a file name would end the header value early; browsers escape them the same way.
QByteArray headerSafe(const QString& fileName)
{
    QByteArray bytes = fileName.toUtf8();
    bytes.replace('"', "%22");
    bytes.replace('\r', "%0D");
    bytes.replace('\n', "%0A");
    return bytes;
}

} // namespace

CloudUploader::CloudUploader(int timeoutMs) : m_timeoutMs(timeoutMs)
{
    addClient();
    m_uploadUrl = s_global->uploadUrl;
}

CloudUploader::CloudUploader(const QUrl& uploadUrl, int timeoutMs) : m_uploadUrl(uploadUrl), m_timeoutMs(timeoutMs)
{
    addClient();
}

CloudUploader::~CloudUploader()
{
    m_manager.reset();
    removeClient();
}

int CloudUploader::clientCount()
{
    return s_clientCount;
}

QUrl CloudUploader::globalUploadUrl()
{
    return s_global ? s_global->uploadUrl : QUrl();
}

QNetworkAccessManager* CloudUploader::manager()
{
    if (!m_manager)
        m_manager = std::make_unique<QNetworkAccessManager>();
    return m_manager.get();
}

int CloudUploader::putFile(const QString& uploadToken, const QString& key, const QString& localPath)
{
    QHttpMultiPart multiPart(QHttpMultiPart::FormDataType);
    // The part reads the file as the request goes out: a large image is never held in memory whole.
    auto* file = new QFile(localPath, &multiPart);
    if (!file->open(QIODevice::ReadOnly))
        return FileUnreadable;

    multiPart.append(textPart("token", uploadToken));
    multiPart.append(textPart("key", key));
    QHttpPart filePart;
    const QByteArray disposition = QByteArray("form-data; name=\"file\"; filename=\"") +
                                   headerSafe(QFileInfo(localPath).fileName()) + QByteArray("\"");
    filePart.setHeader(QNetworkRequest::ContentDispositionHeader, disposition);
    filePart.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/octet-stream"));
    filePart.setBodyDevice(file);
    multiPart.append(filePart);

    QNetworkRequest request(m_uploadUrl);
    request.setTransferTimeout(m_timeoutMs);
    // The connection kept alive from the last upload, if any, is the one this request goes out on.
    UploadSocket::sendWithoutDelay(
        quint16(m_uploadUrl.port(m_uploadUrl.scheme() == QLatin1String("https") ? 443 : 80)));
    std::unique_ptr<QNetworkReply> reply(manager()->post(request, &multiPart));
    SecureTransport::watch(reply.get());
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    if (SecureTransport::failedSecurely(reply.get()))
        return SecureConnectionFailed;
    // The store's answer is the HTTP status, also when Qt reports it as an error (614 comes with
    // UnknownServerError). Errors below ContentAccessDenied are the network's own (refused, closed early, timed
    // out): whatever status line may have arrived, the exchange did not complete, so the file counts as not stored
    // and is sent again rather than deleted on a half answer.
    if (reply->error() != QNetworkReply::NoError && reply->error() < QNetworkReply::ContentAccessDenied)
        return NotStored;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return NotStored;
    // The form upload answers {"hash":...,"key":...}, or whatever JSON body the upload policy asks for (a custom
    // return body, a callback's answer), which need not name the key. A 200 that is no JSON object (a captive
    // portal's page), names another key or reports an error came from something else and stored nothing.
    if (status.toInt() == Stored) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(reply->readAll(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return Unconfirmed;
        // The store's own failures say "error".
        const QJsonObject body = document.object();
        const QJsonValue storedKey = body.value(QStringLiteral("key"));
        if (body.contains(QStringLiteral("error")) ||
            (!storedKey.isUndefined() && (!storedKey.isString() || storedKey.toString() != key)))
            return Unconfirmed;
    }
    return status.toInt();
}
