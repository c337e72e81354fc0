#include <QDir>

#include "upload/UploadFolder.h"
#include "upload/UploadLoop.h"

// The queue state a loop publishes: the listing, the link to the store and the service, what failed and why.

void UploadLoop::changed()
{
    if (m_onChange)
        m_onChange();
}

void UploadLoop::gather(QueueState& state) const
{
    if (!m_folders.isValid())
        return;
    if (m_doneThisPass.isEmpty()) {
        state.addTask(m_folders.taskId(), m_listing, m_ledger, m_runtime);
        return;
    }
    QList<QueueState::Image> left;
    left.reserve(m_listing.size());
    for (const QueueState::Image& image : m_listing) {
        if (!m_doneThisPass.contains(image.name))
            left << image;
    }
    state.addTask(m_folders.taskId(), left, m_ledger, m_runtime);
}

QueueState UploadLoop::queueStateOf(const QList<const UploadLoop*>& loops)
{
    QueueState state;
    state.published = true;
    for (const UploadLoop* loop : loops) {
        loop->gather(state);
        if (loop->link() != QueueState::Link::Ok)
            state.link = loop->link();
        state.lastSuccessMs = std::max(state.lastSuccessMs, loop->lastSuccessMs());
    }
    return state;
}

void UploadLoop::setListing(const QFileInfoList& entries)
{
    m_listing.clear();
    m_listing.reserve(entries.size());
    for (const QFileInfo& info : entries)
        m_listing << QueueState::listed(m_folders.taskId(), info);
    m_doneThisPass.clear();
}

QueueState::Link UploadLoop::link() const
{
    return m_link;
}

qint64 UploadLoop::lastSuccessMs() const
{
    return m_lastSuccessMs;
}

void UploadLoop::setLink(QueueState::Link link)
{
    if (m_link == link)
        return;
    m_link = link;
    changed();
}

void UploadLoop::succeeded()
{
    m_lastSuccessMs = m_clock.currentMSecsSinceEpoch();
    m_link = QueueState::Link::Ok;
}

void UploadLoop::failed(const QString& name, const QString& reason)
{
    m_runtime.attempts[name] += 1;
    m_runtime.reasons.insert(name, reason);
}

int UploadLoop::waitingImages(const QString& folder, const UploadLedger& ledger)
{
    return queueStateOfFolder(QString(), folder, ledger).pending();
}

QueueState UploadLoop::queueStateOfFolder(const QString& taskId, const QString& folder, const UploadLedger& ledger)
{
    QList<QueueState::Image> listing;
    for (const QFileInfo& info : UploadFolder::listImages(folder))
        listing << QueueState::listed(taskId, info);
    QueueState state;
    state.addTask(taskId, listing, ledger, QueueState::Runtime());
    // A look from outside: nothing was said by a worker.
    state.published = false;
    return state;
}

void UploadLoop::setOnChange(std::function<void()> onChange)
{
    m_onChange = std::move(onChange);
}

void UploadLoop::setTakeRetries(std::function<QStringList()> takeRetries)
{
    m_takeRetries = std::move(takeRetries);
}
