#pragma once

#include <QString>

// The signed block of query parameters every service request carries, and the request texts of the endpoints.
// All values are inserted as given: no percent-encoding, no trimming.
namespace RequestSigning {

// Key of the signature, compiled in.
extern const char SIGNATURE_KEY[];

// Milliseconds since the epoch, read from the current clock.
qint64 currentMSecs();

// MD5 (lowercase hex) over the local 8-bit bytes of SIGNATURE_KEY + t + uid.
QString signature(const QString& t, const QString& uid);

// "userType=1&uid=…&v=5.1.0&f=windows&t=…&token=…&s=…"
QString commonQuery(const QString& uid, const QString& token, const QString& t);

// Token call: the common query alone.
QString tokenText(const QString& uid, const QString& token, const QString& t);
// Analyse call: common query + "&taskId=" + taskId + "&imageUrl=" + imageUrl + "&ts=" + t.
QString analyseText(const QString& uid, const QString& token, const QString& taskId, const QString& imageUrl,
                    const QString& t);
// Task status calls: "taskId=" + taskId + "&" + common query.
QString taskText(const QString& uid, const QString& token, const QString& taskId, const QString& t);
// Answer info: "taskId=" + taskId + "&studentId=" + studentId + "&" + common query.
QString answerInfoText(const QString& uid, const QString& token, const QString& taskId, const QString& studentId,
                       const QString& t);

} // namespace RequestSigning
