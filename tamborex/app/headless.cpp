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
    CConsoleFrontEnd console;
    CTamborexCore core(ui, {kBankFileName, line.midi, "Tamborex"});
    CSession& session = core.Session();
    session.AddObserver(console);
    session.SetAsker(&console);
    const int fd = platform::WatchTerminationSignals();
    if (fd >= 0) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [fd, &session] {
            platform::AcknowledgeTerminationSignals(fd);
            session.RequestTermination();
            session.Shutdown();
            QCoreApplication::quit();
        });
    }
    session.Startup();
    const int status = QCoreApplication::exec();
    session.RemoveObserver(console);
    return status;
}
