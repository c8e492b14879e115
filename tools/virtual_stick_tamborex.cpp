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

#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/joystick.h"
#include "platform/midi.h"
#include "stdin_stick.h"
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
    std::optional<StdinStick> stick(std::in_place, "Tamborex Virtual Pad", 6, 12, 1);
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
