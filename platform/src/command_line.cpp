#include "platform/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace platform {
namespace {

std::string UserDataFolder(const char* name) {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        return std::string(data) + "/" + name;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/share/" + name;
}

// The README installed with the program, found from where the program is: bin/../share/doc.
// Empty when it is not there (a program run from its build folder).
std::string InstalledReadme() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    const std::filesystem::path readme =
        (self.parent_path().parent_path() / "share/doc/tamborex/README.md").lexically_normal();
    return std::filesystem::is_regular_file(readme, error) ? readme.string() : std::string();
}

std::string Help(const ProgramInfo& info) {
    const std::string folder = std::string(info.folderOption) + " DIR";
    const std::size_t width = folder.size() + 2;
    auto option = [width](const std::string& name, const std::string& text) {
        return "  " + name + std::string(width - name.size(), ' ') + text + "\n";
    };
    const std::string indent(width + 2, ' ');
    const std::string patchUsage =
        info.patchText ? std::string("       ") + info.command + " --export-patch FILE.txp\n" +
                             "       " + info.command + " --import-patch FILE.json OUT.txp\n"
                       : std::string();
    // Too long for the column the others line up in: each gets a line of its own.
    const std::string patchOptions =
        info.patchText ? "  --export-patch FILE.txp\n" + indent +
                             "print the patch file as JSON text on standard output\n" +
                             "  --import-patch FILE.json OUT.txp\n" + indent +
                             "write the patch file OUT.txp from JSON text (nothing is\n" + indent +
                             "written when the text has a fault: each is named)\n"
                       : std::string();
    return std::string("Usage: ") + info.command + " [OPTION]\n" + patchUsage + info.summary +
           "\n\nOptions:\n" +
           option(folder, std::string("keep ") + info.folderHolds + " in DIR (which must exist)") +
           indent + "instead of the folder the program is started in\n" +
           option("--user-dir", "keep it in " + UserDataFolder(info.name)) + indent +
           "(made if missing; the desktop launcher uses this)\n" +
           option("--midi=SYSTEM", "the MIDI system for this run: auto (the ALSA sequencer,") +
           indent + "else JACK), alsa or jack; over the setting in the options\n" +
           (info.headless != nullptr ? option("--headless", info.headless) : std::string()) +
           patchOptions + option("--version", "print the version and exit") +
           option("-h, --help", "print this help and exit") + "\nFiles and settings:\n" +
           info.files + "\nProblems: see the \"Reporting a problem\" section of " +
           [] {
               const std::string readme = InstalledReadme();
               return readme.empty() ? std::string("the README") : readme;
           }() +
           ".\n";
}

CommandLine Refuse(const ProgramInfo& info, const std::string& why) {
    CommandLine line;
    line.exitCode = 2;
    line.output = std::string(info.command) + ": " + why + "\nTry '" + info.command +
                  " --help' for the options.\n";
    return line;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv, const ProgramInfo& info) {
    CommandLine line;
    const std::string_view folderOption = info.folderOption;
    const char* patchOption = nullptr;  // the patch option given, which stands alone
    bool others = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (info.patchText && (arg == "--export-patch" || arg == "--import-patch")) {
            const bool exporting = arg == "--export-patch";
            const int files = exporting ? 1 : 2;
            if (patchOption != nullptr) {
                return Refuse(info,
                              "give '--export-patch' or '--import-patch' once, not both "
                              "or twice");
            }
            patchOption = exporting ? "--export-patch" : "--import-patch";
            for (int f = 1; f <= files; ++f) {
                if (i + f >= argc || argv[i + f][0] == '\0') {
                    return Refuse(info, exporting ? "option '--export-patch' needs a patch file"
                                                  : "option '--import-patch' needs a JSON file "
                                                    "and the patch file to write");
                }
            }
            if (exporting) {
                line.exportPatch = argv[++i];
            } else {
                line.importPatch = argv[++i];
                line.importPatchOut = argv[++i];
            }
            continue;
        }
        if (arg != "-h" && arg != "--help" && arg != "--version") {
            others = true;
        }
        if (arg == "-h" || arg == "--help") {
            line.exitCode = 0;
            line.output = Help(info);
            return line;
        }
        if (arg == "--version") {
            line.exitCode = 0;
            line.output = std::string(info.name) + " " + info.version + "\n";
            return line;
        }
        if (arg == "--headless" && info.headless != nullptr) {
            line.headless = true;
        } else if (arg == "--user-dir") {
            line.folder = UserDataFolder(info.name);
            line.createFolder = true;
        } else if (arg == folderOption) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                return Refuse(info,
                              std::string("option '") + info.folderOption + "' needs a folder");
            }
            line.folder = argv[++i];
            line.createFolder = false;
        } else if (arg.starts_with(folderOption) && arg.size() > folderOption.size() &&
                   arg[folderOption.size()] == '=') {
            line.folder = std::string(arg.substr(folderOption.size() + 1));
            line.createFolder = false;
            if (line.folder.empty()) {
                return Refuse(info,
                              std::string("option '") + info.folderOption + "' needs a folder");
            }
        } else if (arg == "--midi" || arg.starts_with("--midi=")) {
            std::string_view word = arg.size() > 6 ? arg.substr(7) : std::string_view();
            if (arg == "--midi" && i + 1 < argc) {
                word = argv[++i];
            }
            MidiBackend backend{};
            if (!ParseMidiBackend(word, backend) || backend == MidiBackend::None) {
                return Refuse(info, "option '--midi' takes auto, alsa or jack, not '" +
                                        std::string(word) + "'");
            }
            line.midi = backend;
        } else {
            return Refuse(info, "unknown option '" + std::string(arg) + "'");
        }
    }
    if (patchOption != nullptr && others) {
        // It reads and writes the files named, wherever a bank is: a folder or MIDI option
        // beside it would do nothing.
        return Refuse(info, std::string("option '") + patchOption + "' takes no other option");
    }
    return line;
}

bool EnterFolder(const CommandLine& line, std::string& message) {
    if (line.folder.empty()) {
        return true;
    }
    std::error_code error;
    if (line.createFolder) {
        std::filesystem::create_directories(line.folder, error);
    }
    if (!error && chdir(line.folder.c_str()) == 0) {
        return true;
    }
    message = "cannot use the folder " + line.folder + ": " +
              (error ? error.message() : std::string(std::strerror(errno)));
    return false;
}

int StartFromCommandLine(int argc, const char* const* argv, const ProgramInfo& info,
                         CommandLine& line) {
    line = ParseCommandLine(argc, argv, info);
    if (line.exitCode >= 0) {
        std::fputs(line.output.c_str(), line.exitCode == 0 ? stdout : stderr);
        return line.exitCode;
    }
    std::string message;
    if (!EnterFolder(line, message)) {
        std::fprintf(stderr, "%s: %s\n", info.command, message.c_str());
        return 2;
    }
    return -1;
}

}  // namespace platform
