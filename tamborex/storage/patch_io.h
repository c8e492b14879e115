#pragma once

#include <string>

#include "tamborex/model/patch.h"

class CByteReader;
class CByteWriter;

// Writes one patch block of the current version.
void StorePatch(const CPatch& patch, CByteWriter& out);
// Reads one patch block of any version into patch. Fields after the end of a short file keep
// their values. Returns why the block cannot be taken, or an empty string; on a refusal the patch
// is partly overwritten, so callers load into a copy.
std::string LoadPatch(CByteReader& in, CPatch& patch);
