#include "service/BaseAPI.h"

#include <atomic>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include "service/ServiceReplies.h"

namespace {

std::atomic<int> s_transferTimeout{30000};
std::atomic<int> s_inactivityTimeout{30000};

bool isSuccessStatus(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return false;
    const int code = status.toInt();
    return code >= 200 && code < 300;
}

} // namespace

BaseAPI::BaseAPI() : QObject(nullptr), request(QUrl()), reply(nullptr), file(nullptr) {}

BaseAPI::~BaseAPI()
{
    disconnect(&manager, nullptr, nullptr, nullptr);
    delete file;
}

void BaseAPI::setTransferTimeout(int msecs)
{
    s_transferTimeout = msecs;
}

int BaseAPI::transferTimeout()
{
    return s_transferTimeout;
}

void BaseAPI::setInactivityTimeout(int msecs)
{
    s_inactivityTimeout = msecs;
}

int BaseAPI::inactivityTimeout()
{
    return s_inactivityTimeout;
}

void BaseAPI::get(QString url, QJsonObject& result)
{
    request.setUrl(QUrl(url));
    reply = manager.get(request);
    result = waitForJson(reply);
    reply->deleteLater();
}

void BaseAPI::post(QString url, const QByteArray& body, QJsonObject& result)
{
    request.setUrl(QUrl(url));
    // The form type is what the network library sends anyway; naming it spares a warning per call.
    QNetworkRequest formRequest(request);
    formRequest.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    // Stays a child of the manager and goes with it.
    QNetworkReply* pending = manager.post(formRequest, body);
    result = waitForJson(pending);
}

QJsonObject BaseAPI::waitForJson(QNetworkReply* pending)
{
    // A timed-out reply carries whatever arrived before the abort; it must not count as an answer.
    if (!waitForFinished(pending, s_transferTimeout, false))
        return QJsonObject();
    return ServiceReplies::decode(pending->readAll());
}

bool BaseAPI::waitForFinished(QNetworkReply* pending, int timeoutMsecs, bool restartOnProgress)
{
    QEventLoop loop;
    connect(&manager, &QNetworkAccessManager::finished, &loop, &QEventLoop::quit);

    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, pending, [&timedOut, pending] {
        timedOut = true;
        pending->abort();
    });
    if (restartOnProgress)
        connect(pending, &QNetworkReply::downloadProgress, &timer,
                [&timer, timeoutMsecs] { timer.start(timeoutMsecs); });
    timer.start(timeoutMsecs);

    if (!pending->isFinished())
        loop.exec();
    return !timedOut;
}

void BaseAPI::download(QString url, QString filePath)
{
    delete file;
    file = nullptr;
    m_downloadOk = false;

    // Written beside the target and moved into place only when complete, so a broken transfer never leaves a
    // partial image under the real name (which would then count as fetched).
    const QFileInfo target(filePath);
    const QString partPath = target.absolutePath() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.') +
                             QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".part");
    file = new QFile(partPath);
    if (!file->open(QIODevice::WriteOnly))
        return;

    request.setUrl(QUrl(url));
    reply = manager.get(request);
    connect(reply, &QNetworkReply::readyRead, this, &BaseAPI::onReadyRead);
    connect(&manager, &QNetworkAccessManager::finished, this, &BaseAPI::replyFinished);
    const bool inTime = waitForFinished(reply, s_inactivityTimeout, true);
    disconnect(&manager, &QNetworkAccessManager::finished, this, &BaseAPI::replyFinished);

    if (inTime && m_downloadOk) {
        // QFile::rename does not replace an existing file.
        if (QFile::exists(filePath))
            QFile::remove(filePath);
        if (!file->rename(filePath))
            file->remove();
    } else {
        file->remove();
    }
    delete file;
    file = nullptr;
}

void BaseAPI::onReadyRead()
{
    if (!reply || !file)
        return;
    const QByteArray chunk = reply->readAll();
    if (file->write(chunk) != chunk.size())
        reply->abort();
}

void BaseAPI::replyFinished(QNetworkReply* finished)
{
    if (file && file->isOpen()) {
        if (finished == reply && finished->bytesAvailable() > 0)
            onReadyRead();
        m_downloadOk = finished->error() == QNetworkReply::NoError && isSuccessStatus(finished) &&
                       file->error() == QFileDevice::NoError;
        file->close();
        m_downloadOk = m_downloadOk && file->error() == QFileDevice::NoError;
    }
    finished->deleteLater();
}
