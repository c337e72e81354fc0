#pragma once

#include <atomic>

#include "core/Clock.h"

// A clock that moves only when the test moves it. It becomes the program's current clock when made; when it goes
// while still current, the system's clock is current again.
class TestClock : public Clock
{
public:
    explicit TestClock(qint64 nowMs = 1'700'000'000'000);
    ~TestClock() override;
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    void set(qint64 nowMs);
    void advance(qint64 ms);
    // Every reading moves the clock on by ms after it is taken (0: it stands still between the test's moves).
    void setStepPerRead(qint64 ms);
    // Readings are the system's time until the test sets the clock or moves it (then from the system's present on),
    // for tests that compare readings with real files' times and real waits.
    void followSystemTime();
    // The system's time set forwards or back by ms: the epoch readings jump from now on, the monotonic ones do not.
    void stepWallClock(qint64 ms);

    // What the next reading answers, without taking one.
    qint64 now() const;
    // What the last reading answered, on whichever thread it was taken (0 before the first).
    qint64 lastReading() const;

    qint64 currentMSecsSinceEpoch() const override;
    qint64 monotonicMSecs() const override;

private:
    qint64 read() const;

    mutable std::atomic<qint64> m_now;
    std::atomic<qint64> m_wallOffset{0};
    std::atomic<qint64> m_step{0};
    std::atomic<bool> m_followsSystem{false};
    mutable std::atomic<qint64> m_lastReading{0};
};
