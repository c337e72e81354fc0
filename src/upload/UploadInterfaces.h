#pragma once

#include <functional>

#include <QString>

// What the upload loop is given to work with: the pause, the object store and the service. The worker hands it the
// real ones; tests and benchmarks their own.

class Sleeper
{
public:
    virtual ~Sleeper() = default;
    virtual void sleep(int ms) = 0;
    // The pause between passes: up to ms, ended early by a change in folder when the sleeper can see one.
    virtual void waitForChange(const QString& folder, int ms);
};

// The real one: a blocking sleep of the calling thread in short slices, so that a stop request
// (QThread::requestInterruption, made when the program ends through the application object) is seen promptly.
class ThreadSleeper : public Sleeper
{
public:
    void sleep(int ms) override;
};

// The object store: takes an upload token, an object key and a local file, returns the store's code.
class Uploader
{
public:
    // The store's codes; any other value means "not stored".
    enum Code
    {
        Stored = 200,
        TokenRefused = 401,
        AlreadyStored = 614,
        // No answer from the store (network error, timeout).
        NotStored = -1,
        // The local file could not be opened, nothing was sent.
        FileUnreadable = -2,
        // A 200 whose body does not name the key sent (a proxy's or a portal's page).
        Unconfirmed = -3,
        // No secure connection to the store (its certificate refused); nothing was sent.
        SecureConnectionFailed = -4,
    };

    virtual ~Uploader() = default;
    virtual int putFile(const QString& uploadToken, const QString& key, const QString& localPath) = 0;
    // Called now and then on the calling thread while a file is being sent (a large photograph over a slow link
    // takes minutes), so that the queue the teacher reads can follow the folder meanwhile. Empty: nothing is called.
    virtual void setWhileSending(std::function<void()> whileSending) { (void)whileSending; }
};

// The two service calls the worker makes, and the credentials the token call leaves behind.
class UploadService
{
public:
    // How an announcement ended.
    struct Announcement
    {
        enum Outcome
        {
            Taken,
            Refused,    // the service answered that it will not take it; reason holds its text
            Unanswered, // sent, no answer came back: the service may have taken it
            Failed,     // not sent, or no answer of the service's own (a proxy's error page)
        };
        Outcome outcome = Failed;
        QString reason;
    };

    virtual ~UploadService() = default;
    virtual bool getUploadToken() = 0;
    // True only when the service took the announcement.
    virtual bool analyseAnswerImage(const QString& key) = 0;
    virtual QString uploadToken() const = 0;
    // The announcement of an image of the given task, telling how it ended. By default analyseAnswerImage, with any
    // failure taken for one where nothing reached the service.
    virtual Announcement announce(const QString& taskId, const QString& key);
};
