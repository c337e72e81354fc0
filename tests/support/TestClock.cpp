#include "TestClock.h"

TestClock::TestClock(qint64 nowMs) : m_now(nowMs)
{
    Clock::setCurrent(this);
}

TestClock::~TestClock()
{
    if (&Clock::current() == this)
        Clock::setCurrent(nullptr);
}

void TestClock::set(qint64 nowMs)
{
    m_now = nowMs;
}

void TestClock::advance(qint64 ms)
{
    m_now += ms;
}

void TestClock::setStepPerRead(qint64 ms)
{
    m_step = ms;
}

qint64 TestClock::currentMSecsSinceEpoch() const
{
    return m_now.fetch_add(m_step.load());
}

qint64 TestClock::monotonicMSecs() const
{
    return currentMSecsSinceEpoch();
}
