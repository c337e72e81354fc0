#include "TestClock.h"

#include <QDateTime>

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
    m_followsSystem = false;
}

void TestClock::advance(qint64 ms)
{
    if (m_followsSystem.exchange(false))
        m_now = QDateTime::currentMSecsSinceEpoch();
    m_now += ms;
}

void TestClock::setStepPerRead(qint64 ms)
{
    m_step = ms;
}

void TestClock::followSystemTime()
{
    m_followsSystem = true;
}

qint64 TestClock::now() const
{
    return m_followsSystem ? QDateTime::currentMSecsSinceEpoch() : m_now.load();
}

qint64 TestClock::lastReading() const
{
    return m_lastReading;
}

void TestClock::stepWallClock(qint64 ms)
{
    m_wallOffset += ms;
}

qint64 TestClock::read() const
{
    return m_followsSystem ? QDateTime::currentMSecsSinceEpoch() : m_now.fetch_add(m_step.load());
}

qint64 TestClock::currentMSecsSinceEpoch() const
{
    const qint64 reading = read() + m_wallOffset;
    m_lastReading = reading;
    return reading;
}

qint64 TestClock::monotonicMSecs() const
{
    const qint64 reading = read();
    m_lastReading = reading;
    return reading;
}
