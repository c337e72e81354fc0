#include "core/Clock.h"

#include <atomic>

#include <QDateTime>
#include <QElapsedTimer>

namespace {

std::atomic<const Clock*> installed{nullptr};

} // namespace

qint64 Clock::currentMSecsSinceEpoch() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 Clock::monotonicMSecs() const
{
    static QElapsedTimer timer;
    static const bool started = (timer.start(), true);
    Q_UNUSED(started)
    return timer.elapsed();
}

const Clock& Clock::current()
{
    static const Clock system;
    const Clock* clock = installed.load();
    return clock ? *clock : system;
}

const Clock* Clock::setCurrent(const Clock* clock)
{
    return installed.exchange(clock);
}
