#include "upload/UploadLoopState.h"

#include "upload/QueueLookup.h"

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

void UploadLoopState::setListing(const QFileInfoList& entries)
{
    m_listing.clear();
    m_listing.reserve(entries.size());
    for (const QFileInfo& info : entries)
        m_listing << QueueState::listed(m_taskId, info);
    m_doneThisPass.clear();
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
    return m_link;
}

void UploadLoopState::setLink(QueueState::Link link)
{
    if (m_link == link)
        return;
    m_link = link;
    changed();
}

void UploadLoopState::succeeded(qint64 nowMs)
{
    m_lastSuccessMs = nowMs;
    m_link = QueueState::Link::Ok;
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
