#pragma once

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

class QFileInfo;

// What the upload worker publishes about its queue: per task the images still to send, being sent, stored but not
// yet taken by the service, and refused (kept in the folder, not waited for), the rows of the queue window, and the
// state of the link to the service and the store. A plain value: made on the worker's thread, read on the GUI's.
struct QueueState
{
    enum class Link
    {
        Ok,
        ServiceUnreachable,
        StoreUnreachable,
        TokenRefused,
        SecureLinkFailed,
        // Another running copy of the program holds the task's folder: it sends the images, not this one.
        OtherCopy,
    };

    enum class ImageState
    {
        Waiting,
        InFlight,
        StoredNotAnnounced,
        Refused,
    };

    struct Task
    {
        QString taskId;
        int waiting = 0;
        int inFlight = 0;
        int storedNotAnnounced = 0;
        int refused = 0;
    };

    struct Image
    {
        QString taskId;
        QString name;
        QString path;
        ImageState state = ImageState::Waiting;
        int attempts = 0;
        QString reason;
        // Size and modification time as listed: what the ledger knows the image by.
        qint64 size = 0;
        qint64 modifiedMs = 0;
    };

    // What the title bar and the tray show.
    enum class Kind
    {
        Idle,      // nothing left to upload
        Uploading, // images on their way
        Offline,   // images kept here while the service or the store cannot be reached
        Refused,   // images that will not be uploaded without the teacher
    };

    struct Summary
    {
        Kind kind = Kind::Idle;
        QString shortText;
        QString fullText;
    };

    // The queue window lists at most this many rows (refused ones first); the counts cover every image.
    static constexpr int MaxImages = 10000;

    QList<Task> tasks;
    QList<Image> images;
    Link link = Link::Ok;
    // When the store or the service last took something (ms since the epoch); 0: not in this run.
    qint64 lastSuccessMs = 0;
    // Whether a worker has published anything yet.
    bool published = false;

    // Images still to be uploaded or announced, over every task (refused ones not counted).
    int pending() const;
    int refused() const;
    // Images being sent right now (one per worker at most).
    int inFlight() const;
    // "name（reason）" of each refused image listed, in the order of the rows.
    QStringList refusedImages() const;
    Summary summary() const;
    bool operator==(const QueueState& other) const;
    bool operator!=(const QueueState& other) const { return !(*this == other); }

    static QString stateText(ImageState state);
    static QString linkText(Link link);

    // What the worker keeps itself about its task in this run, per file name.
    struct Runtime
    {
        // The file being sent right now; empty: none.
        QString inFlight;
        // Failed attempts since the file's last success, and the last failure's reason. Refusals are kept in the
        // ledger, with the attempts the service answered without taking the image.
        QHash<QString, int> attempts;
        QHash<QString, QString> reasons;
    };

    // A listed file as the queue shows it: name, path, size and modification time (state Waiting).
    static Image listed(const QString& taskId, const QFileInfo& info);
};

Q_DECLARE_METATYPE(QueueState)
