// Corvane: the small joystick-to-MIDI mapper.

#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>

#include "configuration_file.h"
#include "ini_profile.h"
#include "main_dialog.h"
#include "mapper.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/timer.h"
#include "prompter.h"

namespace {

// Process-wide because a signal handler can reach nothing else: the write end of the pipe that
// turns SIGTERM or SIGINT into an ordinary close of the window, so the settings get written.
int signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char byte = 1;
    (void)!write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));

    corvane::IniProfile profile;
    const corvane::Settings settings = corvane::ReadSettings(profile);

    auto midi = platform::CreateMidiService("Corvane");
    auto joystick = platform::CreateJoystickService();
    auto timer = platform::CreatePeriodicTimer();
    corvane::Mapper mapper(*midi, *joystick, *timer, settings);
    corvane::ConfigurationFile file;
    corvane::QtPrompter prompter;

    {
        corvane::MainDialog dialog(mapper, file, prompter);
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
            auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &dialog);
            QObject::connect(notifier, &QSocketNotifier::activated, &dialog, &QDialog::reject);
            std::signal(SIGTERM, OnTerminate);
            std::signal(SIGINT, OnTerminate);
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
