#include "tamborex_app.h"

#include <QSocketNotifier>

#include "main_bar.h"
#include "platform/file_io.h"
#include "platform/termination.h"
#include "prompter.h"
#include "tamborex/storage/port_names.h"

CTamborexApp::CTamborexApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kProgramName));
    setQuitOnLastWindowClosed(false);
}

int CTamborexApp::InitInstance(std::optional<platform::MidiBackend> midiSystem) {
    if (!midiSystem) {
        // The bank's folder is the working one by now.
        std::vector<std::uint8_t> bytes;
        int cause = 0;
        platform::MidiBackend chosen = platform::MidiBackend::Automatic;
        if (platform::ReadWholeFile(kExtraSettingsFile, bytes, cause, 64 * 1024)) {
            const CExtraSettings extra =
                ParseExtraSettings({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
            (void)platform::ParseMidiBackend(extra.midiSystem, chosen);
        }
        midiSystem = chosen;
    }
    auto midi = platform::CreateMidiService(kProgramName, *midiSystem);
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
