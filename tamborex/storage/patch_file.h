#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tamborex/model/patch.h"

// A ".txp" file: the patch name, then the blocks of both patch slots.
std::vector<std::uint8_t> FormatPatchFile(const std::string& name,
                                          const std::array<CPatch, 2>& slots);

// Reads a ".txp" file into copies of both slots and takes them only when the whole file can be
// taken, so a rejected file never leaves a slot half-overwritten. Returns why it was refused,
// or an empty string.
std::string ReadPatchFile(std::span<const std::uint8_t> bytes, std::string& name,
                          std::array<CPatch, 2>& slots);
