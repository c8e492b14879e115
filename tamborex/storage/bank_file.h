#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

inline constexpr int kBankEntries = 128;
inline constexpr int kPresets = 4;
inline constexpr const char* kBankFileName = "Tamborex.bnk";
inline constexpr const char* kNoPatchName = "(no patch)";
// The most characters of a patch name the bar takes.
inline constexpr std::size_t kMaxPatchNameLength = 36;
inline constexpr const char* kPatchFilter = "Tamborex Patch (*.txp) | *.txp";
inline constexpr const char* kPatchExtension = "*.txp";

// Everything "Tamborex.bnk" keeps: the bank, the presets and the global settings.
struct CBankState {
    std::int32_t patchNumber = 0;
    std::string patchName;
    std::array<std::string, kBankEntries> patchNames;
    std::array<std::string, kBankEntries> patchPaths;
    std::array<std::int32_t, kPresets> presets = {0, 1, 2, 3};
    std::int32_t midiInDevice = -1;
    std::int32_t respondToProgramChange = 1;
    std::int32_t formatTag = 201;  // written back as read
    std::int32_t alwaysOnTop = 0;
    std::int32_t midiThru = 0;
    std::array<std::int32_t, 2> barPos = {0, 0};
    std::array<std::int32_t, 2> secondPos = {0, 0};  // written back as read
    std::int32_t loadMinimized = 0;
    std::array<std::int32_t, 2> joyOptionsPos = {0, 0};

    CBankState() { patchNames.fill(kNoPatchName); }
};

std::vector<std::uint8_t> FormatBank(const CBankState& bank);
// Reads a bank file's bytes into bank. Fields the file does not reach keep their values; the
// messages to show (an old file without its tail, a short or damaged file, indices out of range,
// which are brought into range) are appended to messages.
void ReadBank(std::span<const std::uint8_t> bytes, CBankState& bank,
              std::vector<std::string>& messages);
