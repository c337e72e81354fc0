#pragma once

#include <functional>

#include <QFileInfoList>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include "core/Clock.h"
#include "core/TaskFolders.h"
#include "upload/ImageSender.h"
#include "upload/QueueState.h"
#include "upload/UploadInterfaces.h"
#include "upload/UploadIntervals.h"
#include "upload/UploadLoopState.h"

class PassImage;

// The upload worker's loop for one task: fetch the upload credentials, then empty the task's image folder into the
// object store pass after pass. A pass lists the folder and takes each image as far as it can go; the way of one
// image (sent, announced, deleted, retried) is the sender's, what the queue shows is the loop state's. Clock, sleep,
// the store, the service and the ledger are injected so the loop can be driven fast by tests; the worker wires the
// real ones.
class UploadLoop
{
public:
    using Sleeper = ::Sleeper;
    using ThreadSleeper = ::ThreadSleeper;
    using Uploader = ::Uploader;
    using Service = UploadService;
    using Announcement = UploadService::Announcement;
    using Intervals = UploadIntervals;

    // The store's codes, as the loop's callers name them.
    static constexpr int Stored = Uploader::Stored;
    static constexpr int TokenRefused = Uploader::TokenRefused;
    static constexpr int AlreadyStored = Uploader::AlreadyStored;
    static constexpr int NotStored = Uploader::NotStored;
    static constexpr int FileUnreadable = Uploader::FileUnreadable;
    static constexpr int Unconfirmed = Uploader::Unconfirmed;
    static constexpr int SecureConnectionFailed = Uploader::SecureConnectionFailed;

    // Why an image was refused before anything was sent.
    static QString notAnImageReason();

    UploadLoop(Service& service, Uploader& uploader, const Clock& clock, Sleeper& sleeper, UploadLedger& ledger,
               const QString& uid, const TaskFolders& folders, const Intervals& intervals = Intervals());
    // The sender and the state refer to the loop's own members.
    UploadLoop(const UploadLoop&) = delete;
    UploadLoop& operator=(const UploadLoop&) = delete;

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
    // Asked at the start of each pass for the refused images the teacher will not upload ("不再上传").
    void setTakeSetAside(std::function<QStringList()> takeSetAside);

    // Adds this task's share of the queue state from the loop's own listing and the ledger (no second listing).
    void gather(QueueState& state) const;
    QueueState::Link link() const;
    // The queue state of every task the worker empties: each loop's share, the link state of any loop that has a
    // problem (they share the service and the store), the latest success of any. What the worker publishes.
    static QueueState queueStateOf(const QList<const UploadLoop*>& loops);
    qint64 lastSuccessMs() const;
    // Forgets the file's refusal, in the ledger too: it is sent again on the next pass.
    void retry(const QString& fileName);
    // Moves a refused image into the task's set-aside folder, never deleting it: out of the queue and of every
    // count. False, with the reason shown on its row and logged, when it is not refused or cannot be moved (it
    // then stays refused in the folder, and the teacher may ask again).
    bool setAside(const QString& fileName);

    // Credentials, then passes until keepGoing() turns false.
    void run();
    // Credentials, then passes over this loop's task and over the others' until keepGoing() turns false. The
    // others share this loop's credentials and stop predicate.
    void run(const QList<UploadLoop*>& alongside);

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

    // Whether files may have come or gone since the last listing: the next state published counts them.
    bool folderChangedSinceListing() const;

    // The task's image folder (empty without a task).
    QString folder() const;

    static QString objectKey(const QString& uid, const QString& taskId, qint64 ms, const QString& fileName);

    // Records in the ledger that the task's images are uid's.
    void claimTask();

private:
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
    // The ledger's entry, as far as it still speaks for this file.
    UploadLedger::Entry recordedEntry(PassImage& image);
    // False while an image that is not whole may still be being written.
    bool settled(PassImage& image, Pass& pass);
    void forgetGone(const QFileInfoList& entries, const QSet<QString>& listed);
    void planNextPass(const Pass& pass, bool folderEmpty);

    Service& m_service;
    Sleeper& m_sleeper;
    UploadLedger& m_ledger;
    QString m_uid;
    TaskFolders m_folders;
    Intervals m_intervals;
    const Clock& m_clock;
    UploadLoopState m_state;
    ImageSender m_sender;
    int m_nextPassDelayMs = 0;
    // When a file's current size and modification time were first seen, for files whose time lies in the future.
    QHash<QString, qint64> m_firstSeen;
    std::function<QStringList()> m_takeRetries;
    std::function<QStringList()> m_takeSetAside;
};
