#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tamborex/model/patch.h"

// Port names kept beside the device indices, so that a port that moved in the list is found
// again and a port that is gone is never replaced by whatever now sits at its index.

// A patch slot keeps its output port's name in its reserved block: "PORT", one length byte, the
// name. Files without it (zeros there) give an empty name.
std::string OutputPortName(const CPatch& patch);
// An empty name clears the mark. Names longer than the block holds are cut.
void SetOutputPortName(CPatch& patch, std::string_view name);

// What "Tamborex.ini", beside the bank, keeps: settings the bank's layout has no room for.
// Keys: System, InputPort, LowLatencyInput (1 or 0).
inline constexpr const char* kExtraSettingsFile = "Tamborex.ini";

struct CExtraSettings {
    std::string midiSystem = "auto";  // auto, alsa or jack, from the next start
    std::string midiInPortName;       // the port midiInDevice named when the bank was written
    bool lowLatencyInput = true;      // a stick change is sent at once, not at the next poll
};

std::vector<std::uint8_t> FormatExtraSettings(const CExtraSettings& settings);
// Lines it does not know are skipped; missing keys keep their defaults.
CExtraSettings ParseExtraSettings(std::string_view text);

// Where a remembered port is now: its index in names when there, -1 when it is gone; the stored
// index when no name was remembered (files from before names were kept).
int FollowPortName(const std::vector<std::string>& names, const std::string& remembered,
                   int storedIndex);
