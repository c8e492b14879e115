#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "tamborex/model/axis_shape.h"
#include "tamborex/model/button_modes.h"

inline constexpr int kAxisCount = 6;
inline constexpr int kButtonCount = 32;
inline constexpr int kPolledButtons = 8;
inline constexpr int kArpSteps = 8;
inline constexpr int kSysExCount = 4;
inline constexpr int kSysExBufferSize = 256;
inline constexpr int kPatchVersion = 5;
inline constexpr int kReservedSize = 256;

// Axis index 0 to 5: X, Y, Z, X rotation, Y rotation, Z rotation.
enum AxisIndex : int { AXIS_X, AXIS_Y, AXIS_Z, AXIS_RX, AXIS_RY, AXIS_RZ };
const char* AxisLabel(int axis);

// Controller selection: the position in the list "None", "Pitch bend", controllers 0 to 127.
inline constexpr std::int32_t kSelectNone = 0;
inline constexpr std::int32_t kSelectPitchBend = 1;
inline constexpr std::int32_t kSelectNrpnFine = 100;    // controller 98's entry
inline constexpr std::int32_t kSelectNrpnCoarse = 101;  // controller 99's entry
constexpr std::int32_t ControllerOfSelection(std::int32_t selection) {
    return selection - 2;
}

struct AxisRecord {
    std::int32_t value = 0;
    std::int32_t channel = 0;
    std::int32_t controller = kSelectNone;
    std::int32_t max = 127;
    std::int32_t min = 0;
    std::int32_t reversePolarity = 0;
    std::int32_t fullRange = 0;
    std::int32_t nrpnMsb = 0;
    std::int32_t nrpnLsb = 0;
    std::int32_t minimumMovement = 2;
    std::int32_t suppressed = 0;  // runtime only
    std::int32_t lastSent = 0;    // runtime only
    // Kept in the patch file's extension, after the published blocks.
    AxisShape shape;
};

struct ButtonRecord {
    std::int32_t countdown = 0;  // runtime only
    std::int32_t mode = 0;       // a ButtonMode
    std::int32_t data1 = 0;
    std::int32_t data2 = 0;
    std::array<std::int32_t, kArpSteps> notes = {36, 36, 36, 36, 36, 36, 36, 36};
    std::array<std::int32_t, kArpSteps> velocities = {127, 127, 127, 127, 127, 127, 127, 127};
    std::array<std::int32_t, kArpSteps> times = {6, 6, 6, 6, 6, 6, 6, 6};
    std::int32_t stepCount = 1;
    std::int32_t currentStep = 1;
    std::int32_t channel = 0;
    std::int32_t pressed = 0;
    std::int32_t autoArpeggiation = 0;
};

// A patch's system-exclusive messages. Declared outside CPatch, which holds it in an optional:
// clang cannot construct a nested class with member initializers before its enclosing class is
// complete.
struct CPatchSysExTable {
    std::array<std::array<std::uint8_t, kSysExBufferSize>, kSysExCount> buffers{};
    std::array<std::int32_t, kSysExCount> lengths{};
};

// A complete mapping of the joystick to MIDI. The engine keeps two, slots 0 and 1.
class CPatch {
  public:
    using SysExTable = CPatchSysExTable;

    // Every message starts as the empty F0 F7.
    CPatch();
    // Copies are whole, every field by value, so a field added later is never left out of a
    // staged copy: loading a file reads into copies and takes them only when it succeeds.
    CPatch(const CPatch&) = default;
    CPatch& operator=(const CPatch&) = default;

    // Frees the system-exclusive buffers; again does nothing.
    void ReleaseSysEx() { sysEx.reset(); }

    static constexpr std::int32_t version = kPatchVersion;
    std::int32_t sysExCount = kSysExCount;
    std::int32_t active = 0;
    std::int32_t joystickNumber = 0;
    std::int32_t outputDevice = -1;
    std::array<AxisRecord, kAxisCount> axes{};
    std::array<ButtonRecord, kButtonCount> buttons{};
    std::array<std::uint8_t, kReservedSize> reserved{};
    std::int32_t joystickSensitivity = 2;
    std::int32_t pollIntervalCode = 1;  // the poll period is (code + 1) x 20 ms
    std::optional<SysExTable> sysEx;    // none once released at shutdown
};
