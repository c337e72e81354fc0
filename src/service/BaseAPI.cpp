#include "service/BaseAPI.h"

#include <atomic>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QNetworkReply>
#include <QPointer>
#include <QThread>
#include <QThreadStorage>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include "core/AppLog.h"
#include "core/SecureTransport.h"
#include "service/ServiceReplies.h"

namespace {

std::atomic<int> s_transferTimeout{30000};
std::atomic<int> s_inactivityTimeout{30000};
std::atomic<int> s_downloadDeadline{2 * 60 * 1000};
std::atomic<qint64> s_downloadSizeLimit{64 * 1024 * 1024};

const char kPartSuffix[] = ".part";

QString partPathFor(const QString& filePath)
{
    const QFileInfo target(filePath);
    return target.absolutePath() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.') +
           QUuid::createUuid().toString(QUuid::Id128) + QLatin1String(kPartSuffix);
}

bool isSuccessStatus(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return false;
    const int code = status.toInt();
    return code >= 200 && code < 300;
}

// A failed exchange leaves Qt's own error text and the HTTP status in the log. The query (which carries the token)
// is left out, also where Qt's text repeats the whole URL.
void logFailure(QNetworkReply* reply, bool cut)
{
    const QUrl url = reply->url();
    const QString shown = url.toString(QUrl::RemoveQuery | QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    QString error = cut ? QStringLiteral("abandoned at its time or size limit") : reply->errorString();
    error.replace(url.toString(), shown);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    AppLog::write(QStringLiteral("request failed: ") + shown + QStringLiteral(": ") + AppLog::redactToken(error) +
                  QStringLiteral(" (HTTP status ") +
                  (status.isValid() ? QString::number(status.toInt()) : QStringLiteral("none")) + QLatin1Char(')'));
}

// The manager of one thread. The GUI thread's goes with the application object; another thread's when it ends.
class ThreadManager
{
public:
    ~ThreadManager() { delete m_manager; }

    QNetworkAccessManager& get()
    {
        if (!m_manager) {
            QCoreApplication* application = QCoreApplication::instance();
            const bool guiThread = application && application->thread() == QThread::currentThread();
            m_manager = new QNetworkAccessManager(guiThread ? application : nullptr);
        }
        return *m_manager;
    }

private:
    QPointer<QNetworkAccessManager> m_manager;
};

QNetworkAccessManager& threadManager()
{
    static QThreadStorage<ThreadManager*> managers;
    if (!managers.hasLocalData())
        managers.setLocalData(new ThreadManager());
    return managers.localData()->get();
}

} // namespace

BaseAPI::BaseAPI() : QObject(nullptr), request(QUrl()), manager(threadManager()), reply(nullptr), file(nullptr) {}

BaseAPI::~BaseAPI()
{
    // The manager serves the thread's other calls: only this call's connections go.
    disconnect(&manager, nullptr, this, nullptr);
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

void BaseAPI::setDownloadDeadline(int msecs)
{
    s_downloadDeadline = msecs;
}

void BaseAPI::setDownloadSizeLimit(qint64 bytes)
{
    s_downloadSizeLimit = bytes;
}

bool BaseAPI::refuses(const QString& url)
{
    const QUrl parsed(url, QUrl::TolerantMode);
    const QString scheme = parsed.scheme().toLower();
    if (parsed.isValid() && !parsed.host().isEmpty() &&
        (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
        return false;
    AppLog::write(QStringLiteral("refused to fetch a URL that is not http or https: ") + url.left(200));
    return true;
}

void BaseAPI::removeStalePartFiles(const QString& folder)
{
    // Named "." + target name + "." + 32 hex digits + ".part" by download().
    const QStringList parts =
        QDir(folder).entryList({QStringLiteral(".*.") + QLatin1String(kPartSuffix).mid(1)}, QDir::Files | QDir::Hidden);
    for (const QString& name : parts) {
        const QString stem = name.left(name.size() - int(qstrlen(kPartSuffix)));
        const int dot = stem.lastIndexOf(QLatin1Char('.'));
        if (dot > 0 && stem.size() - dot - 1 == 32)
            QFile::remove(QDir(folder).filePath(name));
    }
}

void BaseAPI::get(QString url, QJsonObject& result)
{
    if (refuses(url)) {
        result = QJsonObject();
        return;
    }
    request.setUrl(QUrl(url));
    reply = manager.get(request);
    result = waitForJson(reply);
    reply->deleteLater();
}

void BaseAPI::post(QString url, const QByteArray& body, QJsonObject& result)
{
    if (refuses(url)) {
        result = QJsonObject();
        return;
    }
    request.setUrl(QUrl(url));
    // The form type is what the network library sends anyway; naming it spares a warning per call.
    QNetworkRequest formRequest(request);
    formRequest.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* pending = manager.post(formRequest, body);
    result = waitForJson(pending);
    pending->deleteLater();
}

bool BaseAPI::lastStatusWasSuccess() const
{
    return m_lastStatusWasSuccess;
}

bool BaseAPI::lastDownloadStored() const
{
    return m_downloadStored;
}

bool BaseAPI::lastRequestWentUnanswered() const
{
    return m_lastRequestWentUnanswered;
}

QJsonObject BaseAPI::waitForJson(QNetworkReply* pending)
{
    m_lastStatusWasSuccess = false;
    m_lastRequestWentUnanswered = false;
    // A reply cut by a bound carries whatever arrived before the abort; it must not count as an answer.
    if (!waitForFinished(pending, Bounds{0, s_transferTimeout, ReplySizeLimit})) {
        logFailure(pending, true);
        m_lastRequestWentUnanswered = true;
        return QJsonObject();
    }
    // A network error (below the HTTP ones) after the request could be sent: the answer, or part of it, was lost.
    const QNetworkReply::NetworkError error = pending->error();
    if (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) {
        switch (error) {
        case QNetworkReply::ConnectionRefusedError:
        case QNetworkReply::HostNotFoundError:
        case QNetworkReply::ProxyConnectionRefusedError:
        case QNetworkReply::ProxyNotFoundError:
        case QNetworkReply::SslHandshakeFailedError:
        case QNetworkReply::ProtocolUnknownError:
            break;
        default:
            m_lastRequestWentUnanswered = true;
        }
    }
    m_lastStatusWasSuccess = isSuccessStatus(pending);
    if (pending->error() != QNetworkReply::NoError || !m_lastStatusWasSuccess)
        logFailure(pending, false);
    return ServiceReplies::decode(pending->readAll());
}

bool BaseAPI::waitForFinished(QNetworkReply* pending, const Bounds& bounds)
{
    bool aborted = false;
    const auto cut = [&aborted, pending] {
        aborted = true;
        pending->abort();
    };

    // Its certificate errors arrive through this thread's loop, so they are seen before it finishes.
    SecureTransport::watch(pending);
    QEventLoop loop;
    // Only this reply ends the wait: a reply of an earlier exchange finishing late must not cut this one short.
    connect(pending, &QNetworkReply::finished, &loop, &QEventLoop::quit);

    QTimer total;
    total.setSingleShot(true);
    connect(&total, &QTimer::timeout, pending, cut);
    total.start(bounds.totalMsecs);

    QTimer idle;
    idle.setSingleShot(true);
    if (bounds.idleMsecs > 0) {
        connect(&idle, &QTimer::timeout, pending, cut);
        idle.start(bounds.idleMsecs);
    }
    // A length announced in the headers past the bound is refused before any of the body is read.
    connect(pending, &QNetworkReply::metaDataChanged, &loop, [pending, &bounds, cut] {
        if (pending->header(QNetworkRequest::ContentLengthHeader).toLongLong() > bounds.maxBytes)
            cut();
    });
    connect(pending, &QNetworkReply::downloadProgress, &loop, [&idle, &bounds, cut](qint64 received, qint64 announced) {
        if (received > bounds.maxBytes || announced > bounds.maxBytes) {
            cut();
            return;
        }
        if (bounds.idleMsecs > 0)
            idle.start(bounds.idleMsecs);
    });

    if (!pending->isFinished() && !aborted)
        loop.exec();
    // A refused certificate fails like a network error; it is logged with the reason.
    if (!aborted)
        SecureTransport::failedSecurely(pending);
    return !aborted;
}

void BaseAPI::download(QString url, QString filePath)
{
    delete file;
    file = nullptr;
    m_downloadOk = false;
    m_downloadStored = false;
    m_written = 0;
    if (refuses(url))
        return;

    // Written beside the target and moved into place only when complete, so a broken transfer never leaves a
    // partial image under the real name (which would then count as fetched).
    file = new QFile(partPathFor(filePath));
    if (!file->open(QIODevice::WriteOnly))
        return;

    request.setUrl(QUrl(url));
    reply = manager.get(request);
    QNetworkReply* pending = reply;
    // The body goes to the file as it comes: the network thread need not run ahead of it.
    pending->setReadBufferSize(1024 * 1024);
    connect(pending, &QNetworkReply::readyRead, this, &BaseAPI::onReadyRead);
    connect(pending, &QNetworkReply::finished, this, [this, pending] { replyFinished(pending); });
    const bool inBounds =
        waitForFinished(pending, Bounds{s_inactivityTimeout, s_downloadDeadline, s_downloadSizeLimit});

    if (inBounds && m_downloadOk) {
        // QFile::rename does not replace an existing file.
        if (QFile::exists(filePath))
            QFile::remove(filePath);
        m_downloadStored = file->rename(filePath);
        if (!m_downloadStored)
            file->remove();
    } else {
        if (!inBounds || pending->error() != QNetworkReply::NoError || !isSuccessStatus(pending))
            logFailure(pending, !inBounds);
        else
            AppLog::write(QStringLiteral("download not stored: ") + filePath + QStringLiteral(": ") +
                          file->errorString());
        file->remove();
    }
    delete file;
    file = nullptr;
    reply = nullptr;
}

void BaseAPI::onReadyRead()
{
    if (!reply || !file)
        return;
    const QByteArray chunk = reply->readAll();
    m_written += chunk.size();
    if (m_written > s_downloadSizeLimit || file->write(chunk) != chunk.size())
        reply->abort();
}

void BaseAPI::replyFinished(QNetworkReply* finished)
{
    // Only the reply of the download in progress owns the file.
    if (finished == reply && file && file->isOpen()) {
        if (finished->bytesAvailable() > 0)
            onReadyRead();
        m_downloadOk = finished->error() == QNetworkReply::NoError && isSuccessStatus(finished) &&
                       m_written <= s_downloadSizeLimit && file->error() == QFileDevice::NoError;
        file->close();
        m_downloadOk = m_downloadOk && file->error() == QFileDevice::NoError;
    }
    finished->deleteLater();
}
