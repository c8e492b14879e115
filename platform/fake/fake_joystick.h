#pragma once

#include <map>
#include <optional>

#include "../src/joystick_base.h"

namespace platform {

// An in-memory joystick for tests, answering like the real service (the same acquire, poll and
// lost rules). A test attaches and unplugs it, moves its axes in SDL's raw -32768..32767, presses
// buttons, and can make any call fail with a given result. Each change is reported to the event
// listener at once, on the calling thread.
class FakeJoystickService final : public JoystickServiceBase {
  public:
    enum class Call { Open, SetAxisRange, Acquire, Unacquire, Poll, GetState, ReadSimple };

    FakeJoystickService();

    void Attach(JoystickCaps caps = {});
    void Unplug();
    void SetAxis(int axis, std::int16_t raw);
    // The same, as if the device had reported it at timeUs (steady clock microseconds).
    void SetAxis(int axis, std::int16_t raw, std::int64_t timeUs);
    void SetButton(int button, bool pressed);
    void SetHat(std::uint8_t hat);
    // The next `times` calls of this kind give `result` and do nothing; times < 0: every call.
    void FailNext(Call call, JoyResult result, int times = 1);
    int CallCount(Call call) const;

    JoyResult Open() override;
    JoyResult SetAxisRange(int axis, std::int32_t min, std::int32_t max) override;
    JoyResult Acquire() override;
    JoyResult Unacquire() override;
    JoyResult Poll() override;
    JoyResult GetState(RawJoyState& state) override;
    JoyResult ReadSimple(SimpleJoyState& state) override;

  protected:
    std::vector<JoystickCaps> DeviceList(bool counts) override;
    bool DeviceOpen(const JoystickCaps& which, bool gamepadLayout) override;
    void DeviceClose() override;
    bool DeviceUpdate() override;
    void DeviceRead(RawJoyInput& input) override;

  private:
    std::optional<JoyResult> Count(Call call);

    // Guards the scripted device; the base's mutex_ guards the state machine. Never taken in the
    // other order.
    mutable std::mutex scriptMutex_;
    bool attached_ = false;
    bool held_ = false;       // the service has the current device open
    std::int32_t plugs_ = 0;  // each Attach is a new instance
    JoystickCaps caps_;
    RawJoyInput input_;
    std::map<Call, std::pair<JoyResult, int>> failures_;
    std::map<Call, int> calls_;
};

}  // namespace platform
