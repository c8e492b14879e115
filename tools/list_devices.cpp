// list-devices: what a user runs when their controller or synthesiser does not show up. Prints
// the MIDI system and why it was chosen, the MIDI ports with the indices both programs use, the
// attached joysticks, and with --watch the live axis and button values of the first joystick.
// --stats prints the MIDI counters of the programs running on JACK.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "platform/joystick.h"
#include "platform/midi.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
    stopRequested = 1;
}

void Usage() {
    std::puts(
        "usage: list-devices [--watch] [--stats] [--backend auto|alsa|jack|none] [--client NAME]\n"
        "  Lists the MIDI system in use and why, MIDI outputs and inputs with the indices\n"
        "  Tamborex and Corvane use, and the attached joysticks. --watch then shows the first\n"
        "  joystick's axes and buttons live until Ctrl+C. --stats prints the MIDI counters of\n"
        "  Tamborex and Corvane running on JACK. --client names the program whose view to show\n"
        "  (default Tamborex). A system asked for with --backend that cannot be had exits 1.");
}

// The counter files the running programs keep, one per process; those of processes that have
// ended are skipped.
int PrintStats() {
    namespace fs = std::filesystem;
    const std::string folder = platform::MidiCountersFolder();
    int found = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const auto dot = name.rfind(".midi-counters");
        if (dot == std::string::npos || dot + 14 != name.size()) {
            continue;
        }
        const auto pidDot = name.rfind('.', dot - 1);
        const std::string pid =
            pidDot == std::string::npos ? "" : name.substr(pidDot + 1, dot - pidDot - 1);
        if (pid.empty() || !fs::exists("/proc/" + pid)) {
            continue;
        }
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        std::printf("%s\n", text.str().c_str());
        ++found;
    }
    if (found == 0) {
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

int Watch(platform::JoystickService& joy) {
    using platform::JoyResult;
    if (joy.Open() != JoyResult::Ok) {
        std::puts("No joystick to watch.");
        return 1;
    }
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
    bool stats = false;
    platform::MidiBackend backend = platform::MidiBackend::Automatic;
    std::string client = "Tamborex";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--watch") == 0) {
            watch = true;
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
        std::fprintf(stderr, "list-devices: the MIDI system asked for is not available: %s\n",
                     midi->BackendReason().c_str());
        return 1;
    }
    PrintPorts("MIDI outputs", midi->ListOutputs(), client);
    PrintPorts("MIDI inputs", midi->ListInputs(), client);

    auto joy = platform::CreateJoystickService();
    const auto sticks = joy->ListJoysticks();
    std::puts("Joysticks:");
    if (sticks.empty()) {
        std::puts("  (none attached)");
    }
    for (std::size_t i = 0; i < sticks.size(); ++i) {
        const auto& s = sticks[i];
        std::printf("  %2zu  %s%s\n      %d axes, %d buttons, %d hats (reads up to %d and %d)\n", i,
                    s.name.c_str(), i == 0 ? "  (the one both programs use)" : "", s.numAxes,
                    s.numButtons, s.numHats, s.maxAxes, s.maxButtons);
        std::printf("      %s  %04x:%04x  %s\n", s.driver.c_str(), s.vendorId, s.productId,
                    s.path.empty() ? "" : s.path.c_str());
    }
    return watch ? Watch(*joy) : 0;
}
