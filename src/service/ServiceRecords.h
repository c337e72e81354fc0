#pragma once

#include <utility>

#include <QList>
#include <QString>

// Photo path list: first = local path of a page image, second = page range text ("3-4").
using PhotoPathList = QList<std::pair<QString, QString>>;

struct StudentAnswer
{
    QString studentId;
    QString scoreDesc;
    QString warnDesc;
    QString studentName;
    QString thumbPath;
    QList<std::pair<QString, QString>> images;
};

struct PaperStatusPage
{
    QList<StudentAnswer> studentAnswers;
    int analyseSuccessStudentCount = 0;
    int unAnalyseSuccessStudentCount = 0;
};

struct AnswerInfo
{
    QString studentId;
    QString studentName;
    QList<std::pair<QString, QString>> images;
};

struct FailImage
{
    QString failReason;
    QString proposals;
    QString page;
};

struct ReplenishStudent
{
    QString realName;
    QList<FailImage> images;
};

// The state reported by getPaperStatusWithPage.
enum PaperState
{
    AnalysisRunning = 3,
    AnalysisComplete = 4,
    ServiceError = 6,
};
