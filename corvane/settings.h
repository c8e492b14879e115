#pragma once

#include <string>

namespace corvane {

// The five options kept in the program's profile, section "Options".
struct Settings {
    bool thru = true;
    int inputDevice = 0;
    int outputDevice = -1;  // the default output
    int channel = 0;        // 0-15, shown as 1-16
    int sampleRate = 1;     // 0 "Low" 50 ms, 1 "Normal" 30 ms, 2 "High" 10 ms

    bool operator==(const Settings&) const = default;
};

// Ours, in extra keys of the same section: the ports the two device numbers named when they
// were chosen (DevInName, DevOutName), so that a port that moved in the list is followed and one
// that is gone is never replaced by another; and the MIDI system from the next start
// (MidiSystem: auto, alsa or jack).
struct ExtraSettings {
    std::string inputName;
    std::string outputName;
    std::string midiSystem = "auto";
    // Low latency (LowLatency, 1 or 0): a joystick change is sampled at once, besides the
    // sample rate's timer.
    bool lowLatency = true;
    // The controller last played (JoystickName, JoystickGuid): with several attached it is the
    // one taken, wherever it was plugged in. GamepadLayout (1 or 0): a gamepad is read in its
    // standard layout.
    std::string joystickName{};
    std::string joystickGuid{};
    bool gamepadLayout = false;
    // OSC (OscOut, OscIn): where the mirror of what is sent goes, as HOST:PORT, and where MIDI
    // to play is heard, as [ADDRESS:]PORT; empty for off.
    std::string oscOut{};
    std::string oscIn{};

    bool operator==(const ExtraSettings&) const = default;
};

// Where the profile is kept; the program gives an INI file, tests a map.
class Profile {
  public:
    virtual ~Profile() = default;
    virtual int ReadInt(const char* section, const char* key, int fallback) = 0;
    virtual void WriteInt(const char* section, const char* key, int value) = 0;
    virtual std::string ReadText(const char* section, const char* key,
                                 const std::string& fallback) = 0;
    virtual void WriteText(const char* section, const char* key, const std::string& value) = 0;
};

// Reads Thru, DevIn, DevOut, Channel, SampleRate in that order, each with its default when absent.
// Any non-zero Thru counts as on; a channel outside 0-15 is limited to that range.
Settings ReadSettings(Profile& profile);
// Writes all five, in the same order.
void WriteSettings(Profile& profile, const Settings& settings);

ExtraSettings ReadExtraSettings(Profile& profile);
void WriteExtraSettings(Profile& profile, const ExtraSettings& extra);

}  // namespace corvane
