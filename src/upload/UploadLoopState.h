#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QFileInfoList>
#include <QList>
#include <QSet>
#include <QString>

#include "upload/QueueState.h"

class UploadLedger;

// What one task's loop tells the queue: the pass's listing less the images done since, what it keeps itself about
// each file in this run (the one in flight, failed attempts and their reasons), and the link to the service and the
// store. Every change is signalled to the worker, which gathers and publishes the state from there.
class UploadLoopState
{
public:
    explicit UploadLoopState(const QString& taskId);

    void setOnChange(std::function<void()> onChange);
    // What the queue shows may have changed.
    void changed();

    // The pass's listing of folder, looked at when the folder's time read folderTimeMs (before listing it).
    void setListing(const QFileInfoList& entries, const QString& folder, qint64 folderTimeMs);
    // The image is done (announced, or only its deletion was left): no longer counted.
    void done(const QString& name);
    void setInFlight(const QString& name);
    void failed(const QString& name, const QString& reason);
    // Forgets the file's failed attempts and their reason.
    void forget(const QString& name);
    // Forgets what is kept about files not among these names.
    void keepOnly(const QSet<QString>& names);

    // The link as the queue shows it: the service's trouble first (nothing is announced without it), else the
    // store's.
    QueueState::Link link() const;
    QueueState::Link serviceLink() const;
    QueueState::Link storeLink() const;
    // What the last call to the service or the store found; each side is followed apart, so a store that takes
    // images never hides a service that does not answer.
    void setServiceLink(QueueState::Link link);
    void setStoreLink(QueueState::Link link);
    // The store or the service took something now: that side is sound.
    void storeTook(qint64 nowMs);
    void serviceTook(qint64 nowMs);
    qint64 lastSuccessMs() const;
    // The listing as it stands (what a retry request names files in).
    const QList<QueueState::Image>& listing() const;

    // Whether files may have come or gone since the folder was last listed: its time moved. (A file that comes in
    // the same tick of the file system's clock as the listing shows from the next change or the next pass on.)
    bool folderChangedSinceListing() const;
    // The worker itself took a file out of the folder (it is no longer counted anyway): when the listing was
    // current before, it still is, so a folder emptied by the worker is not listed again after every image.
    void ownChange(bool listingWasCurrent);
    // Adds this task's share from the listing and one query of the ledger. A folder changed since its listing is
    // listed again first, so files that arrive while the worker is busy count at once, not from the next pass on.
    void gather(QueueState& state, const UploadLedger& ledger) const;

private:
    void relist(const QFileInfoList& entries, qint64 folderTimeMs) const;
    // One side of the link (the service or the store) and, while it is in trouble, how long it has been.
    struct LinkSide
    {
        QueueState::Link link = QueueState::Link::Ok;
        QElapsedTimer down;
    };
    void followLink(const char* side, LinkSide& current, QueueState::Link link);

    QString m_taskId;
    // A cache of the folder's listing: gather() may refresh it.
    mutable QList<QueueState::Image> m_listing;
    QString m_folder;
    mutable qint64 m_listedFolderMs = -1;
    QSet<QString> m_doneThisPass;
    QueueState::Runtime m_runtime;
    LinkSide m_service;
    LinkSide m_store;
    qint64 m_lastSuccessMs = 0;
    std::function<void()> m_onChange;
};
