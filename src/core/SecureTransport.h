#pragma once

class QByteArray;
class QNetworkReply;
class QString;
class QUrl;

// Encrypted transport: which authorities are trusted, and what a refused certificate leaves behind. Certificates are
// always verified; nothing in the program ignores a certificate error.
namespace SecureTransport {

// The system's authorities plus those in Settings::caFile() (a school's own proxy, the tests' authority) become the
// trust of every later request. Applying again after the setting changed replaces the earlier extra authorities.
void applyTrustedAuthorities();

// Logs, once per process, the configured hosts that are reached without encryption.
void logPlainHosts();

// Notes the certificate errors a reply meets, for failedSecurely(). Call before the reply can finish.
void watch(QNetworkReply* reply);

// For a finished reply: true when no secure connection could be made (a certificate refused, the handshake
// failed). Logs Qt's reason with the host, never the query (which may carry the token), once per host and reason
// until that host is reached again.
bool failedSecurely(QNetworkReply* reply);

// The authorities applyTrustedAuthorities() made the trust of later requests, as PEM text, for a transport that does
// not go through Qt's network classes. Made once per change of the trust.
QByteArray trustedAuthoritiesPem();

// For an exchange made without Qt's network classes: failed is true when no secure connection could be made, with
// the transport's reason; reached is true when the host answered at all. Logs as failedSecurely() does.
bool noteExchange(const QUrl& url, bool failed, bool reached, const QString& reason);

// Whether the last exchange with the host of url was refused for want of a secure connection: what the queue shows
// while the worker cannot even fetch its credentials.
bool isFailing(const QString& url);

} // namespace SecureTransport
