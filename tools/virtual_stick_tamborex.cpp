// Tamborex on a virtual joystick, for trying the program on a machine without a controller:
//
//     tamborex-virtual-stick
//
// then type lines on standard input: "b 0 down", "b 0 up" press and release button 1;
// "a 0 32767" pushes axis X (0 to 5: X, Y, Z, RX, RY, RZ) all the way, -32768 the other way;
// "s 0 out" pulls the stick out, "s 0 in" plugs it in again (at rest).
//
// Options as tamborex's: --bank-dir DIR or --user-dir, --headless, --midi=SYSTEM; --help lists
// them.

#include <SDL.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/command_line.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "stdin_stick.h"
#include "tamborex/app/core.h"
#include "tamborex/app/headless.h"
#include "tamborex/app/qt_ui_thread.h"
#include "tamborex_app.h"

int main(int argc, char** argv) {
    static const platform::ProgramInfo kInfo{
        "Tamborex",
        "tamborex-virtual-stick",
        TBX_VERSION,
        "Tamborex with a virtual joystick moved by lines on standard input: \"a N VALUE\",\n"
        "\"b N down\", \"b N up\", \"s 0 out\", \"s 0 in\".",
        "--bank-dir",
        "the bank, Tamborex.bnk,",
        "  Tamborex.bnk and the files beside it, as tamborex keeps them\n",
        "play the bank with no window at all; messages go to the error stream"};
    platform::CommandLine line;
    if (const int exitCode = platform::StartFromCommandLine(argc, argv, kInfo, line);
        exitCode >= 0) {
        return exitCode;
    }
    const bool headless = line.headless;
    const platform::MidiBackend backend = line.midi.value_or(ConfiguredMidiBackend(kBankFileName));
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
