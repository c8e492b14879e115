#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tamborex/model/patch.h"

// The axis shaping of both slots, kept after slot 1's block of a ".txp" file where a reader of
// the published layout never looks (it stops after slot 1). Written only when some axis is
// shaped, so a patch without shaping is byte for byte the published file. The layout is in
// docs/file-formats.md.

inline constexpr char kShapeTag[4] = {'T', 'X', 'S', 'H'};
inline constexpr std::int32_t kShapeVersion = 1;
inline constexpr std::int32_t kShapeRecordCount = 2 * kAxisCount;
// Per axis: 3 calibration ints, 4 dead-zone doubles, invert, curve, strength, point count,
// 16 points of two doubles, two smoothing doubles, then hysteresis, resolution, LSB controller
// and the two flags.
inline constexpr std::int32_t kShapeRecordSize =
    3 * 4 + kDeadZoneCount * 8 + 4 + 4 + 8 + 4 + kMaxCurvePoints * 16 + 2 * 8 + 5 * 4;
inline constexpr std::size_t kShapeHeaderSize = 16;

// The extension's bytes for these slots; empty when no axis is shaped.
std::vector<std::uint8_t> FormatShapeExtension(const std::array<CPatch, 2>& slots);

// Reads the extension from what follows slot 1's block (rest) into the shapes of both slots.
// Every shape the file does not give is the default: no extension, or one that is cut short or
// damaged, leaves every axis unshaped, and an axis whose record holds impossible values is
// unshaped alone. Returns what to tell the user about a damaged extension, or an empty string;
// the published fields are never touched.
std::string ReadShapeExtension(std::span<const std::uint8_t> rest, std::array<CPatch, 2>& slots);

// CRC-32 (the polynomial of zip and PNG) of bytes.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);
