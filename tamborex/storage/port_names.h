#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tamborex/model/patch.h"

// Port names kept beside the device indices, so that a port that moved in the list is found
// again and a port that is gone is never replaced by whatever now sits at its index.

// A patch slot keeps, in its reserved block, what its fields cannot: its output port's name and
// the controller it was made for. The block holds records of a four-letter tag, one length byte
// and the value: "PORT" the port's name (always first, where it has always been), "JNAM" the
// controller's name, "JGID" its GUID, "JPAD" 1 when it is read in the gamepad layout, and last
// "PKEY" when the port's name did not fit beside the others: "PORT" then holds its start, cut
// between two letters, and "PKEY" the key of the whole name, which is kept beside the bank
// (kLongPortNamesFile). Files without them (zeros there) give empty marks.
struct CPatchMarks {
    std::string outputPort;
    std::string controllerName;
    std::string controllerGuid;
    bool gamepadLayout = false;
    std::string outputPortKey{};  // set when outputPort is only the start of the port's name

    bool operator==(const CPatchMarks&) const = default;
};

// What WritePatchMarks could not put in the block.
struct CMarksLeftOut {
    std::string wholePortName;       // cut: to be kept beside the bank
    std::vector<std::string> marks;  // left out for want of room ("the controller's name", ...)
};

CPatchMarks ReadPatchMarks(const CPatch& patch);
// Empty marks are left out. A port's name that does not fit whole beside the controller marks is
// cut, with its key; a controller mark that does not fit whole is left out, never cut into a
// name no controller has.
CMarksLeftOut WritePatchMarks(CPatch& patch, const CPatchMarks& marks);

// The key a cut port's name is found again by.
std::string PortNameKey(std::string_view wholeName);
// Among names, the one a cut port's mark stands for; empty when none is (or the mark is whole).
std::string FindWholePortName(const CPatchMarks& marks, const std::vector<std::string>& names);

// "Tamborex.ports", beside the bank: the whole names of the ports whose names patch files keep
// cut, one a line.
inline constexpr const char* kLongPortNamesFile = "Tamborex.ports";
std::vector<std::uint8_t> FormatLongPortNames(const std::vector<std::string>& names);
std::vector<std::string> ParseLongPortNames(std::string_view text);

// The port's mark as the block holds it (only its start when it was cut).
std::string OutputPortName(const CPatch& patch);
// Keeps the other marks. An empty name clears the port's mark.
void SetOutputPortName(CPatch& patch, std::string_view name);

// What "Tamborex.ini", beside the bank, keeps: settings the bank's layout has no room for.
// Keys: System, InputPort, LowLatencyInput (1 or 0), OscOut (HOST:PORT) and OscIn ([ADDRESS:]PORT;
// empty for off).
inline constexpr const char* kExtraSettingsFile = "Tamborex.ini";
inline constexpr std::size_t kMaxExtraSettingsSize = 64 * 1024;  // a few lines in truth

struct CExtraSettings {
    std::string midiSystem = "auto";  // auto, alsa or jack, from the next start
    std::string midiInPortName;       // the port midiInDevice named when the bank was written
    bool lowLatencyInput = true;      // a stick change is sent at once, not at the next poll
    std::string oscOut{};             // where OSC goes; empty: nowhere
    std::string oscIn{};              // where OSC is heard; empty: nowhere
};

std::vector<std::uint8_t> FormatExtraSettings(const CExtraSettings& settings);
// Lines it does not know are skipped; missing keys keep their defaults.
CExtraSettings ParseExtraSettings(std::string_view text);
