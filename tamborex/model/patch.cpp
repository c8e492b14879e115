#include "tamborex/model/patch.h"

#include "platform/midi_bytes.h"
#include "tamborex/model/button_modes.h"

const char* AxisLabel(int axis) {
    static const char* const labels[kAxisCount] = {"X Axis",  "Y Axis",  "Z Axis",
                                                   "XR Axis", "YR Axis", "ZR Axis"};
    return axis >= 0 && axis < kAxisCount ? labels[axis] : "";
}

const char* GetButtonModeName(std::int32_t mode) {
    return mode >= 0 && mode < kButtonModeCount ? kButtonModes[mode].name : "Unknown mode";
}

CPatch::CPatch() : sysEx(std::in_place) {
    for (int i = 0; i < kSysExCount; ++i) {
        sysEx->buffers[i][0] = platform::midi::kSystemExclusive;
        sysEx->buffers[i][1] = platform::midi::kEndOfExclusive;
        sysEx->lengths[i] = 2;
    }
}
