#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

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
inline constexpr std::int32_t kSelectLast = 129;
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
};

enum ButtonMode : std::int32_t {
    MODE_NONE,
    MODE_X_SUPPRESS,
    MODE_Y_SUPPRESS,
    MODE_Z_SUPPRESS,
    MODE_RX_SUPPRESS,
    MODE_RY_SUPPRESS,
    MODE_RZ_SUPPRESS,
    MODE_NOTE,
    MODE_ARPEGGIATOR,
    MODE_SUSTAIN,
    MODE_PORTAMENTO,
    MODE_SOSTENUTO,
    MODE_SOFT_PEDAL,
    MODE_PROGRAM_CHANGE,
    MODE_SYSEX,
    MODE_SONG_START,
    MODE_SONG_CONTINUE,
    MODE_SONG_STOP,
    MODE_SONG_SELECT,
    MODE_SONG_POSITION,
    MODE_SYSTEM_RESET,
    MODE_PATCH_CHANGE,
};
inline constexpr int kButtonModeCount = 22;
const char* GetButtonModeName(std::int32_t mode);

struct ButtonRecord {
    std::int32_t countdown = 0;  // runtime only
    std::int32_t mode = MODE_NONE;
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

class CByteReader;
class CByteWriter;

// A complete mapping of the joystick to MIDI. The main bar keeps two, slots 0 and 1.
class CPatch {
  public:
    struct SysExTable {
        std::array<std::array<std::uint8_t, kSysExBufferSize>, kSysExCount> buffers{};
        std::array<std::int32_t, kSysExCount> lengths{};
    };

    CPatch();
    // Copies are whole: loading a file reads into copies and takes them only when it succeeds.
    CPatch(const CPatch& other);
    CPatch& operator=(const CPatch& other);

    // Frees the system-exclusive buffers; again does nothing.
    void ReleaseSysEx() { sysEx.reset(); }

    // Writes one patch block of the current version.
    void Store(CByteWriter& out) const;
    // Reads one patch block of any version into this patch. Fields after the end of a short
    // file keep their values. Returns why the block cannot be taken, or an empty string; on a
    // refusal this patch is partly overwritten, so callers load into a copy.
    std::string Load(CByteReader& in);

    const std::int32_t axisCount = kAxisCount;
    const std::int32_t buttonCount = kButtonCount;
    const std::int32_t version = kPatchVersion;
    std::int32_t sysExCount = kSysExCount;
    const std::int32_t sysExBufferSize = kSysExBufferSize;
    std::int32_t active = 0;
    std::int32_t joystickNumber = 0;
    std::int32_t outputDevice = -1;
    std::array<AxisRecord, kAxisCount> axes{};
    std::array<ButtonRecord, kButtonCount> buttons{};
    std::array<std::uint8_t, kReservedSize> reserved{};
    std::int32_t joystickSensitivity = 2;
    std::int32_t pollIntervalCode = 1;  // the poll period is (code + 1) x 20 ms
    std::unique_ptr<SysExTable> sysEx;
};
