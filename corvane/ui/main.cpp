// Corvane: the small joystick-to-MIDI mapper.

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include "configuration_file.h"
#include "ini_profile.h"
#include "main_dialog.h"
#include "mapper.h"
#include "platform/command_line.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/termination.h"
#include "platform/timer.h"
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
        "                                   MIDI system\n"};
    platform::CommandLine line;
    if (const int exitCode = platform::StartFromCommandLine(argc, argv, kInfo, line);
        exitCode >= 0) {
        return exitCode;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));

    corvane::IniProfile profile;
    if (!profile.Problem().isEmpty()) {
        QMessageBox::warning(nullptr, QStringLiteral("Corvane"), profile.Problem());
    }
    const corvane::Settings settings = corvane::ReadSettings(profile);
    const corvane::ExtraSettings extra = corvane::ReadExtraSettings(profile);

    platform::MidiBackend system = platform::MidiBackend::Automatic;
    (void)platform::ParseMidiBackend(extra.midiSystem, system);
    auto midi = platform::CreateMidiService("Corvane", line.midi.value_or(system));
    auto joystick = platform::CreateJoystickService();
    auto timer = platform::CreatePeriodicTimer();
    corvane::Mapper mapper(*midi, *joystick, *timer, settings, extra);
    corvane::ConfigurationFile file;
    corvane::QtPrompter prompter;

    {
        corvane::MainDialog dialog(mapper, file, prompter);
        // SIGTERM, SIGINT and SIGHUP end the program like its close box: the settings get written.
        if (const int fd = platform::WatchTerminationSignals(); fd >= 0) {
            auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &dialog);
            QObject::connect(notifier, &QSocketNotifier::activated, &dialog, [fd, &dialog] {
                platform::AcknowledgeTerminationSignals(fd);
                dialog.reject();
            });
        }
        dialog.exec();  // the program's whole life: it ends when the window does
        mapper.Shutdown();
    }
    corvane::WriteSettings(profile, mapper.CurrentSettings());
    corvane::WriteExtraSettings(profile, mapper.CurrentExtraSettings());
    QString why;
    if (!profile.Flush(why)) {
        QMessageBox::warning(nullptr, QStringLiteral("Corvane"), why);
    }
    return 0;
}
