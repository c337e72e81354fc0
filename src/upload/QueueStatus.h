#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QStringList>

#include "upload/QueueState.h"

// Where the upload worker publishes its queue state and the GUI asks for a refused image to be tried again. Lives on
// the GUI thread; publish() and takeRetryRequests() are called from the worker's, so changed() reaches receivers on
// the GUI thread queued, and nobody there lists a folder to learn the state.
class QueueStatus : public QObject
{
    Q_OBJECT

public:
    // The program's one status; made on first use (the main window makes it before starting the worker).
    static QueueStatus* instance();

    explicit QueueStatus(QObject* parent = nullptr);

    // The last state published; published is false until the worker's first.
    QueueState current() const;

    // Worker side: emits changed() when the state differs from the last one.
    void publish(const QueueState& state);
    // Worker side: the images of the task the teacher asked to try again since the last call, by file name.
    QStringList takeRetryRequests(const QString& taskId);
    // Worker side: the refused images of the task the teacher put aside ("不再上传") since the last call.
    QStringList takeSetAsideRequests(const QString& taskId);

public slots:
    // GUI side: the refused image is tried again on the worker's next pass.
    void requestRetry(const QString& taskId, const QString& fileName);
    // GUI side: the refused image is moved out of the queue into the task's set-aside folder on the next pass.
    void requestSetAside(const QString& taskId, const QString& fileName);

signals:
    void changed(const QueueState& state);

private:
    mutable QMutex m_mutex;
    QueueState m_current;
    QList<QPair<QString, QString>> m_retries;
    QList<QPair<QString, QString>> m_setAside;
};
