// Tamborex on a virtual joystick, for trying the program on a machine without a controller:
//
//     tamborex-virtual-stick
//
// then type lines on standard input: "b 0 down", "b 0 up" press and release button 1;
// "a 0 32767" pushes axis X (0 to 5: X, Y, Z, RX, RY, RZ) all the way, -32768 the other way;
// "s 0 out" pulls the stick out, "s 0 in" plugs it in again (at rest).

#include <SDL.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/virtual_stick.h"
#include "tamborex_app.h"

int main(int argc, char** argv) {
    CTamborexApp app(argc, argv);
    auto midi = platform::CreateMidiService("Tamborex");
    auto joystick = platform::CreateJoystickService();
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
        std::fprintf(stderr, "SDL joysticks unavailable: %s\n", SDL_GetError());
        return 1;
    }
    auto plug = [] {
        return std::make_unique<platform::VirtualStick>("Tamborex Virtual Pad", 6, 12, 1);
    };
    std::unique_ptr<platform::VirtualStick> stick = plug();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);  // end of input: the stick stays as it is
            return;
        }
        std::istringstream lines(std::string(buffer, static_cast<std::size_t>(got)));
        std::string kind;
        int index = 0;
        std::string value;
        while (lines >> kind >> index >> value) {
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
    });
    const int status = app.Run(*midi, *joystick);
    stick.reset();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    return status;
}
