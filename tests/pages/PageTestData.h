#pragma once

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>

#include "EmulatorFixture.h"
#include "TestUtils.h"
#include "service/HttpCommunicationThread.h"

// Shared set-up of the page tests that talk to the in-process emulator.
namespace PageTestData {

inline void setLaunchValues(const QString& taskId)
{
    HttpCommunicationThread::setTaskId(taskId);
    HttpCommunicationThread::setToken(QStringLiteral("test-token"));
    HttpCommunicationThread::setUid(QStringLiteral("teacher01"));
}

inline QByteArray pngBytes(int width, int height)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    TestUtils::makeTestImage(width, height).save(&buffer, "PNG");
    return bytes;
}

struct Student
{
    QString name;
    QString score;
    QString warning;
    int pages = 1;
};

// A paper-status-with-page answer for these students whose images and thumbnails the emulator serves. The image
// cache lives for the whole process, so every call uses URLs of its own (prefix).
inline QJsonObject paperStatus(EmulatorFixture& emulator, const QString& prefix, const QList<Student>& students,
                               int collected, int notCollected, int thumbWidth = 160, int thumbHeight = 120)
{
    static const QByteArray page = pngBytes(40, 30);
    const QByteArray thumb = pngBytes(thumbWidth, thumbHeight);
    QJsonArray answers;
    for (int s = 0; s < students.size(); ++s) {
        QJsonArray images;
        for (int p = 0; p < students.at(s).pages; ++p) {
            const QString path = QStringLiteral("/img/%1/s%2_p%3.png").arg(prefix).arg(s).arg(p);
            emulator->addStaticFile(path, page, "image/png");
            images.append(QJsonObject{
                {"url", QString(emulator.baseUrl() + path + "?v=1")}, {"beginPage", p + 1}, {"endPage", p + 1}});
        }
        // Thumbnails are served as JPEG names holding PNG bytes: the tile reads the format from the content.
        const QString thumbPath = QStringLiteral("/thumb/%1/s%2_thumb.jpg").arg(prefix).arg(s);
        emulator->addStaticFile(thumbPath, thumb, "image/jpeg");
        answers.append(QJsonObject{{"studentId", QStringLiteral("%1-%2").arg(prefix).arg(s)},
                                   {"studentName", students.at(s).name},
                                   {"scoreDesc", students.at(s).score},
                                   {"warnDesc", students.at(s).warning},
                                   {"thumbAnswerImageUrl", QString(emulator.baseUrl() + thumbPath)},
                                   {"images", images}});
    }
    return QJsonObject{{"analyseSuccessStudentCount", collected},
                       {"unAnalyseSuccessStudentCount", notCollected},
                       {"studentAnswers", answers}};
}

} // namespace PageTestData
