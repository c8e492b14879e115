// Corvane: the small joystick-to-MIDI mapper.

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include "configuration_file.h"
#include "ini_profile.h"
#include "main_dialog.h"
#include "mapper.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/termination.h"
#include "platform/timer.h"
#include "prompter.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));

    corvane::IniProfile profile;
    if (!profile.Problem().isEmpty()) {
        QMessageBox::warning(nullptr, QStringLiteral("Corvane"), profile.Problem());
    }
    const corvane::Settings settings = corvane::ReadSettings(profile);

    auto midi = platform::CreateMidiService("Corvane");
    auto joystick = platform::CreateJoystickService();
    auto timer = platform::CreatePeriodicTimer();
    corvane::Mapper mapper(*midi, *joystick, *timer, settings);
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
    QString why;
    if (!profile.Flush(why)) {
        QMessageBox::warning(nullptr, QStringLiteral("Corvane"), why);
    }
    return 0;
}
