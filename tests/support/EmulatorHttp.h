#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QString>

class QHttpMultiPart;

// Plain HTTP exchanges with the emulator for tests that must not depend on the client's own transport: each call
// waits (bounded) for its reply and hands back what arrived on the wire.
namespace EmulatorHttp {

struct Reply
{
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    bool finished = false; // false: no reply within the wait
    qint64 elapsedMs = 0;
};

// The signed common query for uid and token at clock reading t, as the client builds it.
QByteArray commonQuery(const QByteArray& uid, const QByteArray& token, qint64 t);

Reply get(const QString& url, int transferTimeoutMs = 0, int waitMs = 15000);
Reply post(const QString& url, const QByteArray& body, int transferTimeoutMs = 0, int waitMs = 15000);
// A form upload with the parts in the given order; the multipart object is consumed.
Reply postMultipart(const QString& url, QHttpMultiPart* multipart, int waitMs = 30000);
// The object store's form upload as the client sends it: "token", "key", then "file" with fileName.
Reply upload(const QString& url, const QByteArray& token, const QByteArray& key, const QString& fileName,
             const QByteArray& content);

} // namespace EmulatorHttp
