#include "patch.h"

const char* AxisLabel(int axis) {
    static const char* const labels[kAxisCount] = {"X Axis",  "Y Axis",  "Z Axis",
                                                   "XR Axis", "YR Axis", "ZR Axis"};
    return axis >= 0 && axis < kAxisCount ? labels[axis] : "";
}

const char* GetButtonModeName(std::int32_t mode) {
    static const char* const names[kButtonModeCount] = {
        "None",
        "X Suppress",
        "Y Suppress",
        "Z Suppress",
        "RX Suppress",
        "RY Suppress",
        "RZ Suppress",
        "Note On/Off (note, vel)",
        "Arpeggiator",
        "Sustain",
        "Portamento",
        "Sustenuto",
        "Soft Pedal",
        "MIDI Prog Change (n)",
        "Sys Ex message (n)",
        "Song start",
        "Song continue",
        "Song stop",
        "Song select (n)",
        "Song position (14-bit)",
        "System Reset (!)",
        "Tamborex Prog change",
    };
    return mode >= 0 && mode < kButtonModeCount ? names[mode] : "Unknown mode";
}

CPatch::CPatch() : sysEx(std::make_unique<SysExTable>()) {
    for (int i = 0; i < kSysExCount; ++i) {
        sysEx->buffers[i][0] = 0xF0;
        sysEx->buffers[i][1] = 0xF7;
        sysEx->lengths[i] = 2;
    }
}

CPatch::CPatch(const CPatch& other) : CPatch() {
    *this = other;
}

CPatch& CPatch::operator=(const CPatch& other) {
    if (this == &other) {
        return *this;
    }
    sysExCount = other.sysExCount;
    active = other.active;
    joystickNumber = other.joystickNumber;
    outputDevice = other.outputDevice;
    axes = other.axes;
    buttons = other.buttons;
    reserved = other.reserved;
    joystickSensitivity = other.joystickSensitivity;
    pollIntervalCode = other.pollIntervalCode;
    sysEx = other.sysEx ? std::make_unique<SysExTable>(*other.sysEx) : nullptr;
    return *this;
}
