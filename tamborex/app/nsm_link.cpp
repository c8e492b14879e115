#include "tamborex/app/nsm_link.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

CNsmLink::CNsmLink(CUiThread& ui, std::optional<platform::MidiBackend> midi, FrontEnd frontEnd,
                   CoreMaker makeCore)
    : ui_(ui), midi_(midi), frontEnd_(std::move(frontEnd)), makeCore_(std::move(makeCore)) {}

CNsmLink::~CNsmLink() {
    client_.reset();  // no request of the manager's runs from here on
    if (core_) {
        core_->Session().RemoveObserver(*this);
    }
}

bool CNsmLink::Start(const std::string& url, std::string& error) {
    platform::NsmHandlers handlers;
    handlers.post = [this](std::function<void()> task) { ui_.Post(std::move(task)); };
    handlers.open = [this](const platform::NsmOpen& request) { return Open(request); };
    handlers.save = [this] { return Save(); };
    if (frontEnd_.showGui) {
        handlers.showGui = [this](bool show) { frontEnd_.showGui(show); };
    }
    client_ = platform::NsmClient::Start(url, "Tamborex", "tamborex", std::move(handlers), error);
    return client_ != nullptr;
}

platform::NsmResult CNsmLink::Open(const platform::NsmOpen& request) {
    if (core_) {
        // One session per run: switching sessions would need every port and file to move.
        return {platform::kNsmErrNotNow, "Tamborex has a session open already"};
    }
    std::error_code error;
    std::filesystem::create_directories(request.path, error);
    if (error || !std::filesystem::is_directory(request.path)) {
        return {platform::kNsmErrCreateFailed,
                "cannot make the folder " + request.path + ": " + error.message()};
    }
    CTamborexCore::Options options;
    options.bankPath = (std::filesystem::path(request.path) / kBankFileName).string();
    // Another Tamborex on this folder (another session's, or one started by hand): the manager
    // is told, and this one keeps waiting for an open it can take.
    if (std::string refusal; !LockBankFolder(options.bankPath, lock_, refusal)) {
        return {platform::kNsmErrSessionLocked, refusal};
    }
    options.midi = midi_;
    options.clientName = request.clientId.empty() ? "Tamborex" : request.clientId;
    core_ = makeCore_ ? makeCore_(options) : std::make_unique<CTamborexCore>(ui_, options);
    core_->Session().AddObserver(*this);
    frontEnd_.opened(*core_);
    return {};
}

platform::NsmResult CNsmLink::Save() {
    if (!core_) {
        return {platform::kNsmErrNoSessionOpen, "no session is open"};
    }
    std::string why;
    if (!core_->Session().SaveAll(why)) {
        return {platform::kNsmErrGeneral, why};
    }
    return {};
}

bool CNsmLink::SaveForExit() {
    if (!core_) {
        return true;
    }
    CSession& session = core_->Session();
    session.RequestTermination();
    std::string why;
    if (!session.SaveAll(why)) {
        std::fprintf(stderr, "Tamborex: %s\n", why.c_str());
        return false;
    }
    return true;
}

void CNsmLink::GuiShown(bool shown) {
    if (client_) {
        client_->SetGuiShown(shown);
    }
}

void CNsmLink::OnPatchModified(bool modified) {
    // Edits kept for another entry are unsaved too: the session stays dirty until they are saved.
    if (client_ && core_) {
        client_->SetDirty(modified || !core_->Session().KeptEntries().empty());
    }
}

void CNsmLink::OnPlayStateChanged() {
    if (client_ && core_) {
        client_->SetDirty(core_->Session().PatchModified() ||
                          !core_->Session().KeptEntries().empty());
    }
}
