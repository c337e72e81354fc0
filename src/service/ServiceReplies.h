#pragma once

#include <QJsonObject>
#include <QStringList>

#include "service/ServiceRecords.h"

class QByteArray;

// What the seven service calls read from a reply: reply bytes to records, without the network and without the
// files. Every reader is total: a missing or mistyped field reads as empty text or 0.
namespace ServiceReplies {

// The reply's top-level JSON object after percent-decoding the whole body ("+" stays "+"); empty when the body
// is not a JSON object.
QJsonObject decode(const QByteArray& body);

// "code" as a whole number (missing, text or fraction read as 0) and the "desc" text.
int code(const QJsonObject& reply);
QString desc(const QJsonObject& reply);

struct UploadCredentials
{
    QString token;
    QString domain;
};
UploadCredentials uploadCredentials(const QJsonObject& reply);

// Whether the task already has uploaded images that did not all fail.
bool hasUploads(const QJsonObject& reply);

struct ProofreadCounts
{
    int proofread = 0;
    int total = 0;
};
ProofreadCounts proofreadCounts(const QJsonObject& reply);

QList<ReplenishStudent> replenishStudents(const QJsonObject& reply);

struct AnswerPages
{
    QString studentId;
    QString studentName;
    // The page URLs in the service's order; entries that are not text, or empty, are left out.
    QStringList imageUrls;
};
AnswerPages answerPages(const QJsonObject& reply);

// The students with their counts. In each student the images' first member holds the page URL (empty when the
// service gave none) and thumbPath the thumbnail URL: the caller turns them into local paths.
PaperStatusPage paperStatusPage(const QJsonObject& reply);
// AnalysisRunning until at least one student is analysed and none is left unanalysed, then AnalysisComplete.
PaperState paperState(const PaperStatusPage& page);

} // namespace ServiceReplies
