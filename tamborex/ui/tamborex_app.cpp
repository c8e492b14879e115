#include "tamborex_app.h"

#include <QSocketNotifier>

#include "main_bar.h"
#include "platform/termination.h"
#include "prompter.h"

CTamborexApp::CTamborexApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kProgramName));
    setQuitOnLastWindowClosed(false);
}

int CTamborexApp::InitInstance() {
    auto midi = platform::CreateMidiService(kProgramName);
    auto joystick = platform::CreateJoystickService();
    return Run(*midi, *joystick);
}

int CTamborexApp::Run(platform::MidiService& midi, platform::JoystickService& joystick) {
    CQtPrompter prompter;
    CMainBar bar(midi, joystick, prompter);
    // SIGTERM, SIGINT and SIGHUP end the run like Quit, but nobody is asked anything.
    if (const int fd = platform::WatchTerminationSignals(); fd >= 0) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &bar);
        connect(notifier, &QSocketNotifier::activated, &bar, [fd, &bar] {
            platform::AcknowledgeTerminationSignals(fd);
            bar.RequestTermination();
        });
    }
    bar.Run();
    return 0;
}
