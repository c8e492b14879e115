#pragma once

#include <atomic>

#include "platform/timer.h"

namespace corvane {

// Whoever the timer ticks for.
class TickClient {
  public:
    virtual ~TickClient() = default;
    virtual void OnTick() = 0;
};

// The periodic timer that samples the joystick. The tick runs on the timer's own thread and
// does nothing while no client is registered.
class PollTimer {
  public:
    explicit PollTimer(platform::PeriodicTimer& timer) : timer_(timer) {}
    ~PollTimer() { StopPeriodic(); }
    PollTimer(const PollTimer&) = delete;
    PollTimer& operator=(const PollTimer&) = delete;

    // Claims 1 ms, brought within what the timer supports, and clears the client.
    void BeginResolution();
    void EndResolution();
    void StartPeriodic(unsigned periodMs);
    // Once this returns no tick is running or will run until the next StartPeriodic.
    void StopPeriodic();
    void SetTickClient(TickClient* client) { client_.store(client); }
    // One more tick as soon as the timer's thread can run it, the period unchanged.
    void TickSoon() { timer_.TickSoon(); }
    unsigned Resolution() const { return resolution_; }

  private:
    platform::PeriodicTimer& timer_;
    unsigned resolution_ = 0;
    std::atomic<TickClient*> client_{nullptr};
};

}  // namespace corvane
