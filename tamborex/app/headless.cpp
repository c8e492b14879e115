#include "tamborex/app/headless.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "platform/nsm.h"
#include "platform/termination.h"
#include "tamborex/app/console_front_end.h"
#include "tamborex/app/core.h"
#include "tamborex/app/nsm_link.h"
#include "tamborex/app/qt_ui_thread.h"

namespace {

// SIGTERM, SIGINT and SIGHUP run end on the event loop's thread, then the loop ends.
void OnTermination(std::function<void()> end) {
    const int fd = platform::WatchTerminationSignals();
    if (fd < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [fd, end = std::move(end)] {
        platform::AcknowledgeTerminationSignals(fd);
        end();
        QCoreApplication::quit();
    });
}

void Attach(CSession& session, CConsoleFrontEnd& console) {
    session.AddObserver(console);
    session.SetAsker(&console);
}

void Detach(CSession& session, CConsoleFrontEnd& console) {
    session.SetAsker(nullptr);
    session.RemoveObserver(console);
}

// Under a session manager: nothing runs until it opens a session, and it decides when to save.
int RunUnderSessionManager(const std::string& url, const platform::CommandLine& line) {
    CQtUiThread ui;
    CConsoleFrontEnd console;
    CNsmLink link(ui, line.midi,
                  {[&console](CTamborexCore& core) {
                       Attach(core.Session(), console);
                       core.Session().Startup();
                   },
                   {}});
    link.SetOscOverrides({line.oscOut, line.oscIn});
    std::string error;
    if (!link.Start(url, error)) {
        std::fprintf(stderr, "Tamborex: %s\n", error.c_str());
        return 1;
    }
    bool saved = true;
    OnTermination([&link, &saved] {
        saved = link.SaveForExit();
        if (CTamborexCore* core = link.Core()) {
            core->Session().Shutdown();
        }
    });
    const int status = QCoreApplication::exec();
    if (CTamborexCore* core = link.Core()) {
        Detach(core->Session(), console);
    }
    // What could not be written was said; the exit status says it too.
    return saved ? status : 1;
}

}  // namespace

int RunHeadless(int argc, char** argv, const platform::CommandLine& line) {
    // QtCore's event loop only: no QGuiApplication, so no display is needed or looked for.
    QCoreApplication app(argc, argv);
    if (const std::string url = platform::NsmUrlFromEnvironment(); !url.empty()) {
        return RunUnderSessionManager(url, line);
    }
    platform::FileLock lock;
    if (std::string refusal; !LockBankFolder(kBankFileName, lock, refusal)) {
        std::fprintf(stderr, "Tamborex: %s\n", refusal.c_str());
        return 1;
    }
    CQtUiThread ui;
    CTamborexCore core(ui, {kBankFileName, line.midi, "Tamborex", {line.oscOut, line.oscIn}});
    return RunHeadlessSession(core.Session());
}

int RunHeadlessSession(CSession& session) {
    CConsoleFrontEnd console;
    Attach(session, console);
    OnTermination([&session] {
        session.RequestTermination();
        session.Shutdown();
    });
    session.Startup();
    const int status = QCoreApplication::exec();
    Detach(session, console);
    return session.ShutDown() && (session.BankSaveFailed() || session.SettingsSaveFailed())
               ? 1
               : status;
}
