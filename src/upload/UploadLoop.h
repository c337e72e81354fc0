#pragma once

#include <functional>

#include <QFileInfo>
#include <QFileInfoList>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include "core/Clock.h"
#include "core/TaskFolders.h"
#include "upload/QueueState.h"
#include "upload/UploadLedger.h"

// The upload worker's loop: fetch the upload credentials, then empty the task's image folder into the object store
// pass after pass, announcing each stored image to the service and deleting it locally. Clock, sleep, the store,
// the two service calls and the ledger are injected so the loop can be driven fast by tests; the worker wires the
// real ones. The ledger records each image's key before it is sent and each step it passes, so a restart resumes
// where the last run stopped: nothing is stored twice, announced twice or deleted before the service took it.
class UploadLoop
{
public:
    class Sleeper
    {
    public:
        virtual ~Sleeper() = default;
        virtual void sleep(int ms) = 0;
        // The pause between passes: up to ms, ended early by a change in folder when the sleeper can see one.
        virtual void waitForChange(const QString& folder, int ms)
        {
            Q_UNUSED(folder);
            sleep(ms);
        }
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
        virtual ~Uploader() = default;
        virtual int putFile(const QString& uploadToken, const QString& key, const QString& localPath) = 0;
    };

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

    // The two service calls the worker makes, and the credentials the token call leaves behind.
    class Service
    {
    public:
        virtual ~Service() = default;
        virtual bool getUploadToken() = 0;
        // True only when the service took the announcement.
        virtual bool analyseAnswerImage(const QString& key) = 0;
        virtual QString uploadToken() const = 0;
        // The announcement of an image of the given task, telling how it ended. By default analyseAnswerImage,
        // with any failure taken for one where nothing reached the service.
        virtual Announcement announce(const QString& taskId, const QString& key);
    };

    struct Intervals
    {
        int credentialsRetryMs = 5000;
        // Pause after a pass that found no image. A sleeper that watches the folder ends it as soon as something
        // arrives, so this is only the safety pass that catches what a missed notification would leave behind.
        int idlePauseMs = 10000;
        // Pause after a pass that found images but could send none (still being written, not deletable): listing
        // them costs more than an empty folder.
        int waitingPauseMs = 250;
        // Back-off between failed attempts: starts here and doubles up to the maximum.
        int backoffInitialMs = 1000;
        int backoffMaxMs = 30000;
        // A file that does not hold a whole image may still be being written: it is sent as it is only once it
        // has stayed unchanged this long. A whole image is sent at once.
        int settleMs = 30000;
        // An announced image whose file could not be deleted is tried again this often.
        int deleteRetryMs = 5000;
        // An announcement that went unanswered may have been taken: repeated with the same key after this long,
        // the interval doubling with each repeat up to the maximum.
        int unansweredRepeatMs = 30000;
        int unansweredRepeatMaxMs = 600000;
        // An announcement the service refused is tried this many times in all, this far apart, before the image is
        // marked refused.
        int announceRefusalsAllowed = 3;
        int refusedAnnounceRetryMs = 30000;
        // Failed uploads of one file in a row before the files behind it get their turn; it is tried again after
        // backoffMaxMs.
        int failuresBeforeMovingOn = 10;
    };

    // Why an image was refused before anything was sent.
    static QString notAnImageReason();

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
        // Returned by uploaders: a 200 whose body does not name the key sent (a proxy's or a portal's page).
        Unconfirmed = -3,
        // Returned by uploaders: no secure connection to the store (its certificate refused); nothing was sent.
        SecureConnectionFailed = -4,
    };

    UploadLoop(Service& service, Uploader& uploader, const Clock& clock, Sleeper& sleeper, UploadLedger& ledger,
               const QString& uid, const TaskFolders& folders);
    UploadLoop(Service& service, Uploader& uploader, const Clock& clock, Sleeper& sleeper, UploadLedger& ledger,
               const QString& uid, const TaskFolders& folders, const Intervals& intervals);

    // The loop runs until this predicate turns false (checked between steps): the worker asks whether its thread
    // was asked to stop, tests end the loop when they have seen enough.
    void setKeepGoing(std::function<bool()> keepGoing);

    // Test seam: deleting a stored file (QFile::remove by default), so tests can make a file undeletable.
    void setRemoveFile(std::function<bool(const QString&)> removeFile);

    // Called on the loop's thread each time what the queue state shows may have changed; the worker gathers and
    // publishes it from there.
    void setOnChange(std::function<void()> onChange);
    // Asked at the start of each pass for the file names the teacher wants tried again.
    void setTakeRetries(std::function<QStringList()> takeRetries);

    // Adds this task's share of the queue state from the loop's own listing and the ledger (no second listing).
    void gather(QueueState& state) const;
    QueueState::Link link() const;
    // The queue state of every task the worker empties: each loop's share, the link state of any loop that has a
    // problem (they share the service and the store), the latest success of any. What the worker publishes.
    static QueueState queueStateOf(const QList<const UploadLoop*>& loops);
    qint64 lastSuccessMs() const;
    // Forgets the file's refusal, in the ledger too: it is sent again on the next pass.
    void retry(const QString& fileName);

    // Credentials, then passes until keepGoing() turns false.
    void run();

    // Step 1: the token call until it succeeds, 5000 ms apart. Returns false only when stopped meanwhile.
    bool acquireCredentials();

    // One pass over the folder. Returns the number of images announced. Sets nextPassDelayMs().
    int runPass();

    // How long to wait before the next pass: 0 after a pass that stored something, else the idle or waiting pause
    // (shortened so that a file held back by the settle guard is taken as soon as it is old enough).
    int nextPassDelayMs() const;

    // Whether the link's last word was a refused secure connection (the store's, or the service's at the token call):
    // the queue shows it, since only the school's network or the computer's authorities can mend it.
    bool secureConnectionFailing() const;

    // The task's image folder (empty without a task).
    QString folder() const;

    static QString objectKey(const QString& uid, const QString& taskId, qint64 ms, const QString& fileName);

    // The images in folder the worker has still to send or announce (what the wait dialog counts): announced
    // images whose file could not be deleted, refused images and empty files are not counted.
    static int waitingImages(const QString& folder, const UploadLedger& ledger);
    // What a look at a task's folder and ledger finds, without a worker's own knowledge of the run: the dialog's look
    // before the worker has said anything, or when an image may have come since its last pass.
    static QueueState queueStateOfFolder(const QString& taskId, const QString& folder, const UploadLedger& ledger);

    // The other tasks whose image folder holds images the teacher uid queued (their database names uid), so that
    // one start finishes every task's uploads, not only the task it was opened for.
    static QList<TaskFolders> otherTasksOf(const QString& uid, const TaskFolders& own);
    // Records in the ledger that the task's images are uid's.
    void claimTask();

    // Credentials, then passes over this loop's task and over the others' until keepGoing() turns false. The
    // others share this loop's credentials and stop predicate.
    void run(const QList<UploadLoop*>& alongside);

private:
    enum class Outcome
    {
        Done,
        Skipped,
        LeavePass,
    };

    // What one pass over the folder gathers.
    struct Pass
    {
        int announced = 0;
        // Milliseconds until the first image that waits may go (-1: none waits).
        qint64 soonestSettle = -1;
        QSet<QString> listed;
        void waitAtMost(qint64 ms);
    };

    // The steps of a pass: the folder listed, each image taken as far as it can go, what is gone forgotten, the
    // pause before the next pass chosen.
    QFileInfoList listFolder();
    // False when the pass must end here.
    bool passOver(const QFileInfo& entry, Pass& pass);
    // Images not looked at in this pass: announced and not deletable, held back, refused in this run.
    bool leftAloneThisPass(const QFileInfo& info, const UploadLedger::Identity& image, const QString& sig, Pass& pass);
    // The ledger's entry, as far as it still speaks for this file.
    UploadLedger::Entry recordedEntry(const QFileInfo& info, const UploadLedger::Identity& image);
    // False while an image that is not whole may still be being written.
    bool settled(const QFileInfo& info, const UploadLedger::Identity& image, const QString& sig, Pass& pass);
    void forgetGone(const QFileInfoList& entries, const QSet<QString>& listed);
    void planNextPass(const Pass& pass, bool folderEmpty);
    // One image's way into the store, attempt after attempt.
    struct Attempt
    {
        QString key;
        QString digest;
        bool mayBeStored = false;
        bool refreshedAfterRefusal = false;
        bool foreignAgain = false;
        int failures = 0;
    };

    Outcome uploadOne(const QFileInfo& info, const UploadLedger::Identity& image, UploadLedger::Entry entry);
    QString recordFreshKey(const UploadLedger::Identity& image, const QString& path, Attempt& attempt);
    // Whether the store's answer ends the attempts (then with outcome) or the image is sent again.
    bool judgePut(int code, const QString& path, const UploadLedger::Identity& image, Attempt& attempt,
                  Outcome* outcome);
    bool judgeFailure(int code, const QString& path, const UploadLedger::Identity& image, Attempt& attempt,
                      Outcome* outcome);
    Outcome announceAndDelete(const QString& path, const UploadLedger::Identity& image, const QString& key);
    // What follows each answer to an announcement.
    void announcementTaken(const QString& path, const UploadLedger::Identity& image);
    void announcementFailed(const UploadLedger::Identity& image);
    void announcementUnanswered(const UploadLedger::Identity& image, const QString& key);
    void announcementRefused(const QString& path, const UploadLedger::Identity& image, const QString& key,
                             const QString& reason);
    bool removeAnnounced(const QString& path, const UploadLedger::Identity& image);
    // Milliseconds for a new key: the clock, but never the same value twice and never going back.
    qint64 nextKeyMs();
    void backOff();
    // Leaves the file alone until the clock reaches now + ms.
    void holdBack(const QString& sig, qint64 ms);
    // Marks it refused in the ledger and for the rest of this run.
    void refuse(const QString& path, const UploadLedger::Identity& image, const QString& reason);
    bool keepGoing() const;
    void changed();
    void setListing(const QFileInfoList& entries);
    void setLink(QueueState::Link link);
    void succeeded();
    void failed(const QString& name, const QString& reason);
    void logOnce(const QString& path, const QString& text);

    Service& m_service;
    Uploader& m_uploader;
    const Clock& m_clock;
    Sleeper& m_sleeper;
    UploadLedger& m_ledger;
    QString m_uid;
    TaskFolders m_folders;
    Intervals m_intervals;
    std::function<bool()> m_keepGoing;
    std::function<bool(const QString&)> m_removeFile;
    int m_backoffMs = 0;
    int m_nextPassDelayMs = 0;
    qint64 m_lastKeyMs = -1;
    // What has been logged about which file, so a file that stays as it is does not fill the log.
    QSet<QString> m_logged;
    // When a file's current size and modification time were first seen, for files whose time lies in the future.
    QHash<QString, qint64> m_firstSeen;
    // Announced images whose file could not be deleted, and when to try again.
    QHash<QString, qint64> m_undeleted;
    // Images waiting for their own next attempt (an unanswered announcement, a file that keeps failing), and when.
    QHash<QString, qint64> m_heldBack;
    // Images refused in this run: left alone until the next start.
    QSet<QString> m_refusedThisRun;

    // What the queue state is gathered from: this pass's listing less the images done since, and what the loop keeps
    // itself about each file in this run.
    QList<QueueState::Image> m_listing;
    QSet<QString> m_doneThisPass;
    QueueState::Runtime m_runtime;
    QueueState::Link m_link = QueueState::Link::Ok;
    qint64 m_lastSuccessMs = 0;
    std::function<void()> m_onChange;
    std::function<QStringList()> m_takeRetries;
};
