#include "tamborex/app/headless.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/termination.h"
#include "tamborex/app/console_front_end.h"
#include "tamborex/app/core.h"
#include "tamborex/app/qt_ui_thread.h"

int RunHeadless(int argc, char** argv, const platform::CommandLine& line) {
    // QtCore's event loop only: no QGuiApplication, so no display is needed or looked for.
    QCoreApplication app(argc, argv);
    CQtUiThread ui;
    CTamborexCore core(ui, {kBankFileName, line.midi, "Tamborex"});
    return RunHeadlessSession(core.Session());
}

int RunHeadlessSession(CSession& session) {
    CConsoleFrontEnd console;
    session.AddObserver(console);
    session.SetAsker(&console);
    QSocketNotifier* notifier = nullptr;
    if (const int fd = platform::WatchTerminationSignals(); fd >= 0) {
        notifier = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, [fd, &session] {
            platform::AcknowledgeTerminationSignals(fd);
            session.RequestTermination();
            session.Shutdown();
            QCoreApplication::quit();
        });
    }
    session.Startup();
    const int status = QCoreApplication::exec();
    delete notifier;
    session.SetAsker(nullptr);
    session.RemoveObserver(console);
    return status;
}
