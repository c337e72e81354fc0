#pragma once

#include <functional>

#include <QHash>
#include <QSet>
#include <QString>

#include "upload/UploadIntervals.h"
#include "upload/UploadLedger.h"

class Clock;
class PassImage;
class Sleeper;
class UploadLoopState;
class UploadService;
class Uploader;

// One image's way out of the folder: sent to the store attempt after attempt, announced to the service, deleted.
// It also keeps the run's memory of the files it could not finish (held back for a while, refused, announced but
// not deletable), which the pass asks before it takes an image. The ledger records the key before the first byte
// leaves and each step passed, so a crash at any moment costs no second object and no second announcement.
class ImageSender
{
public:
    enum class Outcome
    {
        Done,
        Skipped,
        LeavePass,
    };

    ImageSender(UploadService& service, Uploader& uploader, const Clock& clock, Sleeper& sleeper, UploadLedger& ledger,
                UploadLoopState& state, const UploadIntervals& intervals, const QString& uid, const QString& taskId);

    void setKeepGoing(std::function<bool()> keepGoing);
    void setRemoveFile(std::function<bool(const QString&)> removeFile);
    bool keepGoing() const;

    static QString objectKey(const QString& uid, const QString& taskId, qint64 ms, const QString& fileName);

    // Sends the image, then announces and deletes it. A file known as sent goes again under its recorded key.
    Outcome send(PassImage& image, const UploadLedger::Entry& entry);
    // The service is told of a stored image; once it took it, the file is deleted.
    Outcome announceAndDelete(PassImage& image, const QString& key);
    // Deletes an announced image's file; false when it could not be deleted (tried again after a while).
    bool removeAnnounced(const PassImage& image);
    // Marks it refused in the ledger and for the rest of this run.
    void refuse(const PassImage& image, const QString& reason);

    // Whether the pass leaves the image alone this time: announced and not deletable, held back (*waitMs is then
    // how long), refused in this run.
    bool leftAloneThisPass(const PassImage& image, qint64* waitMs);
    // The teacher asked for it to be tried again.
    void forgetRefusal(const UploadLedger::Identity& image);
    // What is kept about files whose signature is not among these goes with them.
    void forgetGone(const QSet<QString>& listed);

    // Logs text about path once in this run, so a file that stays as it is does not fill the log.
    void logOnce(const QString& path, const QString& text);

private:
    // One image's attempts.
    struct Attempt
    {
        bool mayBeStored = false;
        bool refreshedAfterRefusal = false;
        bool foreignAgain = false;
        int failures = 0;
    };

    void recordFreshKey(PassImage& image);
    // Whether the store's answer ends the attempts (then with outcome) or the image is sent again.
    bool judgePut(int code, PassImage& image, Attempt& attempt, Outcome* outcome);
    bool judgeFailure(int code, const PassImage& image, Attempt& attempt, Outcome* outcome);
    void announcementTaken(const PassImage& image);
    void announcementFailed(const PassImage& image);
    void announcementUnanswered(const PassImage& image, const QString& key);
    void announcementRefused(const PassImage& image, const QString& key, const QString& reason);
    // Milliseconds for a new key: the clock, but never the same value twice and never going back.
    qint64 nextKeyMs();
    void backOff();
    // Leaves the file alone until the clock reaches now + ms.
    void holdBack(const QString& signature, qint64 ms);

    UploadService& m_service;
    Uploader& m_uploader;
    const Clock& m_clock;
    Sleeper& m_sleeper;
    UploadLedger& m_ledger;
    UploadLoopState& m_state;
    const UploadIntervals& m_intervals;
    QString m_uid;
    QString m_taskId;
    std::function<bool()> m_keepGoing;
    std::function<bool(const QString&)> m_removeFile;
    int m_backoffMs = 0;
    qint64 m_lastKeyMs = -1;
    QSet<QString> m_logged;
    // Announced images whose file could not be deleted, and when to try again.
    QHash<QString, qint64> m_undeleted;
    // Images waiting for their own next attempt (an unanswered announcement, a file that keeps failing), and when.
    QHash<QString, qint64> m_heldBack;
    // Images refused in this run: left alone until the next start.
    QSet<QString> m_refusedThisRun;
};
