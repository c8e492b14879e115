// Tamborex on a virtual joystick, for trying the program on a machine without a controller:
//
//     tamborex-virtual-stick
//
// then type lines on standard input: "b 0 down", "b 0 up" press and release button 1;
// "a 0 32767" pushes axis X (0 to 5: X, Y, Z, RX, RY, RZ) all the way, -32768 the other way;
// "s 0 out" pulls the stick out, "s 0 in" plugs it in again (at rest).
//
// Options: --headless runs it without a window, as `tamborex --headless` does; --midi=jack (or
// alsa) picks the MIDI system.

#include <SDL.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/virtual_stick.h"
#include "tamborex/app/core.h"
#include "tamborex/app/headless.h"
#include "tamborex/app/qt_ui_thread.h"
#include "tamborex_app.h"

int main(int argc, char** argv) {
    bool headless = false;
    platform::MidiBackend backend = platform::MidiBackend::Automatic;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        headless = headless || arg == "--headless";
        if (arg.starts_with("--midi=") && !platform::ParseMidiBackend(arg.substr(7), backend)) {
            std::fprintf(stderr, "tamborex-virtual-stick: unknown MIDI system %s\n", argv[i]);
            return 2;
        }
    }
    platform::FileLock lock;
    if (std::string refusal; !LockBankFolder(kBankFileName, lock, refusal)) {
        std::fprintf(stderr, "tamborex-virtual-stick: %s\n", refusal.c_str());
        return 1;
    }
    // Without a window only QtCore is started, so no display is needed.
    std::unique_ptr<QCoreApplication> app = headless
                                                ? std::make_unique<QCoreApplication>(argc, argv)
                                                : std::make_unique<CTamborexApp>(argc, argv);
    auto midi = platform::CreateMidiService("Tamborex", backend);
    auto joystick = platform::CreateJoystickService();
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
        std::fprintf(stderr, "SDL joysticks unavailable: %s\n", SDL_GetError());
        return 1;
    }
    auto plug = [] {
        return std::make_unique<platform::VirtualStick>("Tamborex Virtual Pad", 6, 12, 1);
    };
    std::unique_ptr<platform::VirtualStick> stick = plug();
    auto apply = [&](const std::string& line) {
        std::istringstream words(line);
        std::string kind;
        int index = 0;
        std::string value;
        while (words >> kind >> index >> value) {
            if (kind == "s") {
                stick = value == "in" ? plug() : nullptr;
            } else if (!stick) {
                continue;  // pulled out: nothing to press
            } else if (kind == "b") {
                stick->Button(index, value == "down");
            } else if (long position = 0; kind == "a" && std::istringstream(value) >> position) {
                stick->Axis(index, static_cast<Sint16>(std::clamp(position, -32768L, 32767L)));
            }
        }
    };
    // A read may end inside a line: its start waits here for the rest. No command is longer
    // than kLongestLine; a longer line is dropped up to its end.
    std::string pending;
    bool dropping = false;
    constexpr std::size_t kLongestLine = 4096;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            if (!dropping) {
                apply(pending);  // the last line, without its line break
            }
            pending.clear();
            input.setEnabled(false);  // end of input: the stick stays as it is
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            if (!dropping) {
                apply(pending.substr(0, end));
            }
            dropping = false;
            pending.erase(0, end + 1);
        }
        if (pending.size() > kLongestLine) {
            pending.clear();
            dropping = true;
        }
    });
    int status = 0;
    if (headless) {
        CQtUiThread ui;
        CTamborexCore core(ui, *midi, *joystick);
        status = RunHeadlessSession(core.Session());
    } else {
        status = static_cast<CTamborexApp&>(*app).Run(*midi, *joystick);
    }
    stick.reset();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    return status;
}
