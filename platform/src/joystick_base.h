#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/joystick.h"

namespace platform {

// Linear scaling of a raw -32768..32767 axis value into [min, max], rounded to nearest.
std::int32_t ScaleAxis(std::int16_t raw, std::int32_t min, std::int32_t max);

// Hat bits (up 1, right 2, down 4, left 8) as a point-of-view angle.
std::uint32_t HatToPov(std::uint8_t hat);

// What a joystick gives on one read, before scaling.
struct RawJoyInput {
    std::int16_t axes[kJoyAxisSlots] = {};
    int numAxes = 0;
    std::uint8_t hat = 0;
    int numHats = 0;
    bool buttons[kJoyButtons] = {};
    int numButtons = 0;
};

// The acquire/poll/lost state machine shared by the real joystick service and the fake, so that
// both answer the same way. Subclasses supply the device access.
class JoystickServiceBase : public JoystickService {
  public:
    std::vector<JoystickCaps> ListJoysticks() override;
    void SetChoice(const JoystickChoice& choice) override;
    JoyResult Reselect() override;
    std::optional<JoystickCaps> Current() override;
    JoyResult Open() override;
    void Close() override;
    JoyResult SetAxisRange(int axis, std::int32_t min, std::int32_t max) override;
    JoyResult Acquire() override;
    JoyResult Unacquire() override;
    JoyResult Poll() override;
    JoyResult GetState(RawJoyState& state) override;
    std::int64_t InputTimeUs() override;
    JoyResult ReadSimple(SimpleJoyState& state) override;
    JoyResult ReadWhole(RawJoyState& state) override;
    void SetEventListener(JoyEventListener listener) override;

  protected:
    // Passes an event to the listener, if any. Called with no lock of the service held.
    void Notify(JoyEvent event);
    // The device's thread saw new input at timeUs (steady clock); any thread, no lock needed.
    void NoteInputTime(std::int64_t timeUs) { eventTimeUs_.store(timeUs); }
    static std::int64_t SteadyMicros();
    bool HasListener();
    // Called with the service's mutex held. DeviceList gives the attached controllers in any
    // order, with their axis, button and hat counts only when counts is set (finding them may
    // open each device).
    virtual std::vector<JoystickCaps> DeviceList(bool counts) = 0;
    // Opens the attached controller with which's instance; false when it is gone.
    virtual bool DeviceOpen(const JoystickCaps& which, bool gamepadLayout) = 0;
    virtual void DeviceClose() = 0;
    virtual bool DeviceUpdate() = 0;  // fetches input; false when the open device is gone
    virtual void DeviceRead(RawJoyInput& input) = 0;

    std::mutex mutex_;

  private:
    // The attached controllers in their numbered order.
    std::vector<JoystickCaps> Attached(bool counts);
    // The device's input as a state record, each axis in its range.
    void FillState(const RawJoyInput& input, RawJoyState& state) const;
    // Closes what is held and opens what the choice picks; whether one is held now.
    bool OpenChosen();
    // The same with the list and the pick in hand (pick -1: none is opened).
    bool OpenPick(const std::vector<JoystickCaps>& attached, int pick);
    // With mutex_ held: the chosen controller's input, opening it first where it is not open
    // (or no longer answers); false when it cannot be.
    bool ReadOpened(RawJoyInput& input);

    std::mutex listenerMutex_;  // held while the listener runs
    JoyEventListener listener_;
    struct Range {
        std::int32_t min = 0;
        std::int32_t max = 65535;
    };

    std::atomic<std::int64_t> eventTimeUs_{0};
    std::int64_t inputTimeUs_ = 0;
    std::int16_t lastAxes_[kJoyAxisSlots] = {};
    bool haveLastAxes_ = false;
    bool initialised_ = false;  // Open succeeded; stays set while the device is lost
    bool deviceOpen_ = false;   // a device is held right now
    bool acquired_ = false;
    Range ranges_[kJoyAxisSlots];
    JoystickChoice choice_;
    JoystickCaps held_;        // what deviceOpen_ holds
    bool heldLayout_ = false;  // and whether it was opened for the gamepad layout
};

}  // namespace platform
