#pragma once

#include "core/TaskDatabase.h"

#include <QHash>
#include <QString>

// What the upload worker knows about each image of the task's image folder, kept in the task database so that a
// crash or a restart at any moment costs no second object in the store and no second announcement. An image is
// known by its name, size and modification time; the same name with other contents is another image.
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
    };

    // Opens the task's database; when that cannot be made at all, an in-memory one, so uploading never stops.
    bool openForTask(const QString& taskId);

    Entry find(const Identity& image) const;
    // Records (or replaces) the key an image is about to be sent under; its state becomes Sent.
    bool recordSending(const Identity& image, const QString& key, qint64 keyMs);
    bool markStored(const Identity& image);
    bool markAnnounced(const Identity& image);
    bool markDeleted(const Identity& image);
    // The images stored but not yet taken by the service, or taken but whose file is still there, in one query:
    // keyed by signatureOf().
    QHash<QString, State> unfinished() const;
    static QString signatureOf(const Identity& image);
    // The highest key time ever recorded, so that keys never go back even across restarts; 0 when none.
    qint64 highestKeyMs() const;

private:
    bool setState(const Identity& image, State state);
};
