#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/joystick.h"
#include "platform/midi.h"
#include "tamborex/devices/joystick.h"
#include "tamborex/devices/midi_in.h"
#include "tamborex/devices/midi_out.h"
#include "tamborex/engine/core_services.h"
#include "tamborex/engine/engine.h"
#include "tamborex/session/session_events.h"
#include "tamborex/storage/bank_file.h"
#include "tamborex/storage/port_names.h"

// Everything Tamborex runs on for the whole run, without a window: the ports, the joystick, the
// engine with both patch slots, and the bank with its settings. It owns what happens between
// them and the files: switching bank entries, loading and saving patch files, reopening ports
// (note offs first), re-arming polling, start-up and shutdown. Its state is its own: front ends
// read it, change it only through its commands and learn of changes as CSessionObserver
// notifications. All of it runs on the user-interface thread.
class CSession final : public CBankLink, private CEngineEvents {
  public:
    CSession(platform::MidiService& midi, platform::JoystickService& joystick, CUiThread& ui,
             std::string bankPath = kBankFileName);
    ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // Observers are told in the order they were added; each stays until removed.
    void AddObserver(CSessionObserver& observer);
    void RemoveObserver(CSessionObserver& observer);
    // Who answers questions; nobody (the safe answers) until one is set.
    void SetAsker(CSessionAsker* asker) { asker_ = asker; }

    // The start-up, once: devices, the bank, the current entry's patch, the input port.
    void Startup();
    // The Quit command (and any other request to close): ends with everything released. A
    // modified patch, and then each patch kept with edits for another entry, is offered for
    // saving; false when the user answers Cancel, or cancels the file chooser, or the save fails:
    // nothing is released and the session goes on. After RequestTermination nobody is asked:
    // every unsaved patch goes to a recovery file and the shutdown completes.
    bool Shutdown();
    // A signal or a logout asks the program to end: the shutdown must not wait for a person.
    void RequestTermination() { terminating_ = true; }
    bool TerminationRequested() const { return terminating_; }
    bool ShutDown() const { return shutDown_; }
    // The last write of the bank failed (the old file is then unchanged).
    bool BankSaveFailed() const { return bankSaveFailed_; }
    // The last write of the settings ("Tamborex.ini", else the copy beside it) failed.
    bool SettingsSaveFailed() const { return settingsSaveFailed_; }

    // The bank file.
    void LoadBank();
    // False when the file could not be written (the old one is then unchanged).
    bool SaveBank();

    // Patch files. LoadPatchFile returns 1 when the output port opened, 0 otherwise.
    int LoadPatchFile(const std::string& path, std::int32_t bankIndex);
    bool SavePatchFile(const std::string& path);
    // "Load": a file the user chooses, into the current entry; the bar and the Joystick options
    // dialog show it.
    void LoadCommand();
    // False when the user cancels the file chooser or the file could not be written.
    bool SaveCommand();

    // Moving through the bank.
    void Preset(int k);
    void Previous();
    void Next();
    // The bar's name field changed.
    void Rename(const std::string& name);
    // Global options: a preset's entry; the current entry without loading it; the input channel
    // (0 to 15, not stored); the bank's switches; the MIDI system used from the next start.
    void SetPreset(int k, std::int32_t entry);
    void SetCurrentEntry(std::int32_t entry);
    void SetMidiInChannel(std::int32_t channel);
    void SetRespondToProgramChange(bool on);
    void SetLoadMinimized(bool on);
    void SetMidiSystem(std::string_view word);
    // Where the bar and the Joystick options dialog are, kept in the bank.
    void SetBarPosition(std::int32_t x, std::int32_t y);
    void SetJoyOptionsPosition(std::int32_t x, std::int32_t y);

    // Patch edits. Each marks the patch modified.
    void SetAxisController(int axis, std::int32_t selection);
    void SetButtonMode(int button, std::int32_t mode);
    void SetSensitivity(std::int32_t sensitivity);
    // The typed fields of the Joystick options: the active flag without arming or stopping
    // polling, and each button's data and channel. Marks the patch modified when any differ.
    void ApplyPatchFields(std::int32_t active, const std::array<std::int32_t, 8>& data1,
                          const std::array<std::int32_t, 8>& data2,
                          const std::array<std::int32_t, 8>& channels);
    // Slot 0 for a dialog that edits one record in place while it is open (Axis options follow
    // the stick as the user types); it calls MarkPatchModified when it changed something.
    CPatch& PatchForEditing() { return engine_.patches[0]; }
    void MarkPatchModified();
    // The patch in use has changes that were not saved (edits, or restored from the recovery
    // file); cleared by a save.
    bool PatchModified() const { return modified_ || !recoveredFrom_.empty(); }
    // Leaving an entry whose patch has unsaved edits (another entry, a preset, a program change)
    // keeps the edited patch for that entry: it comes back, still unsaved, when the entry is
    // selected again, and Quit offers it for saving. These are the entries that hold one, in
    // order.
    std::vector<std::int32_t> KeptEntries() const;
    bool HasKeptEdits(std::int32_t entry) const { return kept_.contains(entry); }
    // While the current entry has no patch file of its own the previous patch keeps playing:
    // its name then, otherwise empty.
    std::string PlayingPatchName() const;
    // Why the patch in use cannot play ("no controller", "no MIDI output chosen", "patch
    // inactive", joined with ", "), or that a held arpeggio is "waiting for MIDI clock"; empty
    // when it plays.
    std::string SilenceReason() const;
    // A held automatic arpeggio has had no MIDI clock for a while.
    bool ArpeggioWaitsForClock() const { return engine_.ArpeggioWaitsForClock(); }
    bool ClockArriving() const { return engine_.ClockArriving(); }
    // Writes everything to files at once, for a session manager: the bank, and a modified patch
    // to its file in the bank's folder (its own name there, or one made from the entry). False
    // with the reason when something could not be written.
    bool SaveAll(std::string& error);

    // The editing dialogs' commands. SelectOutput and SelectInput give false when the port
    // would not open; the error text is then the port's.
    bool SelectOutput(int index);
    bool SelectInput(int index);
    // The global thru switch; the service makes the connection whenever both ports are open.
    void SetMidiThru(bool on);
    // Low-latency input on or off (kept in "Tamborex.ini").
    void SetLowLatencyInput(bool on);
    // Where OSC goes ("HOST:PORT") and is heard ("[ADDRESS:]PORT"), empty for off; kept in
    // "Tamborex.ini". The OSC front end is told and applies them.
    void SetOscSettings(std::string out, std::string in);
    // A message for the user from a front end working beside the session (OSC): shown as the
    // session's own are.
    void Tell(const std::string& text) { Say(text); }
    void SetActive(bool active);
    void SetPollInterval(std::int32_t code);
    void SetAlwaysOnTop(bool onTop);
    // Panic: every note, pedal and bend Tamborex left sounding on the output ends, and every
    // channel it used is reset (the engine's Panic). For every front end: the bar's button and
    // key, and any remote control.
    void Panic();

    const std::vector<platform::JoystickCaps>& JoystickCaps() const { return joystickCaps_; }
    // The controller that plays, or the last one that did while none is attached. The object
    // stays where it is for the whole run; its contents follow the controller.
    const platform::JoystickCaps& ControllerCaps() const { return controllerCaps_; }
    // A controller was plugged in or pulled out: the patch's controller is taken when it is
    // there (else the one at its number, else the first), a pulled one's held notes and pedals
    // are released at once, and the bar shows which one plays.
    void OnControllersChanged();
    bool ControllerPresent() const { return controllerPresent_; }
    // The Joystick options' choice: the patch plays with the controller at number in
    // JoystickCaps from now on (remembered by its name and GUID when the patch is saved), read
    // in the gamepad layout or raw.
    void ChooseController(int number, bool gamepadLayout);
    bool GamepadLayout() const;
    // Where the unsaved patch goes when the program is ended by a signal, beside the bank; and
    // where the edits kept for another entry go.
    std::string RecoveryPath() const;
    std::string RecoveryPath(std::int32_t entry) const;
    // Where the bank goes when the bank file could not be read at start (it is never written
    // over then), beside it.
    std::string SessionBankPath() const;
    // For a file of ours at path that cannot be read: where this session keeps its copy instead
    // ("<stem>.session<extension>" beside it, or one with the date and time when that cannot be
    // read either), and whether bytes now holds the copy the last session kept there.
    static bool ReadSessionCopy(const std::string& path, std::size_t maxSize, std::string& target,
                                std::vector<std::uint8_t>& bytes);

    const CBankState& Bank() const { return bank_; }
    const CExtraSettings& Extra() const { return extra_; }
    const CPatch& Patch() const { return engine_.patches[0]; }
    const CEngine& Engine() const { return engine_; }
    CEngine& Engine() { return engine_; }
    const CWinMIDIOut& MidiOut() const { return midiOut_; }
    const CWinMIDIIn& MidiIn() const { return midiIn_; }
    CWinMIDIIn& MidiIn() { return midiIn_; }
    CJoystick& Joystick() { return joystick_; }
    // The controller service itself, for views that read it without the engine's state (the
    // live monitor, learning a control).
    platform::JoystickService& JoystickService() { return joystickService_; }
    const CJoystick& Joystick() const { return joystick_; }
    const std::string& BankPath() const { return bankPath_; }

    // CBankLink
    std::int32_t PatchNumber() const override { return bank_.patchNumber; }
    void SetPatchNumber(std::int32_t number) override;
    void SelectPatch() override;
    bool MidiThru() const override { return bank_.midiThru != 0; }
    bool MidiThruByService() const override { return thru_.Forwarding(); }
    std::int32_t MidiInChannel() const override { return midiInChannel_; }
    bool RespondToProgramChange() const override { return bank_.respondToProgramChange != 0; }

  private:
    friend struct CSessionTestAccess;  // tests arrange a bank without a file

    // CEngineEvents: what the engine says goes to every observer.
    void Message(std::string_view text) override;
    void Activity(bool lit) override;
    void ArpeggioWaiting(bool waiting) override;
    template <typename F>
    void Notify(F&& tell) {
        for (CSessionObserver* observer : observers_) {
            tell(*observer);
        }
    }
    // A port index as the device wrappers take it.
    static std::int16_t DeviceId(std::int32_t index);
    // nullopt when nobody could answer.
    std::optional<bool> Ask(std::string_view question);
    // The chooser opens where entry's patch is, or in the bank's folder.
    bool ChooseFile(bool save, std::string& chosen, std::int32_t entry);
    bool ChooseFile(bool save, std::string& chosen) {
        return ChooseFile(save, chosen, bank_.patchNumber);
    }
    void SetModified(bool modified);
    // "No MIDI ... devices available." with the reason and what to do on a second line.
    void SayNoDevices(const char* text);
    struct PatchLoad {
        bool loaded = false;  // the file was read into both slots
        bool opened = false;  // and its output port opened (a patch without one counts)
    };
    PatchLoad ReadPatch(const std::string& path, std::int32_t bankIndex);
    // What ReadPatch does once the file's bytes are read; shown names the file in messages.
    PatchLoad TakePatch(std::span<const std::uint8_t> bytes, const std::string& shown,
                        std::int32_t bankIndex);
    // An edited patch left behind for another entry, in the form its file will hold.
    struct CKeptPatch {
        std::string name;
        std::array<CPatch, 2> patches;
        CMarksLeftOut leftOut;
        bool nameTyped = false;
        std::string recoveredFrom;  // the recovery file it came from, gone once it is saved
    };
    // Slot 0's unsaved edits are kept for the entry they were made in.
    void KeepEdits();
    // Writes a patch file and says what it had no room for; false, said, when not written.
    bool WritePatch(const std::string& path, const std::string& name,
                    const std::array<CPatch, 2>& patches, const CMarksLeftOut& leftOut);
    // The name a patch is saved under: the one the user gave, or else the file's.
    static std::string SavedName(const std::string& name, bool typed, const std::string& path);
    // Entry's kept patch to path (the chooser's when path is empty); false when not written.
    bool SaveKept(std::int32_t entry, std::string path);
    // Where a session manager's save puts entry's patch: its own file in the bank's folder, or
    // a name of its own there.
    std::string SessionFileFor(std::int32_t entry) const;
    enum class Offered { Saved, Declined, Cancelled, Unanswered };
    template <typename Save>
    Offered OfferSave(const std::string& question, Save save);
    // A message box, or while terminating (nobody may be asked to click) the error stream.
    void Say(const std::string& text);
    // The patch in use (when keepCurrent) and the kept patches of entries go to their recovery
    // files; what was restored from another recovery file no longer needs that one.
    void WriteRecovery(bool keepCurrent, const std::vector<std::int32_t>& entries);
    // The patches as a file keeps them: slot 0 with its output port's name, and what its block
    // had no room for.
    std::array<CPatch, 2> PatchesForFile(CMarksLeftOut& leftOut) const;
    // After a patch file was written: a cut port's whole name is kept beside the bank, and a
    // mark the file has no room for is said.
    void KeepLeftOut(const CMarksLeftOut& leftOut);
    // "Tamborex.ports" beside the bank. Reading gives false with why when it is there but
    // cannot be read (then it is never written over).
    std::string LongPortNamesPath() const;
    bool ReadLongPortNames(std::vector<std::string>& names, std::string& why) const;
    // The output port a patch remembers, whole, also when its file keeps only the start of the
    // name: found among the ports there now, or the names kept beside the bank. Otherwise known
    // is false and the start is given, for a message.
    std::string WholeOutputPortName(const CPatchMarks& marks, bool& known) const;
    // Which controller slot 0 was made for, and how it is read.
    platform::JoystickChoice ControllerChoice() const;
    // Takes the controller the patch picks among those attached now and shows it on the bar.
    void FollowController();
    void ApplyAxisRanges();
    std::string ExtraSettingsPath() const;
    // With the bank unreadable: the last session's bank, when there is one, is read instead, and
    // where this session's goes is chosen so that no session bank is written over with another's
    // entries. What is done, for the start's message.
    void SayUnusedSessionCopy(const std::string& path);
    std::string ReadSessionBank();
    // A patch path as the bank keeps it, made whole: a path without a folder, or relative, is
    // in the bank's folder.
    std::string InBankFolder(const std::string& path) const;
    // Where a remembered port is now in the list; -1, said once per port and run, when gone
    // (always, when its whole name is not known).
    int FollowPort(const CMIDI& port, const char* kind, const std::string& name, int index,
                   bool nameKnown = true);
    void OfferRecovery();
    // The edits kept for other entries when the program was ended, offered back.
    void OfferKeptRecovery();

    platform::MidiService& midiService_;
    platform::JoystickService& joystickService_;
    CUiThread& ui_;
    std::vector<CSessionObserver*> observers_;
    CSessionAsker* asker_ = nullptr;
    std::string bankPath_;
    CMidiThru thru_;  // before the ports, which tell it about every open
    CWinMIDIOut midiOut_;
    CJoystick joystick_;
    CEngine engine_;
    CWinMIDIIn midiIn_;
    CBankState bank_;
    std::int32_t midiInChannel_ = 0;  // not stored: every run starts on channel 0
    CExtraSettings extra_;            // "Tamborex.ini" beside the bank
    std::unique_ptr<CTimer> hideTimer_;
    bool modified_ = false;
    std::vector<platform::JoystickCaps> joystickCaps_;
    platform::JoystickCaps controllerCaps_;
    bool controllerPresent_ = false;
    bool started_ = false;
    std::atomic<bool> controllersPosted_{false};
    bool shutDown_ = false;
    bool bankSaveFailed_ = false;
    bool settingsSaveFailed_ = false;
    bool terminating_ = false;
    // Why the bank file could not be read at start; empty when it was read or did not exist.
    std::string bankUnreadable_;
    std::string sessionBankTarget_;  // where the bank goes while bankPath_ cannot be read
    // Why "Tamborex.ini" could not be read at start; it is then not written over either, and
    // the session's settings go to extraTarget_.
    std::string extraUnreadable_;
    std::string extraTarget_;
    // A port whose remembered name is gone stays closed; its stored index and name are kept
    // for the files until the user chooses another port.
    bool outputMissing_ = false;
    bool inputMissing_ = false;
    std::set<std::string> saidMissing_;
    // The recovery file the patch in use came from, while it has not been saved since.
    std::string recoveredFrom_;
    std::map<std::int32_t, CKeptPatch> kept_;
    // The entry slot 0's edits belong to: the one selected last (an entry without a file of its
    // own plays the previous patch, and edits made there are that entry's).
    std::int32_t slotEntry_ = 0;
    // The name of the patch in the slots as it was loaded or saved.
    std::string slotName_;
    // The user typed the current entry's name since it was selected.
    bool nameTyped_ = false;
};
