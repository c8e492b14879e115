#include "fake_joystick.h"

namespace platform {

FakeJoystickService::FakeJoystickService() {
    caps_.name = "Fake Joystick";
    caps_.guid = "03000000fa4b0000010000000000fa4b";
    caps_.numAxes = 6;
    caps_.numButtons = 12;
    caps_.numHats = 1;
    // Every counter exists from the start, so counting a call never allocates.
    for (Call c : {Call::Open, Call::SetAxisRange, Call::Acquire, Call::Unacquire, Call::Poll,
                   Call::GetState, Call::ReadSimple}) {
        calls_[c] = 0;
    }
}

void FakeJoystickService::Attach(JoystickCaps caps) {
    {
        std::lock_guard lock(scriptMutex_);
        if (!caps.name.empty()) {
            caps_ = std::move(caps);
        }
        caps_.maxAxes = kJoyAxisSlots;
        caps_.maxButtons = kJoyButtons;
        input_.numAxes = std::min(caps_.numAxes, kJoyAxisSlots);
        input_.numButtons = std::min(caps_.numButtons, kJoyButtons);
        input_.numHats = caps_.numHats;
        caps_.instance = ++plugs_;
        attached_ = true;
    }
    Notify(JoyEvent::Added);
}

void FakeJoystickService::Unplug() {
    {
        std::lock_guard lock(scriptMutex_);
        attached_ = false;
        held_ = false;
    }
    Notify(JoyEvent::Removed);
}

void FakeJoystickService::SetAxis(int axis, std::int16_t raw) {
    SetAxis(axis, raw, SteadyMicros());
}

void FakeJoystickService::SetAxis(int axis, std::int16_t raw, std::int64_t timeUs) {
    NoteInputTime(timeUs);
    {
        std::lock_guard lock(scriptMutex_);
        if (axis >= 0 && axis < kJoyAxisSlots) {
            input_.axes[axis] = raw;
        }
    }
    Notify(JoyEvent::Input);
}

void FakeJoystickService::SetButton(int button, bool pressed) {
    {
        std::lock_guard lock(scriptMutex_);
        if (button >= 0 && button < kJoyButtons) {
            input_.buttons[button] = pressed;
        }
    }
    Notify(JoyEvent::Input);
}

void FakeJoystickService::SetHat(std::uint8_t hat) {
    {
        std::lock_guard lock(scriptMutex_);
        input_.hat = hat;
    }
    Notify(JoyEvent::Input);
}

void FakeJoystickService::FailNext(Call call, JoyResult result, int times) {
    std::lock_guard lock(scriptMutex_);
    failures_[call] = {result, times};
}

int FakeJoystickService::CallCount(Call call) const {
    std::lock_guard lock(scriptMutex_);
    const auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
}

std::optional<JoyResult> FakeJoystickService::Count(Call call) {
    std::lock_guard lock(scriptMutex_);
    ++calls_[call];
    const auto it = failures_.find(call);
    if (it == failures_.end()) {
        return std::nullopt;
    }
    const JoyResult result = it->second.first;
    if (it->second.second > 0 && --it->second.second == 0) {
        failures_.erase(it);
    }
    return result;
}

JoyResult FakeJoystickService::Open() {
    if (auto r = Count(Call::Open)) {
        return *r;
    }
    return JoystickServiceBase::Open();
}

JoyResult FakeJoystickService::SetAxisRange(int axis, std::int32_t min, std::int32_t max) {
    if (auto r = Count(Call::SetAxisRange)) {
        return *r;
    }
    return JoystickServiceBase::SetAxisRange(axis, min, max);
}

JoyResult FakeJoystickService::Acquire() {
    if (auto r = Count(Call::Acquire)) {
        return *r;
    }
    return JoystickServiceBase::Acquire();
}

JoyResult FakeJoystickService::Unacquire() {
    if (auto r = Count(Call::Unacquire)) {
        return *r;
    }
    return JoystickServiceBase::Unacquire();
}

JoyResult FakeJoystickService::Poll() {
    if (auto r = Count(Call::Poll)) {
        return *r;
    }
    return JoystickServiceBase::Poll();
}

JoyResult FakeJoystickService::GetState(RawJoyState& state) {
    if (auto r = Count(Call::GetState)) {
        return *r;
    }
    return JoystickServiceBase::GetState(state);
}

JoyResult FakeJoystickService::ReadSimple(SimpleJoyState& state) {
    if (auto r = Count(Call::ReadSimple)) {
        return *r;
    }
    return JoystickServiceBase::ReadSimple(state);
}

std::vector<JoystickCaps> FakeJoystickService::DeviceList(bool /*counts*/) {
    std::lock_guard lock(scriptMutex_);
    if (!attached_) {
        return {};
    }
    return {caps_};
}

bool FakeJoystickService::DeviceOpen(const JoystickCaps& which, bool /*gamepadLayout*/) {
    std::lock_guard lock(scriptMutex_);
    held_ = attached_ && which.instance == caps_.instance;
    return held_;
}

void FakeJoystickService::DeviceClose() {
    std::lock_guard lock(scriptMutex_);
    held_ = false;
}

bool FakeJoystickService::DeviceUpdate() {
    std::lock_guard lock(scriptMutex_);
    return held_;
}

void FakeJoystickService::DeviceRead(RawJoyInput& input) {
    std::lock_guard lock(scriptMutex_);
    input = input_;
}

}  // namespace platform
