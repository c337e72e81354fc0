#include "core/SecureTransport.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QStringList>
#include <QUrl>

#include "core/AppLog.h"
#include "core/Settings.h"

namespace {

const char kSslErrorsProperty[] = "ambrelSslErrors";

void log(const QString& line)
{
    AppLog::write(AppLog::redactToken(QStringLiteral("tls: ") + line));
}

// Where a reply went, without user info, path or query.
QString hostOf(const QUrl& url)
{
    return url.toString(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

// The hosts whose last exchange failed securely, with the reason logged, so a worker retrying every few seconds
// does not fill the log.
QMutex s_failingMutex;
QHash<QString, QString> s_failing;

// The trust as PEM, made again after applyTrustedAuthorities() changed it.
QMutex s_pemMutex;
QByteArray s_pem;
bool s_pemStale = true;

bool isTlsError(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::SslHandshakeFailedError;
}

} // namespace

namespace SecureTransport {

void applyTrustedAuthorities()
{
    // Without an extra file the network library's own default stands: the system's authorities, read on demand.
    static QString applied;
    const QString path = Settings::caFile();
    if (path == applied)
        return;
    applied = path;
    QList<QSslCertificate> authorities = QSslConfiguration::systemCaCertificates();
    if (!path.isEmpty()) {
        QFile file(path);
        const QList<QSslCertificate> extra =
            file.open(QIODevice::ReadOnly) ? QSslCertificate::fromDevice(&file, QSsl::Pem) : QList<QSslCertificate>();
        if (extra.isEmpty())
            log(QStringLiteral("no certificate read from AMBREL_CA_FILE %1: only the system's authorities are trusted")
                    .arg(path));
        authorities += extra;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(authorities);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    QSslConfiguration::setDefaultConfiguration(configuration);
    const QMutexLocker locker(&s_pemMutex);
    s_pemStale = true;
}

QByteArray trustedAuthoritiesPem()
{
    const QMutexLocker locker(&s_pemMutex);
    if (s_pemStale) {
        s_pem.clear();
        for (const QSslCertificate& authority : QSslConfiguration::defaultConfiguration().caCertificates())
            s_pem += authority.toPem();
        s_pemStale = false;
    }
    return s_pem;
}

void logPlainHosts()
{
    static bool logged = false;
    if (logged)
        return;
    logged = true;
    QStringList plain;
    for (const QString& host : {Settings::apiHost(), Settings::uploadHost()}) {
        if (QUrl(host).scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0)
            plain << hostOf(QUrl(host));
    }
    plain.removeDuplicates();
    if (!plain.isEmpty())
        log(QStringLiteral("not encrypted, plain http to ") + plain.join(QStringLiteral(", ")));
}

void watch(QNetworkReply* reply)
{
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [reply](const QList<QSslError>& errors) {
        QStringList reasons = reply->property(kSslErrorsProperty).toStringList();
        for (const QSslError& error : errors)
            reasons << error.errorString();
        reply->setProperty(kSslErrorsProperty, reasons);
    });
}

bool failedSecurely(QNetworkReply* reply)
{
    const QUrl url = reply->url();
    QStringList reasons = reply->property(kSslErrorsProperty).toStringList();
    const bool failed = !reasons.isEmpty() || (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
                                               isTlsError(reply->error()));
    const bool reached = reply->error() == QNetworkReply::NoError ||
                         reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    reasons.removeDuplicates();
    if (reasons.isEmpty())
        reasons << reply->errorString();
    return noteExchange(url, failed, reached, reasons.join(QStringLiteral("; ")));
}

bool noteExchange(const QUrl& url, bool failed, bool reached, const QString& reason)
{
    const QString host = hostOf(url);
    QMutexLocker locker(&s_failingMutex);
    if (!failed) {
        if (reached)
            s_failing.remove(host);
        return false;
    }
    if (s_failing.value(host) != reason) {
        s_failing.insert(host, reason);
        locker.unlock();
        log(QStringLiteral("no secure connection to %1: %2").arg(host, reason));
    }
    return true;
}

bool isFailing(const QString& url)
{
    QMutexLocker locker(&s_failingMutex);
    return s_failing.contains(hostOf(QUrl(url)));
}

} // namespace SecureTransport
