#include "upload/UploadLoopState.h"

#include <QDateTime>
#include <QFileInfo>

#include "core/AppLog.h"
#include "upload/QueueLookup.h"
#include "upload/UploadFolder.h"

namespace {

qint64 folderTime(const QString& folder)
{
    return QFileInfo(folder).lastModified().toMSecsSinceEpoch();
}

const char* linkName(QueueState::Link link)
{
    switch (link) {
    case QueueState::Link::Ok:
        return "reachable";
    case QueueState::Link::ServiceUnreachable:
    case QueueState::Link::StoreUnreachable:
        return "unreachable";
    case QueueState::Link::TokenRefused:
        return "upload token refused";
    case QueueState::Link::SecureLinkFailed:
        return "no secure connection";
    case QueueState::Link::OtherCopy:
        return "another copy holds the folder";
    }
    return "?";
}

} // namespace

UploadLoopState::UploadLoopState(const QString& taskId) : m_taskId(taskId) {}

void UploadLoopState::setOnChange(std::function<void()> onChange)
{
    m_onChange = std::move(onChange);
}

void UploadLoopState::changed()
{
    if (m_onChange)
        m_onChange();
}

void UploadLoopState::setListing(const QFileInfoList& entries, const QString& folder, qint64 folderTimeMs)
{
    m_folder = folder;
    relist(entries, folderTimeMs);
    m_doneThisPass.clear();
}

void UploadLoopState::relist(const QFileInfoList& entries, qint64 folderTimeMs) const
{
    m_listing.clear();
    m_listing.reserve(entries.size());
    for (const QFileInfo& info : entries)
        m_listing << QueueState::listed(m_taskId, info);
    m_listedFolderMs = folderTimeMs;
}

bool UploadLoopState::folderChangedSinceListing() const
{
    return !m_folder.isEmpty() && folderTime(m_folder) != m_listedFolderMs;
}

void UploadLoopState::ownChange(bool listingWasCurrent)
{
    if (listingWasCurrent && !m_folder.isEmpty())
        m_listedFolderMs = folderTime(m_folder);
}

void UploadLoopState::done(const QString& name)
{
    m_doneThisPass.insert(name);
}

void UploadLoopState::setInFlight(const QString& name)
{
    m_runtime.inFlight = name;
}

void UploadLoopState::failed(const QString& name, const QString& reason)
{
    m_runtime.attempts[name] += 1;
    m_runtime.reasons.insert(name, reason);
}

void UploadLoopState::forget(const QString& name)
{
    m_runtime.attempts.remove(name);
    m_runtime.reasons.remove(name);
}

void UploadLoopState::keepOnly(const QSet<QString>& names)
{
    for (auto it = m_runtime.reasons.begin(); it != m_runtime.reasons.end();)
        it = names.contains(it.key()) ? std::next(it) : m_runtime.reasons.erase(it);
    for (auto it = m_runtime.attempts.begin(); it != m_runtime.attempts.end();)
        it = names.contains(it.key()) ? std::next(it) : m_runtime.attempts.erase(it);
}

QueueState::Link UploadLoopState::link() const
{
    return m_service.link != QueueState::Link::Ok ? m_service.link : m_store.link;
}

QueueState::Link UploadLoopState::serviceLink() const
{
    return m_service.link;
}

QueueState::Link UploadLoopState::storeLink() const
{
    return m_store.link;
}

void UploadLoopState::setServiceLink(QueueState::Link link)
{
    followLink("service", m_service, link);
}

void UploadLoopState::setStoreLink(QueueState::Link link)
{
    followLink("store", m_store, link);
}

// Support reads the log to learn when the link went and for how long: one line when a side goes, one when it is
// back. How long is measured on the monotonic clock, so a clock set meanwhile does not change it.
void UploadLoopState::followLink(const char* side, LinkSide& current, QueueState::Link link)
{
    if (current.link == link)
        return;
    if (link == QueueState::Link::Ok) {
        const qint64 seconds = current.down.isValid() ? current.down.elapsed() / 1000 : 0;
        AppLog::write(QStringLiteral("upload link: %1: reachable again (was %2 for %3 s), task %4")
                          .arg(QLatin1String(side), QLatin1String(linkName(current.link)))
                          .arg(seconds)
                          .arg(m_taskId));
        current.down.invalidate();
    } else {
        if (current.link == QueueState::Link::Ok)
            current.down.start();
        AppLog::write(QStringLiteral("upload link: %1: %2, task %3, images kept in the folder")
                          .arg(QLatin1String(side), QLatin1String(linkName(link)), m_taskId));
    }
    current.link = link;
    changed();
}

void UploadLoopState::storeTook(qint64 nowMs)
{
    m_lastSuccessMs = nowMs;
    setStoreLink(QueueState::Link::Ok);
}

void UploadLoopState::serviceTook(qint64 nowMs)
{
    m_lastSuccessMs = nowMs;
    setServiceLink(QueueState::Link::Ok);
}

qint64 UploadLoopState::lastSuccessMs() const
{
    return m_lastSuccessMs;
}

const QList<QueueState::Image>& UploadLoopState::listing() const
{
    return m_listing;
}

void UploadLoopState::gather(QueueState& state, const UploadLedger& ledger) const
{
    if (folderChangedSinceListing()) {
        const qint64 time = folderTime(m_folder);
        relist(UploadFolder::listImages(m_folder), time);
    }
    if (m_doneThisPass.isEmpty()) {
        QueueLookup::addTask(state, m_taskId, m_listing, ledger, m_runtime);
        return;
    }
    QList<QueueState::Image> left;
    left.reserve(m_listing.size());
    for (const QueueState::Image& image : m_listing) {
        if (!m_doneThisPass.contains(image.name))
            left << image;
    }
    QueueLookup::addTask(state, m_taskId, left, ledger, m_runtime);
}
