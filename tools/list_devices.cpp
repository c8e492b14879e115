// tamborex-list-devices: what a user runs when their controller or synthesiser does not show up.
// Prints the MIDI system and why it was chosen, the MIDI ports with the indices both programs use,
// the attached joysticks with their numbers and identities, and with --watch N the live axis and
// button values of joystick N.
// --stats prints the MIDI counters of the programs running on JACK.

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/joystick.h"
#include "platform/midi.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
    stopRequested = 1;
}

void Usage() {
    std::puts(
        "usage: tamborex-list-devices [--watch [N] [--gamepad]] [--stats]\n"
        "                    [--backend auto|alsa|jack|none] [--client NAME]\n"
        "  Lists the MIDI system in use and why, MIDI outputs and inputs with the indices\n"
        "  Tamborex and Corvane use, and the attached joysticks with their numbers, names and\n"
        "  GUIDs. --watch N then shows joystick N's axes and buttons live until Ctrl+C (0 when\n"
        "  N is left out; --gamepad reads it in the gamepad layout). --stats prints the MIDI\n"
        "  counters of Tamborex and Corvane running on JACK. --client names the program whose\n"
        "  view to show (default Tamborex). A system asked for with --backend that cannot be\n"
        "  had exits 1.");
}

// When the process with this id started, in seconds since the epoch; 0 when there is none.
double ProcessStartTime(const std::string& pid) {
    // The start is kept in clock ticks since boot: field 22 of /proc/PID/stat, counted after the
    // command's name, which is in parentheses and may hold anything, spaces included.
    std::vector<std::uint8_t> stat;
    std::vector<std::uint8_t> systemStat;
    int cause = 0;
    if (!platform::ReadWholeFile("/proc/" + pid + "/stat", stat, cause, 4096) ||
        !platform::ReadWholeFile("/proc/stat", systemStat, cause, 1 << 20)) {
        return 0;
    }
    const std::string fields(stat.begin(), stat.end());
    const std::string system(systemStat.begin(), systemStat.end());
    const auto nameEnd = fields.rfind(')');
    const auto bootAt = system.find("\nbtime ");
    if (nameEnd == std::string::npos || bootAt == std::string::npos) {
        return 0;
    }
    std::istringstream after(fields.substr(nameEnd + 1));
    std::string field;
    for (int i = 3; i <= 22 && after >> field; ++i) {
    }
    const double ticks = std::strtod(field.c_str(), nullptr);
    const double boot = std::strtod(system.c_str() + bootAt + 7, nullptr);
    return ticks > 0 && boot > 0 ? boot + ticks / static_cast<double>(sysconf(_SC_CLK_TCK)) : 0;
}

// A counters file's text as it may go to a terminal: control characters (a program name, a
// damaged file) are shown as '?', so that nothing in the file acts on the terminal.
std::string Printable(const std::vector<std::uint8_t>& text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t c = text[i];
        if (c == 0xC2 && i + 1 < text.size() && text[i + 1] >= 0x80 && text[i + 1] <= 0x9F) {
            shown += '?';  // a control character of the second set, in UTF-8
            ++i;
        } else {
            shown += (c < 0x20 && c != '\n') || c == 0x7F ? '?' : static_cast<char>(c);
        }
    }
    return shown;
}

// The counter files the running programs keep, "<program>.<process id>.midi-counters", one per
// process, in the private folder they publish them in. A file whose process has ended is removed
// (a program that was killed leaves its file behind), also when a later process has its id: the
// file was last written before that process started. Only regular files of a counter file's size
// are read, so nothing in that folder makes this wait or floods the terminal, and nothing but
// such files of the user's own is removed.
int PrintStats() {
    namespace fs = std::filesystem;
    constexpr std::size_t kMaxCountersFileSize = 4096;  // a few hundred bytes in truth
    constexpr double kClockSlack = 2;                   // the boot time is kept in whole seconds
    const char* kSuffix = ".midi-counters";
    std::string folder;
    const platform::FolderState state =
        platform::PrivateRuntimeFolder(platform::kMidiCountersFolderName, false, folder);
    // Without the process table nothing can be told about the writers: all are listed.
    const bool judge = ProcessStartTime(std::to_string(getpid())) > 0;
    int found = 0;
    std::error_code error;
    fs::directory_iterator it;
    if (state == platform::FolderState::Private) {
        it = fs::directory_iterator(folder, error);
    }
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.ends_with(kSuffix)) {
            continue;
        }
        const std::string stem = name.substr(0, name.size() - std::strlen(kSuffix));
        const auto pidDot = stem.rfind('.');
        const std::string pid = pidDot == std::string::npos ? "" : stem.substr(pidDot + 1);
        struct stat info {};
        if (pidDot == 0 || pid.empty() || pid.size() > 9 ||
            !std::all_of(pid.begin(), pid.end(),
                         [](unsigned char c) { return std::isdigit(c) != 0; }) ||
            lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != geteuid()) {
            continue;
        }
        const double started = judge ? ProcessStartTime(pid) : 0;
        const double written =
            static_cast<double>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 1e9;
        if (judge && (started == 0 || written + kClockSlack < started)) {
            unlink(it->path().c_str());
            continue;
        }
        std::vector<std::uint8_t> text;
        int cause = 0;
        if (!platform::ReadWholeFile(it->path().string(), text, cause, kMaxCountersFileSize)) {
            continue;
        }
        std::puts(Printable(text).c_str());
        ++found;
    }
    if (state == platform::FolderState::NotPrivate) {
        std::printf(
            "MIDI counters are not read from %s: it is not a folder of yours that only you can "
            "enter.\n",
            folder.c_str());
    } else if (found == 0) {
        std::printf("No program on JACK reports MIDI counters in %s.\n", folder.c_str());
    }
    std::puts(
        "sent: messages the program handed to JACK; thru: messages copied from its input to its\n"
        "output inside the cycle; carried: messages that waited for a later cycle because the\n"
        "port's buffer was full (late, not lost); dropped: messages that could not go at all (too\n"
        "large for the server, or the send queue full: the program reported an error); received:\n"
        "messages taken from its input; overflowed: input that came faster than the program\n"
        "took it; reconnects: times its ports came back with a restarted JACK server.");
    return 0;
}

void PrintPorts(const char* title, const std::vector<std::string>& names,
                const std::string& client) {
    std::printf("%s:\n", title);
    if (names.empty()) {
        std::puts("  (none)");
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool own = i == 0 && names[i] == client;
        std::printf("  %2zu  %s%s\n", i, names[i].c_str(),
                    own ? "  (the program's own port, for other programs to connect to)" : "");
    }
}

int Watch(platform::JoystickService& joy, int number, bool gamepad,
          const std::vector<platform::JoystickCaps>& sticks) {
    using platform::JoyResult;
    if (number < 0 || number >= static_cast<int>(sticks.size())) {
        std::printf("No joystick %d to watch.\n", number);
        return 1;
    }
    // By its GUID as well, so that the one listed is the one watched even among two alike.
    joy.SetChoice({sticks[number].guid, sticks[number].name, number, gamepad});
    if (joy.Open() != JoyResult::Ok) {
        std::printf("Joystick %d could not be opened.\n", number);
        return 1;
    }
    std::printf("Watching %d: %s%s\n", number, sticks[number].name.c_str(),
                gamepad && sticks[number].gamepad ? " (gamepad layout)" : "");
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    for (int axis = 0; axis < platform::kJoyAxisSlots; ++axis) {
        joy.SetAxisRange(axis, 0, 127);  // the scale Tamborex uses by default
    }
    std::puts("Axes 0..127 (X Y Z RX RY RZ S0 S1), buttons 1-32, hat. Ctrl+C ends.");
    const bool tty = isatty(fileno(stdout));
    while (stopRequested == 0) {
        JoyResult r = joy.Poll();
        if (r == JoyResult::NotAcquired || r == JoyResult::InputLost) {
            r = joy.Acquire();
        }
        platform::RawJoyState state;
        if (r == JoyResult::Ok && joy.GetState(state) == JoyResult::Ok) {
            char buttons[platform::kJoyButtons + 1] = {};
            for (int b = 0; b < platform::kJoyButtons; ++b) {
                buttons[b] = (state.buttons[b] & 0x80) ? '#' : '.';
            }
            std::printf("%s%3d %3d %3d %3d %3d %3d %3d %3d  %s  hat %5d%s", tty ? "\r" : "",
                        state.axes[0], state.axes[1], state.axes[2], state.axes[3], state.axes[4],
                        state.axes[5], state.sliders[0], state.sliders[1], buttons,
                        state.pov[0] == platform::kPovCentred ? -1 : int(state.pov[0]),
                        tty ? "" : "\n");
        } else {
            std::printf("%sjoystick: %s%s", tty ? "\r" : "", platform::JoyResultName(r),
                        tty ? "                                        " : "\n");
        }
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::puts("");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool watch = false;
    int watchNumber = 0;
    bool gamepad = false;
    bool stats = false;
    platform::MidiBackend backend = platform::MidiBackend::Automatic;
    std::string client = "Tamborex";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--watch") == 0) {
            watch = true;
            char* end = nullptr;
            if (i + 1 < argc && argv[i + 1][0] != '-') {
                watchNumber = static_cast<int>(std::strtol(argv[i + 1], &end, 10));
                if (*end != '\0' || watchNumber < 0) {
                    Usage();
                    return 2;
                }
                ++i;
            }
        } else if (std::strcmp(argv[i], "--gamepad") == 0) {
            gamepad = true;
        } else if (std::strcmp(argv[i], "--stats") == 0) {
            stats = true;
        } else if (std::strcmp(argv[i], "--backend") == 0 && i + 1 < argc &&
                   platform::ParseMidiBackend(argv[i + 1], backend)) {
            ++i;
        } else if (std::strcmp(argv[i], "--client") == 0 && i + 1 < argc) {
            client = argv[++i];
        } else {
            Usage();
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }

    if (stats) {
        return PrintStats();
    }
    auto midi = platform::CreateMidiService(client, backend);
    std::printf("MIDI backend: %s (%s)\n", midi->BackendName().c_str(),
                midi->BackendReason().c_str());
    if (midi->BackendName() == "none" && backend != platform::MidiBackend::None &&
        backend != platform::MidiBackend::Automatic) {
        std::fprintf(stderr,
                     "tamborex-list-devices: the MIDI system asked for is not available: %s\n",
                     midi->BackendReason().c_str());
        return 1;
    }
    PrintPorts("MIDI outputs", midi->ListOutputs(), client);
    PrintPorts("MIDI inputs", midi->ListInputs(), client);

    auto joy = platform::CreateJoystickService();
    const auto sticks = joy->ListJoysticks();
    std::puts("Joysticks (by number, the order a patch's joystick number counts in):");
    if (sticks.empty()) {
        const std::string advice = platform::JoystickAccessAdvice(platform::UnreadableJoysticks(),
                                                                  "tamborex-list-devices");
        std::printf("  (none attached)%s%s\n", advice.empty() ? "" : "\n  ", advice.c_str());
    }
    for (const auto& s : sticks) {
        std::printf("  %2d  %s\n      %d axes, %d buttons, %d hats (reads up to %d and %d)%s\n",
                    s.number, s.name.c_str(), s.numAxes, s.numButtons, s.numHats, s.maxAxes,
                    s.maxButtons, s.gamepad ? "; gamepad layout known" : "");
        std::printf("      GUID %s  %s  %04x:%04x  %s\n", s.guid.c_str(), s.driver.c_str(),
                    s.vendorId, s.productId, s.path.empty() ? "" : s.path.c_str());
    }
    return watch ? Watch(*joy, watchNumber, gamepad, sticks) : 0;
}
