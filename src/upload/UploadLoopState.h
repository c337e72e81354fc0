#pragma once

#include <functional>

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

    void setListing(const QFileInfoList& entries);
    // The image is done (announced, or only its deletion was left): no longer counted.
    void done(const QString& name);
    void setInFlight(const QString& name);
    void failed(const QString& name, const QString& reason);
    // Forgets the file's failed attempts and their reason.
    void forget(const QString& name);
    // Forgets what is kept about files not among these names.
    void keepOnly(const QSet<QString>& names);

    QueueState::Link link() const;
    void setLink(QueueState::Link link);
    // The store or the service took something now: the link is sound.
    void succeeded(qint64 nowMs);
    qint64 lastSuccessMs() const;
    // The listing as it stands (what a retry request names files in).
    const QList<QueueState::Image>& listing() const;

    // Adds this task's share from the listing and one query of the ledger.
    void gather(QueueState& state, const UploadLedger& ledger) const;

private:
    QString m_taskId;
    QList<QueueState::Image> m_listing;
    QSet<QString> m_doneThisPass;
    QueueState::Runtime m_runtime;
    QueueState::Link m_link = QueueState::Link::Ok;
    qint64 m_lastSuccessMs = 0;
    std::function<void()> m_onChange;
};
