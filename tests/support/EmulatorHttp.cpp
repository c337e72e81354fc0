#include "EmulatorHttp.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSignalSpy>

namespace {

EmulatorHttp::Reply finish(QNetworkReply* reply, const QElapsedTimer& timer, int waitMs)
{
    EmulatorHttp::Reply result;
    QSignalSpy finished(reply, &QNetworkReply::finished);
    result.finished = reply->isFinished() || finished.wait(waitMs);
    result.elapsedMs = timer.elapsed();
    if (!result.finished) {
        reply->abort();
        return result;
    }
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.error = reply->error();
    return result;
}

} // namespace

namespace EmulatorHttp {

QByteArray commonQuery(const QByteArray& uid, const QByteArray& token, qint64 t)
{
    const QByteArray time = QByteArray::number(t);
    // Signed here, independently of the emulator's own check.
    const QByteArray signature =
        QCryptographicHash::hash("7.3.2DesktopKorvex" + time + uid, QCryptographicHash::Md5).toHex();
    return "userType=1&uid=" + uid + "&v=5.1.0&f=windows&t=" + time + "&token=" + token + "&s=" + signature;
}

Reply get(const QString& url, int transferTimeoutMs, int waitMs)
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    if (transferTimeoutMs > 0)
        request.setTransferTimeout(transferTimeoutMs);
    QElapsedTimer timer;
    timer.start();
    QNetworkReply* reply = manager.get(request);
    return finish(reply, timer, waitMs);
}

Reply post(const QString& url, const QByteArray& body, int transferTimeoutMs, int waitMs)
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    if (transferTimeoutMs > 0)
        request.setTransferTimeout(transferTimeoutMs);
    QElapsedTimer timer;
    timer.start();
    QNetworkReply* reply = manager.post(request, body);
    return finish(reply, timer, waitMs);
}

Reply postMultipart(const QString& url, QHttpMultiPart* multipart, int waitMs)
{
    QNetworkAccessManager manager;
    QElapsedTimer timer;
    timer.start();
    QNetworkReply* reply = manager.post(QNetworkRequest{QUrl(url)}, multipart);
    multipart->setParent(reply);
    return finish(reply, timer, waitMs);
}

Reply upload(const QString& url, const QByteArray& token, const QByteArray& key, const QString& fileName,
             const QByteArray& content)
{
    auto* multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart tokenPart;
    tokenPart.setHeader(QNetworkRequest::ContentDispositionHeader, QByteArrayLiteral("form-data; name=\"token\""));
    tokenPart.setBody(token);
    QHttpPart keyPart;
    keyPart.setHeader(QNetworkRequest::ContentDispositionHeader, QByteArrayLiteral("form-data; name=\"key\""));
    keyPart.setBody(key);
    QHttpPart filePart;
    filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QByteArray("form-data; name=\"file\"; filename=\"" + fileName.toUtf8() + "\""));
    filePart.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    filePart.setBody(content);
    multipart->append(tokenPart);
    multipart->append(keyPart);
    multipart->append(filePart);
    return postMultipart(url, multipart, 30000);
}

} // namespace EmulatorHttp
