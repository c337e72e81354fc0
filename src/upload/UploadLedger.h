#pragma once

#include <QHash>
#include <QString>

#include "core/TaskDatabase.h"
#include "core/TaskFolders.h"

// What the upload worker knows about each image of the task's image folder, kept in the task database so that a
// crash or a restart at any moment costs no second object in the store and no second announcement. An image is
// known by its name, size and modification time, and a digest of its bytes taken when its key is recorded: the same
// name with other contents is another image. An image the store or the service refused keeps the reason; the
// database also names the teacher who queued the task's images, so a later start by the same teacher finishes them.
//
// One object per thread: the worker opens its own, the wait dialog another on the GUI thread.
class UploadLedger : public TaskDatabase
{
public:
    enum class State
    {
        Unknown = -1,
        Sent = 0,      // the key is recorded; the store may or may not hold the object
        Stored = 1,    // the store confirmed the object under the key
        Announced = 2, // the service took the announcement; only the local file is left to delete
        Deleted = 3,   // done; a file of the same name, size and time turning up later is a new image
    };

    struct Identity
    {
        QString name;
        qint64 size = 0;
        qint64 modifiedMs = 0;
    };

    struct Entry
    {
        State state = State::Unknown;
        QString key;
        QString digest;
        // Announcements made without a clear answer, and announcements the service refused, since the last one it
        // took.
        int attempts = 0;
        int refusals = 0;
        // Why the store or the service refused the image; empty when it was not refused.
        QString refusedReason;
    };

    // The digest kept for a file: SHA-1 of its bytes, read in pieces; empty when it cannot be read.
    static QString digestOf(const QString& path);

    // Opens the task's database; when that cannot be made at all, or was written by a newer version of the
    // program (and is then left alone), an in-memory one, so uploading never stops.
    bool openForTask(const TaskFolders& folders);

    Entry find(const Identity& image) const;
    // Records (or replaces) the key an image is about to be sent under; its state becomes Sent.
    bool recordSending(const Identity& image, const QString& key, qint64 keyMs, const QString& digest = QString());
    bool markStored(const Identity& image);
    bool markAnnounced(const Identity& image);
    bool markDeleted(const Identity& image);
    // Counts one more announcement without a clear answer; returns the count.
    int countAttempt(const Identity& image);
    // Counts one more announcement the service refused; returns the refusals counted.
    int countRefusal(const Identity& image);
    // Marks the image refused with the reason, whether or not it was ever sent.
    bool markRefused(const Identity& image, const QString& reason);
    // Forgets a refusal (the image is tried again); the key and the progress stay.
    bool clearRefusal(const Identity& image);

    // The teacher (uid) whose images the task's folder holds; empty when none was recorded.
    bool setOwner(const QString& uid);
    QString owner() const;
    // The images stored but not yet taken by the service, taken but whose file is still there, refused, or announced
    // without a clear answer, in one query: keyed by signatureOf() (state, attempts and refusal; no key or digest).
    QHash<QString, Entry> unfinished() const;
    static QString signatureOf(const Identity& image);
    // The highest key time ever recorded, so that keys never go back even across restarts; 0 when none.
    qint64 highestKeyMs() const;

private:
    bool setState(const Identity& image, State state);
    // Adds one to a counting column of the image's row.
    void countOneMore(const Identity& image, const QString& column, const char* what);
};
