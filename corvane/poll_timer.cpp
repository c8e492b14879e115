#include "poll_timer.h"

#include <algorithm>

namespace corvane {

void PollTimer::BeginResolution() {
    const platform::TimerCaps caps = timer_.GetCaps();
    resolution_ = std::clamp(1u, caps.minPeriodMs, caps.maxPeriodMs);
    timer_.BeginResolution(resolution_);
    client_.store(nullptr);
}

void PollTimer::EndResolution() {
    if (resolution_ != 0) {
        timer_.EndResolution(resolution_);
        resolution_ = 0;
    }
}

void PollTimer::StartPeriodic(unsigned periodMs) {
    (void)timer_.Start(periodMs, [this] {
        if (TickClient* client = client_.load()) {
            client->OnTick();
        }
    });
}

void PollTimer::StopPeriodic() {
    timer_.Stop();
}

}  // namespace corvane
