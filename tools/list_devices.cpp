// list-devices: what a user runs when their controller or synthesiser does not show up. Prints
// the MIDI ports with the indices both programs use, the attached joysticks, and with --watch the
// live axis and button values of the first joystick.

#include <csignal>
#include <cstdio>
#include <cstring>
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
        "usage: list-devices [--watch] [--backend auto|alsa|jack|none] [--client NAME]\n"
        "  Lists MIDI outputs and inputs with the indices Tamborex and Corvane use, and the\n"
        "  attached joysticks. --watch then shows the first joystick's axes and buttons live\n"
        "  until Ctrl+C. --client names the program whose view to show (default Tamborex).");
}

bool ParseBackend(const char* text, platform::MidiBackend& backend) {
    const std::string name = text;
    if (name == "auto") {
        backend = platform::MidiBackend::Automatic;
    } else if (name == "alsa") {
        backend = platform::MidiBackend::AlsaSequencer;
    } else if (name == "jack") {
        backend = platform::MidiBackend::Jack;
    } else if (name == "none") {
        backend = platform::MidiBackend::None;
    } else {
        return false;
    }
    return true;
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
    platform::MidiBackend backend = platform::MidiBackend::Automatic;
    std::string client = "Tamborex";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--watch") == 0) {
            watch = true;
        } else if (std::strcmp(argv[i], "--backend") == 0 && i + 1 < argc &&
                   ParseBackend(argv[i + 1], backend)) {
            ++i;
        } else if (std::strcmp(argv[i], "--client") == 0 && i + 1 < argc) {
            client = argv[++i];
        } else {
            Usage();
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }

    auto midi = platform::CreateMidiService(client, backend);
    std::printf("MIDI backend: %s (%s)\n", midi->BackendName().c_str(),
                midi->BackendReason().c_str());
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
