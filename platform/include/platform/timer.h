#pragma once

#include <functional>
#include <memory>

namespace platform {

struct TimerCaps {
    unsigned minPeriodMs = 1;
    unsigned maxPeriodMs = 1000000;
};

// A periodic callback on a thread of its own. Deadlines come from a steady clock, so the period
// does not drift; a tick that overruns makes the timer skip the periods it missed instead of
// firing a burst to catch up.
class PeriodicTimer {
  public:
    PeriodicTimer() = default;
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;
    virtual ~PeriodicTimer() = default;

    virtual TimerCaps GetCaps() const = 0;
    // Claiming a resolution is harmless here: the timer always aims at 1 ms. Kept so callers can
    // pair their claims as they would on systems where it matters.
    virtual bool BeginResolution(unsigned ms) = 0;
    virtual bool EndResolution(unsigned ms) = 0;

    // Stops a running timer first. False for a period outside the caps or an empty callback.
    [[nodiscard]] virtual bool Start(unsigned periodMs, std::function<void()> tick) = 0;
    // Once this returns the tick is not running and will not run again. Called from inside the
    // tick it only prevents further ticks.
    virtual void Stop() = 0;
    virtual bool Running() const = 0;
    // Runs the tick once more as soon as it can, on the timer's thread, without moving the
    // period's deadlines; requests made before that tick runs are one. Any thread; nothing while
    // stopped.
    virtual void TickSoon() = 0;
};

std::unique_ptr<PeriodicTimer> CreatePeriodicTimer();

}  // namespace platform
