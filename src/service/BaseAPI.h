#pragma once

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QString>

class QByteArray;
class QFile;
class QJsonObject;
class QNetworkReply;

// The only HTTP client: one synchronous exchange at a time, waiting in a local event loop, so it works on the GUI
// thread (which stays live meanwhile) and on a worker thread that runs no loop of its own. Create, use and destroy
// an object on one thread.
class BaseAPI : public QObject
{
    Q_OBJECT

public:
    BaseAPI();
    ~BaseAPI() override;

    // The reply's top-level JSON object after percent-decoding, or an empty object on any failure. A failed
    // exchange is logged with Qt's error text and the HTTP status.
    void get(QString url, QJsonObject& result);
    void post(QString url, const QByteArray& body, QJsonObject& result);
    // Whether the last get or post was answered with a 2xx status.
    bool lastStatusWasSuccess() const;
    // Whether the last get or post went out but no answer came back (timed out, connection lost on the way): the
    // server may have acted on it. False when it was answered or could not be sent (connection refused, no host).
    bool lastRequestWentUnanswered() const;
    // Stores the body at filePath only when the whole reply arrived with a 2xx status within the deadline and the
    // size limit; otherwise filePath is left as it was, so a later attempt fetches it again.
    void download(QString url, QString filePath);
    // Whether the last download stored its file.
    bool lastDownloadStored() const;

    // Only http and https URLs with a host are fetched: any other scheme (file:, even file://localhost/, data:,
    // ftp:, ...) is refused without a request. True (and logged) for such a URL.
    static bool refuses(const QString& url);
    // Removes the hidden partial files an interrupted download of an earlier run left in folder.
    static void removeStalePartFiles(const QString& folder);

    // An API exchange that has not finished within this bound is abandoned like a network error.
    static void setTransferTimeout(int msecs);
    static int transferTimeout();
    // A download that receives nothing for this long is abandoned.
    static void setInactivityTimeout(int msecs);
    static int inactivityTimeout();
    // A download is abandoned once it has run this long in all, or once its body exceeds the size limit.
    static void setDownloadDeadline(int msecs);
    static void setDownloadSizeLimit(qint64 bytes);
    // An API reply larger than this is abandoned like a network error.
    static constexpr qint64 ReplySizeLimit = 8 * 1024 * 1024;

private slots:
    void replyFinished(QNetworkReply* reply);
    void onReadyRead();

private:
    struct Bounds
    {
        // Silence allowed between two received chunks; 0: no such bound.
        int idleMsecs = 0;
        // Time allowed for the whole exchange.
        int totalMsecs = 0;
        qint64 maxBytes = 0;
    };

    QJsonObject waitForJson(QNetworkReply* pending);
    // Runs the local loop until this reply (and no other) has finished; aborts it when a bound is passed. Returns
    // false when it was aborted.
    bool waitForFinished(QNetworkReply* pending, const Bounds& bounds);

    QNetworkRequest request;
    // The calling thread's manager, kept for the thread's life: each call still has a BaseAPI of its own, but the calls
    // of one thread share the manager's kept-alive connections and TLS sessions, so that an announcement after an
    // upload costs one round trip instead of a new connection and handshake.
    QNetworkAccessManager& manager;
    QNetworkReply* reply;
    QFile* file;
    bool m_downloadOk = false;
    bool m_downloadStored = false;
    bool m_lastStatusWasSuccess = false;
    bool m_lastRequestWentUnanswered = false;
    qint64 m_written = 0;
};
