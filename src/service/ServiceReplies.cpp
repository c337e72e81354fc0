#include "service/ServiceReplies.h"

#include <cmath>
#include <limits>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace {

QString readText(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

// A whole JSON number; anything else (missing, text, fraction, out of range) reads as 0.
int readInt(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (std::floor(number) != number || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max())
        return 0;
    return int(number);
}

QJsonObject readObject(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toObject();
}

QJsonArray readArray(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toArray();
}

QJsonObject data(const QJsonObject& reply)
{
    return readObject(reply, "data");
}

QString pageRange(const QJsonObject& image)
{
    return QString::number(readInt(image, "beginPage")) + QLatin1Char('-') + QString::number(readInt(image, "endPage"));
}

} // namespace

namespace ServiceReplies {

QJsonObject decode(const QByteArray& body)
{
    // The service may percent-encode its whole reply; "+" stays as it is.
    return QJsonDocument::fromJson(QByteArray::fromPercentEncoding(body)).object();
}

int code(const QJsonObject& reply)
{
    return readInt(reply, "code");
}

QString desc(const QJsonObject& reply)
{
    return readText(reply, "desc");
}

UploadCredentials uploadCredentials(const QJsonObject& reply)
{
    const QJsonObject fields = data(reply);
    return {readText(fields, "token"), readText(fields, "domain")};
}

bool hasUploads(const QJsonObject& reply)
{
    const QJsonObject fields = data(reply);
    const int uploaded = readInt(fields, "uploadedImageCount");
    const int failed = readInt(fields, "analyseFailImageCount");
    return uploaded != 0 && failed != uploaded;
}

ProofreadCounts proofreadCounts(const QJsonObject& reply)
{
    const QJsonObject fields = data(reply);
    ProofreadCounts counts;
    counts.proofread = readInt(fields, "proofreadImageCount");
    counts.total = readInt(fields, "totalImageCount");
    return counts;
}

QList<ReplenishStudent> replenishStudents(const QJsonObject& reply)
{
    QList<ReplenishStudent> students;
    const QJsonArray list = readArray(data(reply), "students");
    for (const QJsonValue& entry : list) {
        const QJsonObject object = entry.toObject();
        ReplenishStudent student;
        student.realName = readText(object, "realName");
        const QJsonArray images = readArray(object, "images");
        for (const QJsonValue& imageEntry : images) {
            const QJsonObject image = imageEntry.toObject();
            student.images.append(
                {readText(image, "failReason"), readText(image, "proposals"), readText(image, "page")});
        }
        students.append(student);
    }
    return students;
}

AnswerPages answerPages(const QJsonObject& reply)
{
    const QJsonObject fields = data(reply);
    AnswerPages pages;
    pages.studentName = readText(fields, "studentName");
    pages.studentId = readText(fields, "studentId");
    const QJsonArray images = readArray(fields, "images");
    for (const QJsonValue& entry : images) {
        const QString imageUrl = entry.isString() ? entry.toString() : QString();
        if (!imageUrl.isEmpty())
            pages.imageUrls.append(imageUrl);
    }
    return pages;
}

PaperStatusPage paperStatusPage(const QJsonObject& reply)
{
    const QJsonObject fields = data(reply);
    PaperStatusPage page;
    page.unAnalyseSuccessStudentCount = readInt(fields, "unAnalyseSuccessStudentCount");
    page.analyseSuccessStudentCount = readInt(fields, "analyseSuccessStudentCount");
    const QJsonArray answers = readArray(fields, "studentAnswers");
    for (const QJsonValue& entry : answers) {
        const QJsonObject object = entry.toObject();
        StudentAnswer answer;
        answer.warnDesc = readText(object, "warnDesc");
        answer.studentName = readText(object, "studentName");
        answer.studentId = readText(object, "studentId");
        answer.scoreDesc = readText(object, "scoreDesc");
        const QJsonArray images = readArray(object, "images");
        for (const QJsonValue& imageEntry : images) {
            const QJsonObject image = imageEntry.toObject();
            answer.images.append({readText(image, "url"), pageRange(image)});
        }
        answer.thumbPath = readText(object, "thumbAnswerImageUrl");
        page.studentAnswers.append(answer);
    }
    return page;
}

PaperState paperState(const PaperStatusPage& page)
{
    const bool running = page.analyseSuccessStudentCount < 1 || page.unAnalyseSuccessStudentCount != 0;
    return running ? AnalysisRunning : AnalysisComplete;
}

} // namespace ServiceReplies
