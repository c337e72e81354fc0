#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QString>

class QLocalServer;
class QLockFile;

// One owner per working folder. A lock file in the folder makes two copies draining the same image folders
// impossible, whatever program file each was started from. A new start asks the running copy of the same user,
// over a local socket, to finish the request in flight, close its database and quit; only when no answer comes does
// it end that copy the old way. It takes the lock before its worker starts.
class HandOver : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* LockFileName = ".ambrel.lock";

    explicit HandOver(QObject* parent = nullptr);
    ~HandOver() override;

    // Asks the running copy to hand over; calls endOldCopy when it does not answer within the answer time (or
    // when none listens), then waits for the working folder's lock: up to the lock time for a copy that hands
    // over, up to the answer time otherwise. True when this copy owns the folder from now on. Blocks the calling
    // thread meanwhile (it runs before the window is shown). A process that listens already never asks itself.
    bool takeOver(const QString& workingFolder, const std::function<void()>& endOldCopy);
    // Listens for a later start's request; handOverRequested() follows one.
    bool listen();
    // Gives the folder up: after the worker has stopped.
    void release();
    bool ownsFolder() const;

    // Per user, and per AMBREL_INSTANCE.
    static QString channelName();

    void setAnswerTimeout(int ms);
    void setLockTimeout(int ms);

signals:
    // A later start asked for the folder: stop the worker, then release() and quit.
    void handOverRequested();

private:
    // Whether a running copy answered the request.
    bool askRunningCopy();

    std::unique_ptr<QLockFile> m_lock;
    QString m_lockPath;
    QLocalServer* m_server = nullptr;
    int m_answerTimeoutMs = 3000;
    // The old copy finishes the request in flight first: an upload may take its whole transfer timeout.
    int m_lockTimeoutMs = 90000;
};
