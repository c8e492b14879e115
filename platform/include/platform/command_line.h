#pragma once

#include <optional>
#include <string>

#include "platform/midi.h"

namespace platform {

// What a program says about itself on its command line.
struct ProgramInfo {
    const char* name;          // "Tamborex"
    const char* command;       // "tamborex"
    const char* version;       // from the build
    const char* summary;       // one line: what the program does
    const char* folderOption;  // "--bank-dir"
    const char* folderHolds;   // "the bank, Tamborex.bnk"
    const char* files;         // the files and settings it uses, one per line, for --help
    // --headless and what it does, for a program that can run without a window; null otherwise.
    const char* headless = nullptr;
    // --export-patch and --import-patch, for a program with patch files.
    bool patchText = false;
};

// The command line read: either the program runs (exitCode < 0) in folder, or it prints output
// (to the standard output for exit code 0, the error stream otherwise) and exits.
struct CommandLine {
    int exitCode = -1;
    std::string output;
    // The folder to work in; empty for the one the program was started in.
    std::string folder;
    // The folder is the per-user data folder: made if missing. A folder named on the command
    // line must exist.
    bool createFolder = false;
    // --midi=auto|alsa|jack: the MIDI system for this run, over the program's own setting.
    std::optional<MidiBackend> midi;
    // --headless: no window system at all.
    bool headless = false;
    // --export-patch FILE: print the patch file as JSON text, and nothing else.
    std::string exportPatch;
    // --import-patch JSON OUT: write the patch file OUT from the JSON text, and nothing else.
    std::string importPatch;
    std::string importPatchOut;
};

// Reads --help (-h), --version, the folder option (as "OPTION DIR" or "OPTION=DIR"),
// --user-dir (the per-user data folder, $XDG_DATA_HOME/NAME or ~/.local/share/NAME, as the
// desktop launcher starts the program), --headless where the program has it, and --midi (as
// "--midi=SYSTEM" or "--midi SYSTEM"), and where the program has them --export-patch FILE and
// --import-patch JSON OUT, each only on its own. Anything else is refused with exit code 2.
CommandLine ParseCommandLine(int argc, const char* const* argv, const ProgramInfo& info);

// Makes the command line's folder the working one (creating it when asked). False with a message
// when that fails.
bool EnterFolder(const CommandLine& line, std::string& message);

// Both steps at a program's start, before any window: -1 to go on (with what was read in line),
// or the code to exit with once what the user asked for (or why it cannot be done) has been
// printed.
int StartFromCommandLine(int argc, const char* const* argv, const ProgramInfo& info,
                         CommandLine& line);

}  // namespace platform
