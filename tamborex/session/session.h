#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/joystick.h"
#include "platform/midi.h"
#include "tamborex/devices/joystick.h"
#include "tamborex/devices/midi_in.h"
#include "tamborex/devices/midi_out.h"
#include "tamborex/engine/engine.h"
#include "tamborex/engine/window_services.h"
#include "tamborex/storage/bank_file.h"
#include "tamborex/storage/port_names.h"

// What the session needs of the bar and its dialogs, beyond the engine's window services.
class CSessionWindow : public CWindowServices {
  public:
    // A Yes/No question with the warning icon; true for Yes.
    virtual bool AskYesNo(std::string_view text) = 0;
    // The open or save file chooser; false when the user cancels.
    virtual bool ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                            const std::string& initial, std::string& chosen) = 0;
    // The bar shows the bank's patchNumber and patchName.
    virtual void ShowCurrentEntry() = 0;
    // The Joystick options dialog, if open, shows slot 0 again.
    virtual void PatchReloaded() = 0;
    // The Joystick options dialog forgets that the patch was modified.
    virtual void PatchSaved() = 0;
    // Whether the Joystick options dialog holds unsaved changes to the patch.
    virtual bool PatchModified() = 0;
    // Where the Joystick options dialog is now, or where it last was.
    virtual std::array<std::int32_t, 2> JoyOptionsPosition() = 0;
    virtual void ApplyAlwaysOnTop() = 0;
    virtual std::array<std::int32_t, 2> BarPosition() = 0;
    virtual void MoveBar(std::int32_t x, std::int32_t y) = 0;
    // Hides the bar to the notification area (timer 20, "Load minimized").
    virtual void HideBar() = 0;
    virtual void AddTrayIcon() = 0;
    virtual void RemoveTrayIcon() = 0;
    // The bar shows which controller plays, or that the one named is missing (an empty name:
    // none was ever there). Not a box: it changes whenever a controller comes or goes.
    virtual void ShowController(std::string_view name, bool present) = 0;
};

// Everything Tamborex runs on for the whole run, without a window: the ports, the joystick, the
// engine with both patch slots, and the bank with its settings. It owns what happens between
// them and the files: switching bank entries, loading and saving patch files, reopening ports
// (note offs first), re-arming polling, start-up and shutdown. The bar and the dialogs call its
// commands; all of it runs on the user-interface thread.
class CSession final : public CBankLink {
  public:
    CSession(platform::MidiService& midi, platform::JoystickService& joystick,
             CSessionWindow& window, std::string bankPath = kBankFileName);
    ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // The bar's initialisation, once its window exists.
    void Startup();
    // The Quit command (and any other request to close): ends with everything released. A
    // modified patch is offered for saving; false when the user then cancels the file chooser
    // or the save fails: nothing is released and the session goes on. After RequestTermination
    // nobody is asked: a modified patch goes to the recovery file and the shutdown completes.
    bool Shutdown();
    // A signal or a logout asks the program to end: the shutdown must not wait for a person.
    void RequestTermination() { terminating_ = true; }
    // The window's timers, by identifier.
    void OnTimer(int id);

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

    // The editing dialogs' commands. SelectOutput and SelectInput give false when the port
    // would not open; the error text is then the port's.
    bool SelectOutput(int index);
    bool SelectInput(int index);
    // The global thru switch; the service makes the connection whenever both ports are open.
    void SetMidiThru(bool on);
    // Low-latency input on or off (kept in "Tamborex.ini").
    void SetLowLatencyInput(bool on);
    void SetActive(bool active);
    void SetPollInterval(std::int32_t code);
    void SetAlwaysOnTop(bool onTop);

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
    // Where the unsaved patch goes when the program is ended by a signal, beside the bank.
    std::string RecoveryPath() const;
    // Where the bank goes when the bank file could not be read at start (it is never written
    // over then), beside it.
    std::string SessionBankPath() const;

    // CBankLink
    std::int32_t PatchNumber() const override { return bank.patchNumber; }
    void SetPatchNumber(std::int32_t number) override;
    void SelectPatch() override;
    bool MidiThru() const override { return bank.midiThru != 0; }
    bool MidiThruByService() const override { return thru.Forwarding(); }
    std::int32_t MidiInChannel() const override { return midiInChannel; }
    bool RespondToProgramChange() const override { return bank.respondToProgramChange != 0; }

    CMidiThru thru;  // before the ports, which tell it about every open
    CWinMIDIOut midiOut;
    CJoystick joystick;
    CEngine engine;
    CWinMIDIIn midiIn;
    CBankState bank;
    std::int32_t midiInChannel = 0;  // not stored: every run starts on channel 0
    CExtraSettings extra;            // "Tamborex.ini" beside the bank

  private:
    // "No MIDI ... devices available." with the reason and what to do on a second line.
    void SayNoDevices(const char* text);
    struct PatchLoad {
        bool loaded = false;  // the file was read into both slots
        bool opened = false;  // and its output port opened (a patch without one counts)
    };
    PatchLoad ReadPatch(const std::string& path, std::int32_t bankIndex);
    // A message box, or while terminating (nobody may be asked to click) the error stream.
    void Say(const std::string& text);
    void WriteRecovery();
    // The patches as a file keeps them: slot 0 with its output port's name.
    std::array<CPatch, 2> PatchesForFile() const;
    // Which controller slot 0 was made for, and how it is read.
    platform::JoystickChoice ControllerChoice() const;
    // Takes the controller the patch picks among those attached now and shows it on the bar.
    void FollowController();
    void ApplyAxisRanges();
    std::string ExtraSettingsPath() const;
    // Where a remembered port is now in the list; -1, said once per port and run, when gone.
    int FollowPort(const CMIDI& port, const char* kind, const std::string& name, int index);
    void OfferRecovery();

    platform::MidiService& midiService_;
    platform::JoystickService& joystickService_;
    CSessionWindow& window_;
    std::string bankPath_;
    std::vector<platform::JoystickCaps> joystickCaps_;
    platform::JoystickCaps controllerCaps_;
    bool controllerPresent_ = false;
    bool started_ = false;
    std::atomic<bool> controllersPosted_{false};
    bool shutDown_ = false;
    bool terminating_ = false;
    // Why the bank file could not be read at start; empty when it was read or did not exist.
    std::string bankUnreadable_;
    bool extraUnreadable_ = false;  // then "Tamborex.ini" is not written over either
    // A port whose remembered name is gone stays closed; its stored index and name are kept
    // for the files until the user chooses another port.
    bool outputMissing_ = false;
    bool inputMissing_ = false;
    std::set<std::string> saidMissing_;
    // The patch in use came from the recovery file and has not been saved since.
    bool recoveredUnsaved_ = false;
};
