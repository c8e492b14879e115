#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tamborex/model/patch.h"

// A ".txp" file: the patch name, then the blocks of both patch slots, then the axis shaping when
// any axis is shaped (shape_extension.h).
std::vector<std::uint8_t> FormatPatchFile(const std::string& name,
                                          const std::array<CPatch, 2>& slots);

// Reads a ".txp" file into copies of both slots and takes them only when the whole file can be
// taken, so a rejected file never leaves a slot half-overwritten. Returns why it was refused,
// or an empty string. The axis shaping after the blocks never refuses the file: a damaged one
// leaves the axes unshaped and says so in notice, when given.
std::string ReadPatchFile(std::span<const std::uint8_t> bytes, std::string& name,
                          std::array<CPatch, 2>& slots, std::string* notice = nullptr);
