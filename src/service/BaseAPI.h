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

    // The reply's top-level JSON object after percent-decoding, or an empty object on any failure.
    void get(QString url, QJsonObject& result);
    void post(QString url, const QByteArray& body, QJsonObject& result);
    // The HTTP status of the last get or post, 0 when none arrived.
    int lastHttpStatus() const;
    // Stores the body at filePath only when the whole reply arrived with a 2xx status; otherwise filePath is left
    // as it was, so a later attempt fetches it again.
    void download(QString url, QString filePath);

    // An API exchange that has not finished within this bound is abandoned like a network error.
    static void setTransferTimeout(int msecs);
    static int transferTimeout();
    // A download that receives nothing for this long is abandoned.
    static void setInactivityTimeout(int msecs);
    static int inactivityTimeout();

private slots:
    void replyFinished(QNetworkReply* reply);
    void onReadyRead();

private:
    QJsonObject waitForJson(QNetworkReply* pending);
    // Runs the local loop until the manager reports a finished reply; aborts the reply when the timer runs out
    // (restarted by every received byte when restartOnProgress is set). Returns false on a timeout.
    bool waitForFinished(QNetworkReply* pending, int timeoutMsecs, bool restartOnProgress);

    QNetworkRequest request;
    QNetworkAccessManager manager;
    QNetworkReply* reply;
    QFile* file;
    bool m_downloadOk = false;
    int m_lastHttpStatus = 0;
};
