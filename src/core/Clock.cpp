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
    // Since the system's start, not the program's: guards that compare with a last time of 0 ("never") then hold
    // from the first reading on.
    QElapsedTimer timer;
    timer.start();
    return timer.msecsSinceReference();
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
