#include "settings.h"

#include <algorithm>

namespace corvane {
namespace {
constexpr const char* kSection = "Options";
}

Settings ReadSettings(Profile& profile) {
    const Settings defaults;
    Settings s;
    s.thru = profile.ReadInt(kSection, "Thru", defaults.thru ? 1 : 0) != 0;
    s.inputDevice = profile.ReadInt(kSection, "DevIn", defaults.inputDevice);
    s.outputDevice = profile.ReadInt(kSection, "DevOut", defaults.outputDevice);
    s.channel = std::clamp(profile.ReadInt(kSection, "Channel", defaults.channel), 0, 15);
    s.sampleRate = profile.ReadInt(kSection, "SampleRate", defaults.sampleRate);
    return s;
}

void WriteSettings(Profile& profile, const Settings& s) {
    profile.WriteInt(kSection, "Thru", s.thru ? 1 : 0);
    profile.WriteInt(kSection, "DevIn", s.inputDevice);
    profile.WriteInt(kSection, "DevOut", s.outputDevice);
    profile.WriteInt(kSection, "Channel", s.channel);
    profile.WriteInt(kSection, "SampleRate", s.sampleRate);
}

ExtraSettings ReadExtraSettings(Profile& profile) {
    const ExtraSettings defaults;
    ExtraSettings e;
    e.inputName = profile.ReadText(kSection, "DevInName", defaults.inputName);
    e.outputName = profile.ReadText(kSection, "DevOutName", defaults.outputName);
    e.midiSystem = profile.ReadText(kSection, "MidiSystem", defaults.midiSystem);
    e.lowLatency = profile.ReadInt(kSection, "LowLatency", defaults.lowLatency ? 1 : 0) != 0;
    e.joystickName = profile.ReadText(kSection, "JoystickName", defaults.joystickName);
    e.joystickGuid = profile.ReadText(kSection, "JoystickGuid", defaults.joystickGuid);
    e.gamepadLayout = profile.ReadInt(kSection, "GamepadLayout", 0) != 0;
    e.oscOut = profile.ReadText(kSection, "OscOut", defaults.oscOut);
    e.oscIn = profile.ReadText(kSection, "OscIn", defaults.oscIn);
    return e;
}

void WriteExtraSettings(Profile& profile, const ExtraSettings& e) {
    profile.WriteText(kSection, "DevInName", e.inputName);
    profile.WriteText(kSection, "DevOutName", e.outputName);
    profile.WriteText(kSection, "MidiSystem", e.midiSystem);
    profile.WriteInt(kSection, "LowLatency", e.lowLatency ? 1 : 0);
    profile.WriteText(kSection, "JoystickName", e.joystickName);
    profile.WriteText(kSection, "JoystickGuid", e.joystickGuid);
    profile.WriteInt(kSection, "GamepadLayout", e.gamepadLayout ? 1 : 0);
    profile.WriteText(kSection, "OscOut", e.oscOut);
    profile.WriteText(kSection, "OscIn", e.oscIn);
}

}  // namespace corvane
