#include "upload/QueuePublisher.h"

#include <algorithm>

#include "upload/UploadLoop.h"

QueuePublisher::QueuePublisher(Sleeper& sleeper, const Clock& clock, std::function<void(const QueueState&)> publish,
                               int intervalMs)
    : m_sleeper(sleeper), m_clock(clock), m_publish(std::move(publish)), m_intervalMs(intervalMs)
{
}

void QueuePublisher::watch(const QList<UploadLoop*>& loops)
{
    for (UploadLoop* loop : loops) {
        m_loops << loop;
        loop->setOnChange([this] { changed(); });
    }
}

void QueuePublisher::changed()
{
    const qint64 now = m_clock.currentMSecsSinceEpoch();
    // A clock set back counts as time gone by.
    if (m_lastPublishedMs < 0 || now - m_lastPublishedMs >= m_intervalMs || now < m_lastPublishedMs)
        publishNow();
    else
        m_pending = true;
}

void QueuePublisher::flush()
{
    if (m_pending)
        publishNow();
}

void QueuePublisher::publishNow()
{
    m_pending = false;
    m_lastPublishedMs = m_clock.currentMSecsSinceEpoch();
    m_publish(UploadLoop::queueStateOf(m_loops));
}

void QueuePublisher::sleep(int ms)
{
    flush();
    int left = ms;
    while (left > 0) {
        const int piece = std::min(left, LookEveryMs);
        m_sleeper.sleep(piece);
        left -= piece;
        if (left <= 0)
            break;
        publishChangedFolder();
    }
}

void QueuePublisher::whileSending()
{
    const qint64 now = m_clock.monotonicMSecs();
    if (m_lastLookMs >= 0 && now - m_lastLookMs < LookEveryMs)
        return;
    m_lastLookMs = now;
    // What the worker said just before sending (this image on its way) is shown too.
    if (m_pending)
        publishNow();
    else
        publishChangedFolder();
}

void QueuePublisher::publishChangedFolder()
{
    const bool folderChanged = std::any_of(m_loops.begin(), m_loops.end(),
                                           [](const UploadLoop* loop) { return loop->folderChangedSinceListing(); });
    if (folderChanged)
        publishNow();
}

void QueuePublisher::waitForChange(const QString& folder, int ms)
{
    flush();
    m_sleeper.waitForChange(folder, ms);
}
