#pragma once

#include <memory>

#include <QObject>
#include <QString>

class QLocalServer;
class QLockFile;
class QTimer;

// One owner per working folder. Two locks make two copies draining the same image folders impossible, whatever
// program file each was started from: one in the user's runtime folder (a per-user tmpfs: there is always room
// for it, even when the working folder's disk is full), keyed by the working folder's canonical path, and the lock
// file in the working folder itself, which copies on other machines sharing the folder see too. The owner refreshes
// the folder's lock file (a heartbeat); one not refreshed for StaleAfterBeats beats is stale whoever wrote it.
//
// A new start asks the running copy of the same user, over a local socket, to finish the request in flight, close
// its database and quit. A copy that does not own the folder yet keeps trying in the background for as long as it
// runs and says folderWon() the moment it does; it never gives up.
class HandOver : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* LockFileName = ".ambrel.lock";
    static constexpr int StaleAfterBeats = 3;

    explicit HandOver(QObject* parent = nullptr);
    ~HandOver() override;

    // Asks the running copy to hand over and tries the locks once. True when this copy owns the folder from now
    // on (and serves the channel); otherwise it keeps trying and emits folderWon() when it wins.
    bool takeOver(const QString& workingFolder);
    // Gives the folder up: after the worker has stopped.
    void release();
    bool ownsFolder() const;
    // Whether this copy waits for another one to let go of the folder.
    bool waitsForFolder() const;

    // The per-user folder for the lock and the channel: XDG_RUNTIME_DIR, or an owner-only folder named by the
    // account's real id in the temporary folder; empty when neither can be had.
    static QString runtimeFolder();
    // Per account (its real id, never a name from the environment), per process table and per AMBREL_INSTANCE:
    // a socket inside the runtime folder, or on Windows a named pipe whose name carries the account.
    static QString channelName();
    // The lock in the runtime folder for a working folder.
    static QString runtimeLockPath(const QString& workingFolder);

    void setAnswerTimeout(int ms);
    // How often the owner refreshes its lock (the stale bound is StaleAfterBeats of them).
    void setHeartbeatInterval(int ms);
    // How often a waiting copy tries again.
    void setRetryInterval(int ms);

signals:
    // A later start asked for the folder: stop the worker, then release() and quit.
    void handOverRequested();
    // This copy, which waited, owns the folder now: start the worker.
    void folderWon();
    // Another copy took the folder's lock while this one did not refresh it: stop the worker, then takeOver() again.
    void folderLost();

private:
    enum class Lock
    {
        Taken,
        Held,
        Unwritable
    };

    // Whether a running copy answered the request.
    bool askRunningCopy();
    bool tryToOwn();
    Lock tryRuntimeLock();
    Lock tryFolderLock();
    void retry();
    void beat();
    bool listen();

    QString m_workingFolder;
    std::unique_ptr<QLockFile> m_runtimeLock;
    std::unique_ptr<QLockFile> m_folderLock;
    bool m_owns = false;
    bool m_folderLockWritten = false;
    bool m_answered = false;
    // Said once until a refresh works again: the log is not filled every beat.
    bool m_refreshFailureLogged = false;
    qint64 m_startedMs = 0;
    qint64 m_askUntilMs = 0;
    // What the folder's lock file looked like when it last changed, and when (monotonic) that was seen.
    QString m_seenStamp;
    qint64 m_seenSinceMs = 0;
    QLocalServer* m_server = nullptr;
    QTimer* m_retryTimer = nullptr;
    QTimer* m_heartbeat = nullptr;
    int m_answerTimeoutMs = 3000;
    int m_heartbeatMs = 30000;
    int m_retryMs = 1000;
};
