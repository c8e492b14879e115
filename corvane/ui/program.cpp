#include "program.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <filesystem>

#include "main_dialog.h"
#include "platform/termination.h"
#include "prompter.h"

namespace corvane {
namespace {
namespace fs = std::filesystem;
}

Program::Program(ProgramSetup setup, QtPrompter& prompter)
    : setup_(std::move(setup)), prompter_(prompter) {
    // The run's end is ours to decide: the window closing, or the session's end. A hidden
    // window is not an end.
    QApplication::setQuitOnLastWindowClosed(false);
    // Watched before anything can show a box, so a signal is never lost behind one.
    if (const int fd = platform::WatchTerminationSignals(); fd >= 0) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] {
            platform::AcknowledgeTerminationSignals(fd);
            End();
        });
    }
    if (setup_.nsmUrl.empty()) {
        return;
    }
    platform::NsmHandlers handlers;
    handlers.post = [this](std::function<void()> task) {
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
    };
    handlers.open = [this](const platform::NsmOpen& open) { return Open(open); };
    handlers.save = [this] { return Save(); };
    handlers.showGui = [this](bool show) { ShowWindow(show); };
    std::string error;
    nsm_ = platform::NsmClient::Start(setup_.nsmUrl, "Corvane", setup_.executable,
                                      std::move(handlers), error);
    if (nsm_ == nullptr) {
        std::fprintf(stderr, "corvane: %s; starting without the session manager\n", error.c_str());
        return;
    }
    prompter_.SetNothingWaits(true);
}

Program::~Program() {
    nsm_.reset();  // no task of the session manager's runs after this
    instance_.reset();
}

void Program::Build(const Places& places, const std::string& clientName) {
    instance_ = std::make_unique<Instance>(places, clientName, setup_.midi, setup_.makeServices,
                                           prompter_, setup_.osc);
    MainDialog& window = instance_->Window();
    connect(&window, &QDialog::finished, this, &Program::WindowClosed);
    connect(&window, &MainDialog::Edited, this, &Program::UpdateDirty);
}

int Program::Run() {
    if (nsm_ == nullptr) {
        Build(setup_.places, "Corvane");
        if (!ending_) {
            instance_->Window().show();
        }
    }
    // A signal that came while a start-up box was up has ended that box; no loop is started
    // for it to end as well.
    if (!ending_) {
        QApplication::exec();
    }
    if (instance_ == nullptr) {
        return 0;
    }
    const QString why = instance_->Finish();
    if (why.isEmpty()) {
        return 0;
    }
    if (ending_ || nsm_ != nullptr) {
        std::fprintf(stderr, "corvane: %s\n", why.toLocal8Bit().constData());
    } else {
        prompter_.Warn(nullptr, why);
    }
    return 1;
}

void Program::End() {
    if (ending_) {
        return;
    }
    ending_ = true;
    prompter_.EndAll(true);
    // A context menu runs a loop of its own that no prompter knows of.
    for (int i = 0; i < 8 && QApplication::activePopupWidget() != nullptr; ++i) {
        QApplication::activePopupWidget()->close();
    }
    // Ends every loop running now, the innermost first as the calls unwind, and the main one.
    QCoreApplication::exit(0);
}

void Program::WindowClosed() {
    if (nsm_ == nullptr) {
        QCoreApplication::exit(0);
        return;
    }
    if (nsm_->ServerCan("optional-gui")) {
        windowWanted_ = false;
        nsm_->SetGuiShown(false);
    } else {
        // A session manager that cannot show the window again would leave it out of reach.
        instance_->Window().showMinimized();
    }
}

platform::NsmResult Program::Open(const platform::NsmOpen& open) {
    if (instance_ != nullptr) {
        if (open.path == sessionPath_) {
            return {};
        }
        return {platform::kNsmErrNotNow,
                "Corvane opens one session per run; start it again for another session."};
    }
    std::error_code error;
    fs::create_directories(open.path, error);
    if (error || !fs::is_directory(open.path)) {
        return {platform::kNsmErrCreateFailed,
                "Cannot make the folder " + open.path + ": " +
                    (error ? error.message() : std::string("something else has that name"))};
    }
    const fs::path folder(open.path);
    Places places;
    places.configurations = (folder / kConfigurationFileName).string();
    places.profile = QString::fromStdString((folder / "Corvane.ini").string());
    places.session = (folder / kSessionFileName).string();
    Build(places, open.clientId.empty() ? std::string("Corvane") : open.clientId);
    sessionPath_ = open.path;
    MainDialog& window = instance_->Window();
    window.HideInsteadOfExit();
    window.setVisible(windowWanted_);
    // Said once the open is answered.
    QMetaObject::invokeMethod(
        this, [this] { nsm_->SetGuiShown(instance_->Window().isVisible()); }, Qt::QueuedConnection);
    return {};
}

platform::NsmResult Program::Save() {
    if (instance_ == nullptr) {
        return {platform::kNsmErrNoSessionOpen, "No session is open."};
    }
    const QString why = instance_->Save();
    if (!why.isEmpty()) {
        return {platform::kNsmErrGeneral, why.toStdString()};
    }
    // Clean once the save is answered.
    QMetaObject::invokeMethod(this, &Program::UpdateDirty, Qt::QueuedConnection);
    return {};
}

void Program::ShowWindow(bool show) {
    windowWanted_ = show;
    if (instance_ == nullptr) {
        return;  // taken at the open
    }
    MainDialog& window = instance_->Window();
    if (show) {
        window.showNormal();
        window.raise();
        window.activateWindow();
    } else {
        // What is open over the window goes with it, as if cancelled.
        prompter_.EndAll(false);
        for (int i = 0; i < 8 && QApplication::activePopupWidget() != nullptr; ++i) {
            QApplication::activePopupWidget()->close();
        }
        window.hide();
    }
    nsm_->SetGuiShown(show);
}

void Program::UpdateDirty() {
    if (nsm_ != nullptr && instance_ != nullptr) {
        nsm_->SetDirty(instance_->Unsaved());
    }
}

}  // namespace corvane
