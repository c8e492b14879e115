#pragma once

#include <functional>
#include <vector>

#include "platform/timer.h"

namespace platform {

// A timer that ticks only when the test says so. Keeps the periods it was started with.
class FakeTimer final : public PeriodicTimer {
  public:
    TimerCaps GetCaps() const override { return {}; }
    bool BeginResolution(unsigned ms) override;
    bool EndResolution(unsigned ms) override;
    bool Start(unsigned periodMs, std::function<void()> tick) override;
    void Stop() override;
    bool Running() const override { return running_; }
    // Counted; the test fires the tick when it chooses.
    void TickSoon() override { ++soonRequests_; }
    int SoonRequests() const { return soonRequests_; }

    // Runs the tick `times` times if the timer is running; returns how many ran.
    int Fire(int times = 1);
    unsigned PeriodMs() const { return periodMs_; }
    const std::vector<unsigned>& Starts() const { return starts_; }
    int StopCount() const { return stops_; }
    int ResolutionClaims() const { return claims_; }

  private:
    std::function<void()> tick_;
    bool running_ = false;
    unsigned periodMs_ = 0;
    std::vector<unsigned> starts_;
    int stops_ = 0;
    int claims_ = 0;
    int soonRequests_ = 0;
};

}  // namespace platform
