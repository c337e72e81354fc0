#pragma once

#include <QtGlobal>

// The time the program reads. Code that decides by time reads Clock::current() (or a clock handed to it), so that
// tests can put a clock of their own in its place instead of waiting.
class Clock
{
public:
    virtual ~Clock() = default;

    // Milliseconds since the epoch.
    virtual qint64 currentMSecsSinceEpoch() const;
    // Milliseconds on a clock that never goes back nor jumps when the system's time is set (since the system's
    // start); for every guard, hold-back and back-off. The epoch time above is for keys and log stamps alone.
    virtual qint64 monotonicMSecs() const;

    // The system's clock, or the one a test put in its place.
    static const Clock& current();
    // Reads of current() go to clock from now on (nullptr: the system's clock); returns the one it replaces.
    static const Clock* setCurrent(const Clock* clock);
};
