// Tamborex: turns a game controller into a MIDI controller.

#include "tamborex_app.h"

int main(int argc, char** argv) {
    CTamborexApp app(argc, argv);
    return app.InitInstance();
}
