#include "upload/QueueStatus.h"

#include <QCoreApplication>
#include <QMutexLocker>

QueueStatus* QueueStatus::instance()
{
    // Never destroyed: the worker may publish until the process ends.
    static QueueStatus* status = [] {
        qRegisterMetaType<QueueState>("QueueState");
        auto* made = new QueueStatus();
        if (QCoreApplication::instance())
            made->moveToThread(QCoreApplication::instance()->thread());
        return made;
    }();
    return status;
}

QueueStatus::QueueStatus(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<QueueState>("QueueState");
}

QueueState QueueStatus::current() const
{
    QMutexLocker locker(&m_mutex);
    return m_current;
}

void QueueStatus::publish(const QueueState& state)
{
    {
        QMutexLocker locker(&m_mutex);
        if (state == m_current)
            return;
        m_current = state;
    }
    emit changed(state);
}

namespace {

QStringList takeOfTask(QList<QPair<QString, QString>>& requests, const QString& taskId)
{
    QStringList names;
    for (auto it = requests.begin(); it != requests.end();) {
        if (it->first == taskId) {
            names << it->second;
            it = requests.erase(it);
        } else {
            ++it;
        }
    }
    return names;
}

} // namespace

QStringList QueueStatus::takeRetryRequests(const QString& taskId)
{
    QMutexLocker locker(&m_mutex);
    return takeOfTask(m_retries, taskId);
}

QStringList QueueStatus::takeSetAsideRequests(const QString& taskId)
{
    QMutexLocker locker(&m_mutex);
    return takeOfTask(m_setAside, taskId);
}

void QueueStatus::requestSetAside(const QString& taskId, const QString& fileName)
{
    QMutexLocker locker(&m_mutex);
    m_setAside << qMakePair(taskId, fileName);
}

void QueueStatus::requestRetry(const QString& taskId, const QString& fileName)
{
    QMutexLocker locker(&m_mutex);
    m_retries << qMakePair(taskId, fileName);
}
