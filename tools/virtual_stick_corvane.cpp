// Corvane on a virtual joystick, for trying the program on a machine without a controller:
//
//     corvane-virtual-stick [--config-dir DIR | --user-dir] [--midi=auto|alsa|jack]
//
// then type lines on standard input: "b 0 down", "b 0 up" press and release button 1;
// "a 0 32767" pushes axis X (0 to 2: X, Y, Z) all the way, -32768 the other way;
// "s 0 out" pulls the stick out, "s 0 in" plugs it in again (at rest).

#include <SDL.h>

#include <QApplication>
#include <cstdio>
#include <optional>

#include "platform/command_line.h"
#include "platform/midi.h"
#include "program.h"
#include "prompter.h"
#include "stdin_stick.h"

int main(int argc, char** argv) {
    static const platform::ProgramInfo kInfo{
        "Corvane",
        "corvane-virtual-stick",
        TBX_VERSION,
        "Corvane with a virtual joystick moved by lines on standard input: \"a N VALUE\",\n"
        "\"b N down\", \"b N up\", \"s 0 out\", \"s 0 in\".",
        "--config-dir",
        "the named configurations, corvane.txt,",
        "  corvane.txt                      the named configurations, in the configurations' "
        "folder\n"
        "  ~/.config/Corvane/Corvane.ini    the options, shared with corvane\n"};
    platform::CommandLine line;
    if (const int exitCode = platform::StartFromCommandLine(argc, argv, kInfo, line);
        exitCode >= 0) {
        return exitCode;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
        std::fprintf(stderr, "SDL joysticks unavailable: %s\n", SDL_GetError());
        return 1;
    }
    // Plugged in before Corvane looks for controllers, so it plays from the start.
    std::optional<StdinStick> stick(std::in_place, "Corvane Virtual Pad", 3, 4, 0);
    int status = 0;
    {
        corvane::ProgramSetup setup;
        setup.midi = line.midi;
        setup.executable = argv[0];
        setup.makeServices = corvane::MakeSystemServices;
        corvane::QtPrompter prompter;
        corvane::Program program(std::move(setup), prompter);
        status = program.Run();
    }
    stick.reset();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    return status;
}
