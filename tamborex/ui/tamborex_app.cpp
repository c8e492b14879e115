#include "tamborex_app.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>

#include "main_bar.h"
#include "prompter.h"

namespace {

// Process-wide because a signal handler can reach nothing else: the write end of the pipe that
// turns SIGTERM, SIGINT or SIGHUP into an ordinary close of the bar, which runs the shutdown.
int signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char byte = 1;
    (void)!write(signalPipe[1], &byte, 1);
}

}  // namespace

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
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &bar);
        connect(notifier, &QSocketNotifier::activated, &bar, &QWidget::close);
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
            std::signal(signal, OnTerminate);
        }
    }
    bar.Run();
    return 0;
}
