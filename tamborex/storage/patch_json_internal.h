#pragma once

// What the JSON exporter and importer of patch files share: the keys, the file's contents as the
// text sees them, and the byte layouts of hexadecimal strings.

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "tamborex/model/patch.h"
#include "tamborex/storage/patch_json.h"

// Members keep the order they were written in, so an exported patch reads as the file is laid
// out and its diffs stay small.
using PatchJson = nlohmann::ordered_json;

// A patch file as the text describes it: besides what Tamborex loads, each slot's block version,
// so that a file of an older layout is written back in that layout, and the system-exclusive
// messages past the four a slot holds, which Tamborex skips.
struct CPatchFileText {
    std::string name;
    std::array<CPatch, 2> slots;
    std::array<std::int32_t, 2> versions{kPatchVersion, kPatchVersion};
    std::array<std::vector<std::vector<std::uint8_t>>, 2> unusedSysEx;
    std::string notice;  // what Tamborex says on loading the file (a damaged axis shaping)
};

// The block versions at which fields joined the layout (older blocks have no such keys).
inline constexpr std::int32_t kFirstVersion = 1;
inline constexpr std::int32_t kVersionWithSysEx = 2;
inline constexpr std::int32_t kVersionWithNrpn = 4;
inline constexpr std::int32_t kVersionWithMinimumMovement = 5;

// Lists and objects nest no deeper than this in a text the importer reads; a patch's own text
// nests 8 deep at most.
inline constexpr std::size_t kMaxJsonDepth = 32;

// Parses a patch's JSON text. False with the problem when the text is not JSON, holds a number no
// double can hold (named by its key), or nests deeper than kMaxJsonDepth; root is then null.
bool ParsePatchJson(std::string_view text, PatchJson& root, CPatchJsonProblem& problem);

// Reads bytes as Tamborex loads them, with each block's version. Returns why it cannot.
std::string ReadPatchFileText(std::span<const std::uint8_t> bytes, CPatchFileText& text);
std::vector<std::uint8_t> FormatPatchFileText(const CPatchFileText& text);

namespace patchkey {
// The file.
inline constexpr char kName[] = "name";
inline constexpr char kNameBytes[] = "nameBytes";  // a name that is not UTF-8, in hexadecimal
inline constexpr char kSlots[] = "slots";
// A slot.
inline constexpr char kVersion[] = "version";
inline constexpr char kActive[] = "active";
inline constexpr char kJoystick[] = "joystick";
inline constexpr char kSensitivity[] = "sensitivity";
inline constexpr char kOutputDevice[] = "outputDevice";
inline constexpr char kPollInterval[] = "pollInterval";
inline constexpr char kMarks[] = "marks";
inline constexpr char kReserved[] = "reserved";
inline constexpr char kAxes[] = "axes";
inline constexpr char kButtons[] = "buttons";
inline constexpr char kSysEx[] = "sysex";
inline constexpr char kUnusedSysEx[] = "unusedSysex";
// The marks in the reserved block.
inline constexpr char kOutputPort[] = "outputPort";
inline constexpr char kOutputPortKey[] = "outputPortKey";
inline constexpr char kControllerName[] = "controllerName";
inline constexpr char kControllerGuid[] = "controllerGuid";
inline constexpr char kGamepadLayout[] = "gamepadLayout";
// An axis.
inline constexpr char kController[] = "controller";
inline constexpr char kChannel[] = "channel";
inline constexpr char kMin[] = "min";
inline constexpr char kMax[] = "max";
inline constexpr char kReverse[] = "reverse";
inline constexpr char kFullRange[] = "fullRange";
inline constexpr char kNrpnMsb[] = "nrpnMsb";
inline constexpr char kNrpnLsb[] = "nrpnLsb";
inline constexpr char kMinimumMovement[] = "minimumMovement";
inline constexpr char kValue[] = "value";
inline constexpr char kShape[] = "shape";
// An axis's shape.
inline constexpr char kCalibration[] = "calibration";  // with kMin, kCentre and kMax
inline constexpr char kCentre[] = "centre";
inline constexpr char kDeadZone[] = "deadZone";
inline constexpr char kInvert[] = "invert";
inline constexpr char kCurve[] = "curve";
inline constexpr char kStrength[] = "strength";
inline constexpr char kPoints[] = "points";
inline constexpr char kSmoothing[] = "smoothing";
inline constexpr char kMinCutoff[] = "minCutoff";
inline constexpr char kBeta[] = "beta";
inline constexpr char kHysteresis[] = "hysteresis";
inline constexpr char kResolution[] = "resolution";
inline constexpr char kLsbController[] = "lsbController";
inline constexpr char kLsbOnlyWhenMsbUnchanged[] = "lsbOnlyWhenMsbUnchanged";
inline constexpr char kNrpnNull[] = "nrpnNull";
// A button.
inline constexpr char kMode[] = "mode";
inline constexpr char kData1[] = "data1";
inline constexpr char kData2[] = "data2";
inline constexpr char kNotes[] = "notes";
inline constexpr char kVelocities[] = "velocities";
inline constexpr char kTimes[] = "times";
inline constexpr char kSteps[] = "steps";
inline constexpr char kAuto[] = "auto";
inline constexpr char kCurrentStep[] = "currentStep";
inline constexpr char kPressed[] = "pressed";
}  // namespace patchkey

// An axis's controller: a number 0 to 127, or one of these for the two entries before them.
inline constexpr char kControllerNone[] = "none";
inline constexpr char kControllerPitchBend[] = "pitchBend";

// Runtime fields a file keeps: left out of the text while they hold these.
inline constexpr std::int32_t kDefaultAxisValue = 0;
inline constexpr std::int32_t kDefaultCurrentStep = 1;
inline constexpr std::int32_t kDefaultPressed = 0;

// Bytes as two upper-case hexadecimal digits each, one space between bytes.
std::string HexText(const std::uint8_t* bytes, std::size_t count);
// Hexadecimal digits in pairs, spaces anywhere between pairs. False with why when it is not.
bool ParseHexText(std::string_view text, std::vector<std::uint8_t>& bytes, std::string& why);

// Whether text is valid UTF-8, which a JSON string must be.
bool IsUtf8(std::string_view text);
