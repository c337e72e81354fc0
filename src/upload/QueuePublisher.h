#pragma once

#include <functional>

#include <QList>

#include "core/Clock.h"
#include "upload/QueueState.h"
#include "upload/UploadInterfaces.h"

class UploadLoop;

// Publishes the worker's queue state for its loops without gathering it on every small step: at most once per
// interval while the worker is busy, and whatever is left unpublished before each of its pauses, so the last state
// is always shown while the worker waits. Gathering a state means a query of each task's database and a walk over
// each folder's listing, too much to do several times per image of a folder of thousands. A long pause is slept in
// short pieces, and a folder that changed meanwhile (a sheet dropped in while the store is away) is published
// between two of them, so the count the teacher reads follows the folder within a fraction of a second.
class QueuePublisher : public Sleeper
{
public:
    QueuePublisher(Sleeper& sleeper, const Clock& clock, std::function<void(const QueueState&)> publish,
                   int intervalMs = 100);

    // The longest piece a pause is slept in before the folders are looked at.
    static constexpr int LookEveryMs = 150;

    // The loops whose state is published; each loop's onChange is pointed here.
    void watch(const QList<UploadLoop*>& loops);
    // A loop's state may have changed.
    void changed();
    // Publishes now when something is left unpublished.
    void flush();
    // While an image is being sent, at most every LookEveryMs: what is left unpublished, or else a folder that
    // changed, is published, as between two pieces of a pause.
    void whileSending();

    void sleep(int ms) override;
    void waitForChange(const QString& folder, int ms) override;

private:
    void publishNow();
    // Publishes when a watched folder changed since its loop listed it.
    void publishChangedFolder();

    Sleeper& m_sleeper;
    const Clock& m_clock;
    std::function<void(const QueueState&)> m_publish;
    int m_intervalMs;
    QList<const UploadLoop*> m_loops;
    qint64 m_lastPublishedMs = -1;
    qint64 m_lastLookMs = -1;
    bool m_pending = false;
};
