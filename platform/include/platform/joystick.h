#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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
    std::string path;      // device node or other identifier
    std::string driver;    // the joystick driver that reports it
    std::string guid;      // 32 hex digits: bus, maker, product and version, the same on every plug
    bool gamepad = false;  // the standard gamepad layout is known for it
    std::int32_t instance = -1;  // this plug of it: a re-plugged controller gets a new one
    int number = -1;             // its place in the service's order (ListJoysticks)
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

// Which attached controller a patch or a configuration plays with, and how it is read. The
// controller with this GUID is taken first (among several alike, the one at number, else the
// first of them), then the one with this name, then the one at number in the service's order,
// then the first attached. With gamepadLayout, a controller that has the standard gamepad
// layout is read in it: axes left stick X and Y, left trigger, right stick X and Y, right
// trigger; buttons A, B, X, Y, left and right shoulder, back, start, left and right stick,
// guide, then the pad's extra buttons; the directional pad as the point of view. Any other
// controller is read raw.
struct JoystickChoice {
    std::string guid;
    std::string name;
    int number = 0;
    bool gamepadLayout = false;
};

// The index in attached (the service's order) of the controller choice picks; -1 when none is
// attached.
int PickJoystick(const std::vector<JoystickCaps>& attached, const JoystickChoice& choice);

// The order controllers are numbered in: by name, GUID and device path, so that a number means
// the same controller whatever order they were plugged in.
bool JoystickOrder(const JoystickCaps& a, const JoystickCaps& b);

// Device nodes of attached joysticks that this user may not read (so they are not listed), for
// a message that says what to do instead of "none attached". Looks at devDir's event nodes that
// the device manager's records in udevDir mark as joysticks.
std::vector<std::string> UnreadableJoysticks(const std::string& devDir = "/dev/input",
                                             const std::string& udevDir = "/run/udev/data");
// What to tell the user about the nodes UnreadableJoysticks found: two sentences naming them,
// the input group and the udev rule; empty when nodes is empty.
std::string JoystickAccessAdvice(const std::vector<std::string>& nodes, const char* program);

// Where a user's own gamepad layouts are read from at start, in the format of SDL's
// gamecontrollerdb.txt: $XDG_CONFIG_HOME/gamecontrollerdb.txt (~/.config when unset).
std::string GamepadMappingsPath();

// What the service reports as it happens: the open joystick's input changed, or a joystick was
// attached or removed.
enum class JoyEvent { Input, Added, Removed };
using JoyEventListener = std::function<void(JoyEvent)>;

// The controller the choice picks (the first attached until a choice is set). Each axis is reported
// scaled linearly into the range set for it (0..65535 until set). Input keeps arriving while
// another program has the focus.
//
// All operations are serialised inside the service and may be called from any thread.
class JoystickService {
  public:
    JoystickService() = default;
    JoystickService(const JoystickService&) = delete;
    JoystickService& operator=(const JoystickService&) = delete;
    virtual ~JoystickService() = default;

    // The attached controllers in their numbered order (JoystickOrder).
    virtual std::vector<JoystickCaps> ListJoysticks() = 0;

    // Which controller Open, a re-acquire, ReadSimple and Reselect take from now on.
    virtual void SetChoice(const JoystickChoice& choice) = 0;
    // Takes the controller the choice picks among those attached now, when it is not the one
    // held: after a start without one, when a better one is plugged in, or when the held one is
    // gone. Ok when one is held after the call (newly opened ones unacquired; ranges kept),
    // NoDevice when none is attached.
    virtual JoyResult Reselect() = 0;
    // The controller held, with its number (without its axis, button and hat counts); none when
    // none is held.
    virtual std::optional<JoystickCaps> Current() = 0;

    // Opens the chosen joystick, unacquired. NoDevice when none is attached.
    [[nodiscard]] virtual JoyResult Open() = 0;
    virtual void Close() = 0;

    // axis is a JoyAxis slot. NotInitialized before Open; InvalidParam for a bad slot or min > max.
    virtual JoyResult SetAxisRange(int axis, std::int32_t min, std::int32_t max) = 0;

    virtual JoyResult Acquire() = 0;
    virtual JoyResult Unacquire() = 0;
    // Fetches fresh input from the device.
    virtual JoyResult Poll() = 0;
    virtual JoyResult GetState(RawJoyState& state) = 0;
    // When the axes GetState last gave first arrived: microseconds on the steady clock, as the
    // device's own thread saw them come (or the read that first saw them, when it came first).
    // 0 before any read.
    virtual std::int64_t InputTimeUs() { return 0; }

    // Opens (or re-opens) the chosen joystick by itself; NoDevice when none is attached,
    // leaving state as it was.
    virtual JoyResult ReadSimple(SimpleJoyState& state) = 0;
    // Everything the controller that ReadSimple reads is doing, for a view beside a program that
    // reads it that way (which never opens or acquires it): every axis in its range (0..65535
    // until set), the hat and all buttons. Opens the chosen joystick by itself as ReadSimple
    // does, and disturbs neither that read nor an acquired one; NoDevice when none is attached.
    virtual JoyResult ReadWhole(RawJoyState& state) = 0;

    // Changes as they happen, on a thread of the service (within about a millisecond of the
    // device reporting them), besides the reads above; bursts may come as one event. An empty
    // listener stops the reports; once this returns the old listener is not running and will
    // not run again. The listener must not call SetEventListener.
    virtual void SetEventListener(JoyEventListener listener) = 0;
};

std::unique_ptr<JoystickService> CreateJoystickService();

// Tells every service that reports changes to look now: a virtual joystick's changes reach no
// device file that could wake them (platform/virtual_stick.h calls it).
void WakeJoystickWatchers();

}  // namespace platform
