#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class JoyResult {
    Ok,
    AlreadyDone,     // acquire on an acquired device, unacquire on an unacquired one
    NotAcquired,     // poll or read before Acquire
    InputLost,       // the device went away; Acquire tries to get it (or a re-plugged one) back
    NotInitialized,  // no device opened yet, or closed
    NoDevice,        // no joystick attached
    InvalidParam,
    Other,
};

const char* JoyResultName(JoyResult result);

struct JoystickCaps {
    std::string name;
    std::string path;    // device node or other identifier
    std::string driver;  // the joystick driver that reports it
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    int numAxes = 0;
    int numButtons = 0;
    int numHats = 0;
    int maxAxes = 0;     // what the state record can carry
    int maxButtons = 0;  // likewise
};

// Axis slots of RawJoyState, in the order the state record holds them.
enum JoyAxis : int { kAxisX, kAxisY, kAxisZ, kAxisRX, kAxisRY, kAxisRZ, kSlider0, kSlider1 };
inline constexpr int kJoyAxisSlots = 8;
inline constexpr int kJoyButtons = 32;
inline constexpr std::uint32_t kPovCentred = 0xFFFFFFFFu;

// 80 bytes: six axes, two sliders, four point-of-view values (hundredths of a degree clockwise
// from forward, kPovCentred when centred), 32 button bytes with bit 7 set while pressed.
struct RawJoyState {
    std::int32_t axes[6] = {};
    std::int32_t sliders[2] = {};
    std::uint32_t pov[4] = {kPovCentred, kPovCentred, kPovCentred, kPovCentred};
    std::uint8_t buttons[kJoyButtons] = {};
};
static_assert(sizeof(RawJoyState) == 80);

// The simple read: X, Y, Z as 0..65535 and the first four buttons as bits 0-3.
struct SimpleJoyState {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t z = 0;
    std::uint32_t buttons = 0;
};

// What the service reports as it happens: the open joystick's input changed, or a joystick was
// attached or removed.
enum class JoyEvent { Input, Added, Removed };
using JoyEventListener = std::function<void(JoyEvent)>;

// The first attached joystick. Each axis is reported scaled linearly into the range set for it
// (0..65535 until set). Input keeps arriving while another program has the focus.
//
// All operations are serialised inside the service and may be called from any thread.
class JoystickService {
  public:
    JoystickService() = default;
    JoystickService(const JoystickService&) = delete;
    JoystickService& operator=(const JoystickService&) = delete;
    virtual ~JoystickService() = default;

    virtual std::vector<JoystickCaps> ListJoysticks() = 0;

    // Opens the first attached joystick, unacquired. NoDevice when none is attached.
    [[nodiscard]] virtual JoyResult Open() = 0;
    virtual void Close() = 0;

    // axis is a JoyAxis slot. NotInitialized before Open; InvalidParam for a bad slot or min > max.
    virtual JoyResult SetAxisRange(int axis, std::int32_t min, std::int32_t max) = 0;

    virtual JoyResult Acquire() = 0;
    virtual JoyResult Unacquire() = 0;
    // Fetches fresh input from the device.
    virtual JoyResult Poll() = 0;
    virtual JoyResult GetState(RawJoyState& state) = 0;

    // Opens (or re-opens) the first attached joystick by itself; NoDevice when none is attached,
    // leaving state as it was.
    virtual JoyResult ReadSimple(SimpleJoyState& state) = 0;

    // Changes as they happen, on a thread of the service (within about a millisecond of the
    // device reporting them), besides the reads above; bursts may come as one event. An empty
    // listener stops the reports; once this returns the old listener is not running and will
    // not run again. The listener must not call SetEventListener.
    virtual void SetEventListener(JoyEventListener listener) = 0;
};

std::unique_ptr<JoystickService> CreateJoystickService();

}  // namespace platform
