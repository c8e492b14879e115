#include "joystick_base.h"

#include <algorithm>
#include <chrono>
#include <tuple>

namespace platform {

const char* JoyResultName(JoyResult result) {
    switch (result) {
        case JoyResult::Ok:
            return "ok";
        case JoyResult::AlreadyDone:
            return "already done";
        case JoyResult::NotAcquired:
            return "not acquired";
        case JoyResult::InputLost:
            return "input lost";
        case JoyResult::NotInitialized:
            return "not initialised";
        case JoyResult::NoDevice:
            return "no device";
        case JoyResult::InvalidParam:
            return "invalid parameter";
        case JoyResult::Other:
            break;
    }
    return "other error";
}

std::int32_t ScaleAxis(std::int16_t raw, std::int32_t min, std::int32_t max) {
    const std::int64_t span = static_cast<std::int64_t>(max) - min;
    const std::int64_t offset = static_cast<std::int64_t>(raw) + 32768;
    return static_cast<std::int32_t>(min + (offset * span + 32767) / 65535);
}

std::uint32_t HatToPov(std::uint8_t hat) {
    constexpr std::uint8_t kUp = 1, kRight = 2, kDown = 4, kLeft = 8;
    switch (hat) {
        case kUp:
            return 0;
        case kUp | kRight:
            return 4500;
        case kRight:
            return 9000;
        case kDown | kRight:
            return 13500;
        case kDown:
            return 18000;
        case kDown | kLeft:
            return 22500;
        case kLeft:
            return 27000;
        case kUp | kLeft:
            return 31500;
        default:
            return kPovCentred;
    }
}

bool JoystickOrder(const JoystickCaps& a, const JoystickCaps& b) {
    return std::tie(a.name, a.guid, a.path, a.instance) <
           std::tie(b.name, b.guid, b.path, b.instance);
}

int PickJoystick(const std::vector<JoystickCaps>& attached, const JoystickChoice& choice) {
    if (attached.empty()) {
        return -1;
    }
    const int count = static_cast<int>(attached.size());
    const bool numberValid = choice.number >= 0 && choice.number < count;
    // Among several alike (two pads of one make), the one at the patch's number, else the
    // first of them.
    auto among = [&](auto&& alike) {
        if (numberValid && alike(attached[choice.number])) {
            return choice.number;
        }
        for (int i = 0; i < count; ++i) {
            if (alike(attached[i])) {
                return i;
            }
        }
        return -1;
    };
    int found = -1;
    if (!choice.guid.empty()) {
        found = among([&](const JoystickCaps& c) { return c.guid == choice.guid; });
    }
    if (found < 0 && !choice.name.empty()) {
        found = among([&](const JoystickCaps& c) { return c.name == choice.name; });
    }
    if (found < 0) {
        found = numberValid ? choice.number : 0;
    }
    return found;
}

std::vector<JoystickCaps> JoystickServiceBase::Attached(bool counts) {
    std::vector<JoystickCaps> list = DeviceList(counts);
    std::sort(list.begin(), list.end(), JoystickOrder);
    for (std::size_t i = 0; i < list.size(); ++i) {
        list[i].number = static_cast<int>(i);
    }
    return list;
}

bool JoystickServiceBase::OpenChosen() {
    const std::vector<JoystickCaps> attached = Attached(false);
    return OpenPick(attached, PickJoystick(attached, choice_));
}

bool JoystickServiceBase::OpenPick(const std::vector<JoystickCaps>& attached, int pick) {
    if (deviceOpen_) {
        DeviceClose();
        deviceOpen_ = false;
    }
    if (pick >= 0 && DeviceOpen(attached[pick], choice_.gamepadLayout)) {
        held_ = attached[pick];
        heldLayout_ = choice_.gamepadLayout;
        deviceOpen_ = true;
    }
    return deviceOpen_;
}

std::vector<JoystickCaps> JoystickServiceBase::ListJoysticks() {
    std::lock_guard lock(mutex_);
    return Attached(true);
}

void JoystickServiceBase::SetChoice(const JoystickChoice& choice) {
    std::lock_guard lock(mutex_);
    choice_ = choice;
}

JoyResult JoystickServiceBase::Reselect() {
    std::lock_guard lock(mutex_);
    const std::vector<JoystickCaps> attached = Attached(false);
    const int pick = PickJoystick(attached, choice_);
    // The held one stays when it is still the pick and was opened the way the choice reads it.
    if (pick >= 0 && deviceOpen_ && attached[pick].instance == held_.instance &&
        heldLayout_ == choice_.gamepadLayout) {
        held_.number = attached[pick].number;
        return JoyResult::Ok;
    }
    acquired_ = false;
    if (!OpenPick(attached, pick)) {
        return JoyResult::NoDevice;
    }
    initialised_ = true;
    return JoyResult::Ok;
}

std::optional<JoystickCaps> JoystickServiceBase::Current() {
    std::lock_guard lock(mutex_);
    if (!deviceOpen_) {
        return std::nullopt;
    }
    // Its number as it is now.
    for (JoystickCaps& caps : Attached(false)) {
        if (caps.instance == held_.instance) {
            return caps;
        }
    }
    return held_;
}

JoyResult JoystickServiceBase::Open() {
    std::lock_guard lock(mutex_);
    acquired_ = false;
    initialised_ = OpenChosen();
    return deviceOpen_ ? JoyResult::Ok : JoyResult::NoDevice;
}

void JoystickServiceBase::Close() {
    std::lock_guard lock(mutex_);
    if (deviceOpen_) {
        DeviceClose();
    }
    deviceOpen_ = initialised_ = acquired_ = false;
}

JoyResult JoystickServiceBase::SetAxisRange(int axis, std::int32_t min, std::int32_t max) {
    std::lock_guard lock(mutex_);
    if (!initialised_) {
        return JoyResult::NotInitialized;
    }
    if (axis < 0 || axis >= kJoyAxisSlots || min > max) {
        return JoyResult::InvalidParam;
    }
    ranges_[axis] = {min, max};
    return JoyResult::Ok;
}

JoyResult JoystickServiceBase::Acquire() {
    std::lock_guard lock(mutex_);
    if (!initialised_) {
        return JoyResult::NotInitialized;
    }
    if (deviceOpen_ && DeviceUpdate()) {
        if (acquired_) {
            return JoyResult::AlreadyDone;
        }
        acquired_ = true;
        return JoyResult::Ok;
    }
    // Lost: take what the choice picks now, which is the same controller when it was plugged
    // back in.
    acquired_ = OpenChosen();
    return deviceOpen_ ? JoyResult::Ok : JoyResult::InputLost;
}

JoyResult JoystickServiceBase::Unacquire() {
    std::lock_guard lock(mutex_);
    if (!initialised_) {
        return JoyResult::NotInitialized;
    }
    if (!acquired_) {
        return JoyResult::AlreadyDone;
    }
    acquired_ = false;
    return JoyResult::Ok;
}

JoyResult JoystickServiceBase::Poll() {
    std::lock_guard lock(mutex_);
    if (!initialised_) {
        return JoyResult::NotInitialized;
    }
    if (!acquired_) {
        return JoyResult::NotAcquired;
    }
    if (!deviceOpen_ || !DeviceUpdate()) {
        acquired_ = false;
        return JoyResult::InputLost;
    }
    return JoyResult::Ok;
}

JoyResult JoystickServiceBase::GetState(RawJoyState& state) {
    std::lock_guard lock(mutex_);
    if (!initialised_) {
        return JoyResult::NotInitialized;
    }
    if (!acquired_) {
        return JoyResult::NotAcquired;
    }
    RawJoyInput input;
    DeviceRead(input);
    if (!haveLastAxes_ || !std::equal(std::begin(input.axes), std::end(input.axes), lastAxes_)) {
        // Moved since the last read: stamped when the device's thread saw it, if that was since.
        const std::int64_t seen = eventTimeUs_.load();
        inputTimeUs_ = seen > inputTimeUs_ ? seen : SteadyMicros();
        std::copy(std::begin(input.axes), std::end(input.axes), lastAxes_);
        haveLastAxes_ = true;
    }
    FillState(input, state);
    return JoyResult::Ok;
}

void JoystickServiceBase::FillState(const RawJoyInput& input, RawJoyState& state) const {
    for (int a = 0; a < kJoyAxisSlots; ++a) {
        const std::int32_t value =
            a < input.numAxes ? ScaleAxis(input.axes[a], ranges_[a].min, ranges_[a].max) : 0;
        if (a < 6) {
            state.axes[a] = value;
        } else {
            state.sliders[a - 6] = value;
        }
    }
    state.pov[0] = input.numHats > 0 ? HatToPov(input.hat) : kPovCentred;
    state.pov[1] = state.pov[2] = state.pov[3] = kPovCentred;
    for (int b = 0; b < kJoyButtons; ++b) {
        state.buttons[b] = (b < input.numButtons && input.buttons[b]) ? 0x80 : 0;
    }
}

std::int64_t JoystickServiceBase::InputTimeUs() {
    std::lock_guard lock(mutex_);
    return inputTimeUs_;
}

std::int64_t JoystickServiceBase::SteadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool JoystickServiceBase::ReadOpened(RawJoyInput& input) {
    if (!deviceOpen_ || !DeviceUpdate()) {
        if (!OpenChosen()) {
            return false;
        }
        DeviceUpdate();
    }
    DeviceRead(input);
    return true;
}

JoyResult JoystickServiceBase::ReadSimple(SimpleJoyState& state) {
    std::lock_guard lock(mutex_);
    RawJoyInput input;
    if (!ReadOpened(input)) {
        return JoyResult::NoDevice;
    }
    auto position = [&](int axis) {
        return axis < input.numAxes ? static_cast<std::uint32_t>(input.axes[axis] + 32768) : 0u;
    };
    state.x = position(kAxisX);
    state.y = position(kAxisY);
    state.z = position(kAxisZ);
    state.buttons = 0;
    for (int b = 0; b < 4 && b < input.numButtons; ++b) {
        if (input.buttons[b]) {
            state.buttons |= 1u << b;
        }
    }
    return JoyResult::Ok;
}

JoyResult JoystickServiceBase::ReadWhole(RawJoyState& state) {
    std::lock_guard lock(mutex_);
    RawJoyInput input;
    if (!ReadOpened(input)) {
        return JoyResult::NoDevice;
    }
    FillState(input, state);
    return JoyResult::Ok;
}

void JoystickServiceBase::SetEventListener(JoyEventListener listener) {
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(listener);
}

void JoystickServiceBase::Notify(JoyEvent event) {
    std::lock_guard lock(listenerMutex_);
    if (listener_) {
        listener_(event);
    }
}

bool JoystickServiceBase::HasListener() {
    std::lock_guard lock(listenerMutex_);
    return static_cast<bool>(listener_);
}

}  // namespace platform
