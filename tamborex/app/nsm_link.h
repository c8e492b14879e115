#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/midi.h"
#include "platform/nsm.h"
#include "tamborex/app/core.h"

// Tamborex under a session manager (NSM_URL set). Nothing of Tamborex's exists before the
// manager's open: no core, no MIDI client. The open makes the core in the folder it names (the
// bank, Tamborex.ini, the recovery file and the patches saved by the manager all live there),
// with the client id as the MIDI client's name, and hands it to the front end to start; a save
// writes everything at once; the unsaved state of the patch is reported as it changes.
class CNsmLink final : private CSessionObserver {
  public:
    struct FrontEnd {
        // Builds the front end over the core an open made, and starts the session. Nothing it
        // shows may wait for a person: the manager waits for the answer.
        std::function<void(CTamborexCore&)> opened;
        // Shows or hides the window; empty for a front end without one.
        std::function<void(bool show)> showGui;
    };

    // Makes the core an open asks for; by default on the machine's MIDI and joysticks.
    using CoreMaker = std::function<std::unique_ptr<CTamborexCore>(const CTamborexCore::Options&)>;

    CNsmLink(CUiThread& ui, std::optional<platform::MidiBackend> midi, FrontEnd frontEnd,
             CoreMaker makeCore = {});
    ~CNsmLink() override;
    CNsmLink(const CNsmLink&) = delete;
    CNsmLink& operator=(const CNsmLink&) = delete;

    // Announces to the manager at url; false with the reason when it cannot.
    bool Start(const std::string& url, std::string& error);
    // The core the open made, or null before it.
    CTamborexCore* Core() { return core_.get(); }
    // A request to end (SIGTERM from the manager): everything is written as a save writes it,
    // and nobody is asked anything from here on. False when something could not be written
    // (said on the error stream).
    bool SaveForExit();
    void GuiShown(bool shown);

  private:
    platform::NsmResult Open(const platform::NsmOpen& request);
    platform::NsmResult Save();
    void OnPatchModified(bool modified) override;
    void OnPlayStateChanged() override;

    CUiThread& ui_;
    std::optional<platform::MidiBackend> midi_;
    FrontEnd frontEnd_;
    CoreMaker makeCore_;
    platform::FileLock lock_;  // the session folder's, for as long as the core plays it
    std::unique_ptr<CTamborexCore> core_;
    std::unique_ptr<platform::NsmClient> client_;
};
