#include "tamborex_app.h"

#include <QSocketNotifier>

#include "main_bar.h"
#include "platform/termination.h"
#include "prompter.h"
#include "tamborex/app/core.h"
#include "tamborex/app/qt_ui_thread.h"

CTamborexApp::CTamborexApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kProgramName));
    setQuitOnLastWindowClosed(false);
}

int CTamborexApp::InitInstance(std::optional<platform::MidiBackend> midiSystem) {
    CQtUiThread ui;
    CTamborexCore core(ui, {kBankFileName, midiSystem, kProgramName});
    return RunBar(core);
}

int CTamborexApp::Run(platform::MidiService& midi, platform::JoystickService& joystick) {
    CQtUiThread ui;
    CTamborexCore core(ui, midi, joystick);
    return RunBar(core);
}

int CTamborexApp::RunBar(CTamborexCore& core) {
    CQtPrompter prompter;
    CMainBar bar(core, prompter);
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
