#pragma once

#include <functional>

#include <QHash>
#include <QSet>
#include <QString>

// The upload worker's loop: fetch the upload credentials, then empty the task's image folder into the object store
// pass after pass, announcing each stored image to the service and deleting it locally. Clock, sleep, the store
// and the two service calls are injected so the loop can be driven fast by tests; the worker wires the real ones.
class UploadLoop
{
public:
    class Clock
    {
    public:
        virtual ~Clock() = default;
        virtual qint64 currentMSecsSinceEpoch() = 0;
    };

    class Sleeper
    {
    public:
        virtual ~Sleeper() = default;
        virtual void sleep(int ms) = 0;
    };

    // The real ones: the wall clock, and a blocking sleep of the calling thread in short slices, so that a stop
    // request (QThread::requestInterruption, used by tests) is seen promptly.
    class SystemClock : public Clock
    {
    public:
        qint64 currentMSecsSinceEpoch() override;
    };

    class ThreadSleeper : public Sleeper
    {
    public:
        void sleep(int ms) override;
    };

    // The object store: takes an upload token, an object key and a local file, returns the store's code.
    class Uploader
    {
    public:
        virtual ~Uploader() = default;
        virtual int putFile(const QString& uploadToken, const QString& key, const QString& localPath) = 0;
    };

    // The two service calls the worker makes, and the credentials the token call leaves behind.
    class Service
    {
    public:
        virtual ~Service() = default;
        virtual bool getUploadToken() = 0;
        virtual void analyseAnswerImage(const QString& key) = 0;
        virtual QString uploadToken() const = 0;
    };

    struct Intervals
    {
        int credentialsRetryMs = 5000;
        // Pause after a pass that uploaded nothing, so an idle worker does not spin.
        int idlePauseMs = 250;
        // Back-off between failed attempts: starts here and doubles up to the maximum.
        int backoffInitialMs = 1000;
        int backoffMaxMs = 30000;
        // A file modified more recently than this may still be being written: it waits for a later pass.
        int settleMs = 1000;
    };

    // The store's codes; any other value means "not stored".
    enum Code
    {
        Stored = 200,
        TokenRefused = 401,
        AlreadyStored = 614,
        // Returned by uploaders: no answer from the store (network error, timeout).
        NotStored = -1,
        // Returned by uploaders: the local file could not be opened, nothing was sent.
        FileUnreadable = -2,
    };

    UploadLoop(Service& service, Uploader& uploader, Clock& clock, Sleeper& sleeper, const QString& uid,
               const QString& taskId);
    UploadLoop(Service& service, Uploader& uploader, Clock& clock, Sleeper& sleeper, const QString& uid,
               const QString& taskId, const Intervals& intervals);

    // Production never stops; tests end the loop through this predicate (checked between steps).
    void setKeepGoing(std::function<bool()> keepGoing);

    // Test seam: deleting a stored file (QFile::remove by default), so tests can make a file undeletable.
    void setRemoveFile(std::function<bool(const QString&)> removeFile);

    // Credentials, then passes until keepGoing() turns false.
    void run();

    // Step 1: the token call until it succeeds, 5000 ms apart. Returns false only when stopped meanwhile.
    bool acquireCredentials();

    // One pass over the folder. Returns the number of files stored and announced. Sets nextPassDelayMs().
    int runPass();

    // How long to wait before the next pass: 0 after a pass that stored something, else the idle pause (shortened
    // so that a file held back by the settle guard is taken as soon as it is old enough).
    int nextPassDelayMs() const;

    // The task's image folder (working directory + "/image/" + taskId + "/").
    QString folder() const;

    static QString objectKey(const QString& uid, const QString& taskId, qint64 ms, const QString& fileName);

private:
    enum class Outcome
    {
        Done,
        Skipped,
        LeavePass,
    };

    Outcome uploadOne(const QString& path);
    void backOff();
    bool keepGoing() const;

    Service& m_service;
    Uploader& m_uploader;
    Clock& m_clock;
    Sleeper& m_sleeper;
    QString m_uid;
    QString m_taskId;
    Intervals m_intervals;
    std::function<bool()> m_keepGoing;
    std::function<bool(const QString&)> m_removeFile;
    int m_backoffMs = 0;
    int m_nextPassDelayMs = 0;
    // Files stored and announced that could not be deleted: path, size and modification time. Never sent again.
    QSet<QString> m_undeletable;
    // When a file's current size and modification time were first seen, for files whose time lies in the future.
    QHash<QString, qint64> m_firstSeen;
};
