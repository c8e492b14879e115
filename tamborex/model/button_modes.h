#pragma once

#include <array>
#include <cstdint>

#include "platform/midi_bytes.h"

// What a button does, as a patch stores it (the position in the dialog's list).
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

// How the engine carries a mode out.
enum class ButtonKind : std::uint8_t {
    None,
    Suppress,       // holds an axis still while pressed; value is the axis
    Note,           // note on, note off on release
    Arpeggiator,    // the button's arpeggio steps
    Pedal,          // controller value 127, 0 on release; value is the controller
    ProgramChange,  // Data 1 on the button's channel
    SysEx,          // the patch's message number Data 1
    Realtime,       // one status byte; value is the status
    SongSelect,     // Data 1
    SongPosition,   // Data 1 as 14 bits
    SystemReset,
    PatchChange,  // switches to bank entry Data 1
};

struct ButtonModeInfo {
    const char* name;  // as the Joystick options dialog lists it
    ButtonKind kind;
    std::int32_t value;
    bool usesData1;
    bool usesData2;
};

// Everything that depends on a mode reads it here: the engine's dispatch, the dialog's list and
// which of a row's fields it enables.
inline constexpr std::array kButtonModes = {
    ButtonModeInfo{"None", ButtonKind::None, 0, false, false},
    ButtonModeInfo{"X Suppress", ButtonKind::Suppress, 0, false, false},
    ButtonModeInfo{"Y Suppress", ButtonKind::Suppress, 1, false, false},
    ButtonModeInfo{"Z Suppress", ButtonKind::Suppress, 2, false, false},
    ButtonModeInfo{"RX Suppress", ButtonKind::Suppress, 3, false, false},
    ButtonModeInfo{"RY Suppress", ButtonKind::Suppress, 4, false, false},
    ButtonModeInfo{"RZ Suppress", ButtonKind::Suppress, 5, false, false},
    ButtonModeInfo{"Note On/Off (note, vel)", ButtonKind::Note, 0, true, true},
    ButtonModeInfo{"Arpeggiator", ButtonKind::Arpeggiator, 0, false, false},
    ButtonModeInfo{"Sustain", ButtonKind::Pedal, platform::midi::kSustain, false, false},
    ButtonModeInfo{"Portamento", ButtonKind::Pedal, platform::midi::kPortamento, false, false},
    ButtonModeInfo{"Sustenuto", ButtonKind::Pedal, platform::midi::kSostenuto, false, false},
    ButtonModeInfo{"Soft Pedal", ButtonKind::Pedal, platform::midi::kSoftPedal, false, false},
    ButtonModeInfo{"MIDI Prog Change (n)", ButtonKind::ProgramChange, 0, true, false},
    ButtonModeInfo{"Sys Ex message (n)", ButtonKind::SysEx, 0, true, false},
    ButtonModeInfo{"Song start", ButtonKind::Realtime, platform::midi::kStart, false, false},
    ButtonModeInfo{"Song continue", ButtonKind::Realtime, platform::midi::kContinue, false, false},
    ButtonModeInfo{"Song stop", ButtonKind::Realtime, platform::midi::kStop, false, false},
    ButtonModeInfo{"Song select (n)", ButtonKind::SongSelect, 0, true, false},
    ButtonModeInfo{"Song position (14-bit)", ButtonKind::SongPosition, 0, true, false},
    ButtonModeInfo{"System Reset (!)", ButtonKind::SystemReset, 0, false, false},
    ButtonModeInfo{"Tamborex Prog change", ButtonKind::PatchChange, 0, true, false},
};
inline constexpr int kButtonModeCount = static_cast<int>(kButtonModes.size());
static_assert(kButtonModeCount == MODE_PATCH_CHANGE + 1, "one table row per ButtonMode");

// The row of a stored mode; a mode from a file outside the table does nothing.
constexpr const ButtonModeInfo& ButtonModeOf(std::int32_t mode) {
    return mode >= 0 && mode < kButtonModeCount ? kButtonModes[mode] : kButtonModes[MODE_NONE];
}

const char* GetButtonModeName(std::int32_t mode);
