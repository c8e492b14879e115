#pragma once

#include <span>
#include <string>
#include <vector>

#include "tamborex/model/patch.h"

class CByteReader;
class CByteWriter;

// Writes one patch block, of the current version unless an older layout is asked for, and with
// the system-exclusive messages past the four a patch holds when there are four and more are
// given: a patch file that came as text is written back byte for byte.
void StorePatch(const CPatch& patch, CByteWriter& out, std::int32_t version = kPatchVersion,
                std::span<const std::vector<std::uint8_t>> unusedSysEx = {});
// Reads one patch block of any version into patch. Fields after the end of a short file keep
// their values. Returns why the block cannot be taken, or an empty string; on a refusal the patch
// is partly overwritten, so callers load into a copy. The messages past the four a patch holds
// are skipped, or kept in unusedSysEx when it is given.
std::string LoadPatch(CByteReader& in, CPatch& patch,
                      std::vector<std::vector<std::uint8_t>>* unusedSysEx = nullptr);
