#include "fake_timer.h"

namespace platform {

bool FakeTimer::BeginResolution(unsigned ms) {
    const TimerCaps caps = GetCaps();
    if (ms < caps.minPeriodMs || ms > caps.maxPeriodMs) {
        return false;
    }
    ++claims_;
    return true;
}

bool FakeTimer::EndResolution(unsigned ms) {
    const TimerCaps caps = GetCaps();
    if (ms < caps.minPeriodMs || ms > caps.maxPeriodMs || claims_ == 0) {
        return false;
    }
    --claims_;
    return true;
}

bool FakeTimer::Start(unsigned periodMs, std::function<void()> tick) {
    const TimerCaps caps = GetCaps();
    if (periodMs < caps.minPeriodMs || periodMs > caps.maxPeriodMs || !tick) {
        return false;
    }
    Stop();
    tick_ = std::move(tick);
    periodMs_ = periodMs;
    running_ = true;
    starts_.push_back(periodMs);
    return true;
}

void FakeTimer::Stop() {
    if (running_) {
        ++stops_;
    }
    running_ = false;
}

int FakeTimer::Fire(int times) {
    int ran = 0;
    for (int i = 0; i < times && running_; ++i) {
        tick_();
        ++ran;
    }
    return ran;
}

}  // namespace platform
