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

    qint64 currentMSecsSinceEpoch() const override;
    qint64 monotonicMSecs() const override;

private:
    mutable std::atomic<qint64> m_now;
    std::atomic<qint64> m_step{0};
};
