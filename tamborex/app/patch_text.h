#pragma once

#include <ostream>
#include <string>

// `tamborex --export-patch FILE.txp` and `tamborex --import-patch FILE.json OUT.txp`: a patch
// file as JSON text and back, with no window, MIDI system or joystick. Messages name the file
// (and for a text, the line and key) at fault. Each returns the exit status: 0 when done, 1 when
// a file could not be read, was refused or could not be written.

// Prints the JSON text of the patch file to out. A file whose text would not give back the same
// bytes (one cut short, for instance) is still printed, with a note on err saying why.
int ExportPatchText(const std::string& patchPath, std::ostream& out, std::ostream& err);

// Writes the patch file the JSON text describes, through a temporary file renamed over outPath.
// When the text has faults, each is named on err and nothing is written: a file already at
// outPath stays as it was.
int ImportPatchText(const std::string& jsonPath, const std::string& outPath, std::ostream& err);
