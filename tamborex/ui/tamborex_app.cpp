#include "tamborex_app.h"

#include <QSocketNotifier>
#include <cstdio>

#include "main_bar.h"
#include "platform/termination.h"
#include "prompter.h"
#include "tamborex/app/core.h"
#include "tamborex/app/nsm_link.h"
#include "tamborex/app/qt_ui_thread.h"

CTamborexApp::CTamborexApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kProgramName));
    setQuitOnLastWindowClosed(false);
}

int CTamborexApp::InitInstance(std::optional<platform::MidiBackend> midiSystem) {
    platform::FileLock lock;
    if (std::string refusal; !LockBankFolder(kBankFileName, lock, refusal)) {
        std::fprintf(stderr, "Tamborex: %s\n", refusal.c_str());
        // The box ends with the run when the program is told to end while it is open.
        if (const int fd = platform::WatchTerminationSignals(); fd >= 0) {
            auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, [fd] {
                platform::AcknowledgeTerminationSignals(fd);
                QCoreApplication::exit(1);
            });
        }
        CQtPrompter().Warn(nullptr, QString::fromStdString(refusal));
        return 1;
    }
    CQtUiThread ui;
    CTamborexCore core(ui, {kBankFileName, midiSystem, kProgramName, {oscOut_, oscIn_}});
    return RunBar(core);
}

int CTamborexApp::Run(platform::MidiService& midi, platform::JoystickService& joystick) {
    CQtUiThread ui;
    CTamborexCore core(ui, midi, joystick);
    return RunBar(core);
}

int CTamborexApp::RunUnderSessionManager(const std::string& url,
                                         std::optional<platform::MidiBackend> midiSystem) {
    CQtUiThread ui;
    CQtPrompter prompter;
    std::unique_ptr<CMainBar> bar;
    std::unique_ptr<CNsmLink> link;
    auto show = [&](bool on) {
        if (bar) {
            bar->setVisible(on);
        }
        link->GuiShown(on);
    };
    link = std::make_unique<CNsmLink>(
        ui, midiSystem,
        CNsmLink::FrontEnd{[&](CTamborexCore& core) {
                               bar = std::make_unique<CMainBar>(core, prompter);
                               bar->SetNobodyWaits(true);
                               bar->SetCloseAction([&] { show(false); });
                               connect(bar.get(), &QDialog::finished, this, &QApplication::quit);
                               bar->Initialise();
                               show(true);
                           },
                           show});
    link->SetOscOverrides({oscOut_, oscIn_});
    std::string error;
    if (!link->Start(url, error)) {
        std::fprintf(stderr, "Tamborex: %s\n", error.c_str());
        return 1;
    }
    // SIGTERM from the manager: everything saved, then the bar ends as Quit ends it, asking
    // nothing.
    if (const int fd = platform::WatchTerminationSignals(); fd >= 0) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [&, fd] {
            platform::AcknowledgeTerminationSignals(fd);
            link->SaveForExit();
            if (bar) {
                bar->RequestTermination();
            } else {
                quit();
            }
        });
    }
    const int status = exec();
    bar.reset();
    link.reset();
    return status;
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
