// Corvane: the small joystick-to-MIDI mapper.

#include <QApplication>

#include "platform/command_line.h"
#include "platform/midi.h"
#include "platform/nsm.h"
#include "program.h"
#include "prompter.h"

int main(int argc, char** argv) {
    static const platform::ProgramInfo kInfo{
        "Corvane",
        "corvane",
        TBX_VERSION,
        "Plays a joystick's three axes and four buttons as MIDI controllers, each with its\n"
        "own percentage curve.",
        "--config-dir",
        "the named configurations, corvane.txt,",
        "  corvane.txt                      the named configurations, in the configurations' "
        "folder\n"
        "  ~/.config/Corvane/Corvane.ini    the options: thru, MIDI ports, channel, sample rate,\n"
        "                                   MIDI system, OSC out and in\n"
        "Under a session manager (NSM_URL set) both, and corvane-session.txt with the\n"
        "assignments in play, are kept in the session's folder.\n"};
    platform::CommandLine line;
    if (const int exitCode = platform::StartFromCommandLine(argc, argv, kInfo, line);
        exitCode >= 0) {
        return exitCode;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));

    corvane::ProgramSetup setup;
    setup.midi = line.midi;
    setup.osc = {line.oscOut, line.oscIn};
    setup.nsmUrl = platform::NsmUrlFromEnvironment();
    setup.executable = argv[0];
    setup.makeServices = corvane::MakeSystemServices;
    corvane::QtPrompter prompter;
    corvane::Program program(std::move(setup), prompter);
    return program.Run();
}
