#pragma once

#include <optional>
#include <string>
#include <string_view>

// What the session tells the front ends that show it (the bar and its dialogs, the headless
// runner, a session manager). Every call comes on the user-interface thread, synchronously, in
// the order things happen; each has a default that ignores it, so a front end overrides only
// what it shows.
class CSessionObserver {
  public:
    virtual ~CSessionObserver() = default;
    // A message for the user. A window shows it in a modal box, which holds the session there
    // until it is dismissed; a front end without one writes it down and goes on.
    virtual void OnMessage(std::string_view) {}
    virtual void OnActivity(bool /*lit*/) {}
    // The bank was read at start: its settings (the bar's place, always on top) apply now.
    virtual void OnBankRead() {}
    // The current entry's number or name changed.
    virtual void OnEntrySelected() {}
    // Patch slot 0 holds another patch: whatever shows it shows it again.
    virtual void OnPatchLoaded() {}
    // The patch was written to path.
    virtual void OnPatchSaved(const std::string& /*path*/) {}
    // The patch in use has unsaved changes, or no longer has them.
    virtual void OnPatchModified(bool /*modified*/) {}
    // What plays, or why nothing does, may have changed: the patch's active flag, its output
    // port, an arpeggio that waits for MIDI clock, or kept edits of other entries.
    virtual void OnPlayStateChanged() {}
    // Which controller plays, or that the one named is missing (an empty name: none was ever
    // there). It changes whenever a controller comes or goes.
    virtual void OnControllerChanged(std::string_view /*name*/, bool /*present*/) {}
    // A remembered port ("input" or "output") is gone, so it is left closed.
    virtual void OnPortMissing(std::string_view /*kind*/, std::string_view /*name*/) {}
    virtual void OnAlwaysOnTopChanged(bool /*onTop*/) {}
    // "Load minimized": the bar goes to the notification area a second after start.
    virtual void OnHideRequested() {}
    // The session has started, or has shut down and released everything.
    virtual void OnStarted() {}
    virtual void OnShutDown() {}
};

// The answers to a question that can also be taken back.
enum class CSaveAnswer { Yes, No, Cancel };

// Who answers the session's questions. A front end with nobody to ask answers nothing, and the
// session then takes the question's safe answer: the one that loses nothing.
class CSessionAsker {
  public:
    virtual ~CSessionAsker() = default;
    // A Yes/No question; nullopt when nobody can answer it now.
    virtual std::optional<bool> Ask(std::string_view question) = 0;
    // The same with Cancel besides Yes and No, for a question whose Cancel goes back to where the
    // user was. One that cannot offer Cancel answers Yes or No.
    virtual std::optional<CSaveAnswer> AskWithCancel(std::string_view question) {
        const std::optional<bool> answer = Ask(question);
        if (!answer) {
            return std::nullopt;
        }
        return *answer ? CSaveAnswer::Yes : CSaveAnswer::No;
    }
    // The open or save file chooser; false when the user cancels or nobody can choose.
    virtual bool ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                            const std::string& initial, std::string& chosen) = 0;
};
