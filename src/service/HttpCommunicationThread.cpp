#include "service/HttpCommunicationThread.h"

// Placeholder until the service client is built: every call reports "nothing there".

QString HttpCommunicationThread::uid;
QString HttpCommunicationThread::token;
QString HttpCommunicationThread::taskId;
QString HttpCommunicationThread::uploadToken;
QString HttpCommunicationThread::uploadDomain;
QMap<QString, QString> HttpCommunicationThread::imageCache;

void HttpCommunicationThread::setTaskId(const QString& value)
{
    taskId = value;
}

void HttpCommunicationThread::setToken(const QString& value)
{
    token = value;
}

void HttpCommunicationThread::setUid(const QString& value)
{
    uid = value;
}

QString HttpCommunicationThread::getTaskId()
{
    return taskId;
}

bool HttpCommunicationThread::getUploadToken()
{
    return false;
}

void HttpCommunicationThread::analyseAnswerImage(const QString&) {}

bool HttpCommunicationThread::getPaperStatus()
{
    return false;
}

void HttpCommunicationThread::getZeroProofreadStatus(int*, int*) {}

void HttpCommunicationThread::getReplenishStudents(QList<ReplenishStudent>& students)
{
    students.clear();
}

void HttpCommunicationThread::getAnswerInfo(QString, AnswerInfo* info)
{
    info->images.clear();
}

bool HttpCommunicationThread::getPaperStatusWithPage(PaperStatusPage* page, int*)
{
    page->studentAnswers.clear();
    return false;
}

void HttpCommunicationThread::writeLog(const QString&, const QString&) {}
