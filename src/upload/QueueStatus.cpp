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

QStringList QueueStatus::takeRetryRequests(const QString& taskId)
{
    QMutexLocker locker(&m_mutex);
    QStringList names;
    for (auto it = m_retries.begin(); it != m_retries.end();) {
        if (it->first == taskId) {
            names << it->second;
            it = m_retries.erase(it);
        } else {
            ++it;
        }
    }
    return names;
}

void QueueStatus::requestRetry(const QString& taskId, const QString& fileName)
{
    QMutexLocker locker(&m_mutex);
    m_retries << qMakePair(taskId, fileName);
}
