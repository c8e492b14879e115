#include "tamborex/session/session.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/file_io.h"
#include "tamborex/storage/patch_file.h"

namespace {

std::int16_t DeviceId(std::int32_t index) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(index, -1, INT16_MAX));
}

// The file beside path named after its stem with suffix in front of its extension.
std::string Beside(const std::string& path, const char* suffix, const char* extension) {
    std::filesystem::path p(path);
    return (p.parent_path() / (p.stem().string() + suffix + extension)).string();
}

}  // namespace

CSession::CSession(platform::MidiService& midi, platform::JoystickService& joystick,
                   CSessionWindow& window, std::string bankPath)
    : thru(midi),
      midiOut(midi),
      joystick(joystick, [&window](std::string_view text) { window.MessageBox(text); }),
      engine(midiOut, this->joystick, window, *this),
      midiIn(midi, [this](std::uint32_t m, std::uint32_t ts) { engine.OnMidiInput(m, ts); }),
      midiService_(midi),
      joystickService_(joystick),
      window_(window),
      bankPath_(std::move(bankPath)) {
    midiOut.SetThru(&thru);
    midiIn.SetThru(&thru);
    // Until the settings are read the engine takes no events (low latency starts off).
    joystickService_.SetEventListener([this](platform::JoyEvent event) {
        if (event == platform::JoyEvent::Input) {
            engine.OnJoystickEvent();
        } else if (!controllersPosted_.exchange(true)) {
            window_.PostToUiThread([this] {
                controllersPosted_ = false;
                OnControllersChanged();
            });
        }
    });
}

CSession::~CSession() {
    joystickService_.SetEventListener({});
}

void CSession::SetLowLatencyInput(bool on) {
    extra.lowLatencyInput = on;
    engine.SetLowLatency(on);
}

void CSession::SetMidiThru(bool on) {
    bank.midiThru = on ? 1 : 0;
    thru.SetWanted(on);
}

void CSession::Startup() {
    joystick.Init();  // also ranges all six axes 0..127
    bank.barPos = bank.secondPos = window_.BarPosition();
    bank.patchName = bank.patchNames[bank.patchNumber];
    joystickCaps_ = joystickService_.ListJoysticks();
    if (joystickCaps_.empty()) {
        // A controller that is there but may not be read is not listed: say what to do.
        const std::string advice =
            platform::JoystickAccessAdvice(platform::UnreadableJoysticks(), "Tamborex");
        window_.MessageBox(advice.empty() ? "No joystick devices installed." : advice);
    }
    if (midiOut.DeviceCount() == 0) {
        SayNoDevices("No MIDI out devices available.");
    }
    if (midiIn.DeviceCount() == 0) {
        SayNoDevices("No MIDI in devices available.");
    }
    LoadBank();
    thru.SetWanted(bank.midiThru != 0);
    engine.SetLowLatency(extra.lowLatencyInput);
    window_.MoveBar(bank.barPos[0], bank.barPos[1]);
    LoadPatchFile(bank.patchPaths[bank.patchNumber], bank.patchNumber);
    const int input = FollowPort(midiIn, "input", extra.midiInPortName, bank.midiInDevice);
    inputMissing_ = input < 0 && bank.midiInDevice >= 0;
    if (input >= 0) {
        bank.midiInDevice = input;
        if (!midiIn.Open(DeviceId(input))) {
            window_.MessageBox("Error opening MIDI In Port: " + midiIn.GetErrorText());
        }
    }
    started_ = true;
    FollowController();  // also when the entry has no patch file
    OfferRecovery();
    window_.ShowCurrentEntry();
    window_.AddTrayIcon();
    if (bank.loadMinimized) {
        window_.SetTimer(TIMER_HIDE_BAR, 1000);
    }
}

bool CSession::Shutdown() {
    if (shutDown_) {
        return true;
    }
    bank.barPos = window_.BarPosition();
    // The bank first: a renamed entry is kept whatever the answer below.
    SaveBank();
    if (window_.PatchModified() || recoveredUnsaved_) {
        bool saved = false;
        if (!terminating_ && window_.AskYesNo("Save changes to current patch?")) {
            saved = SaveCommand();
            if (saved) {
                SaveBank();  // the entry now names the file the patch went to
            } else if (!terminating_) {
                return false;  // cancelled or not written: back to the bar, nothing lost
            }
        }
        // A request to end, also one that closed the question or the chooser, keeps the edits.
        if (terminating_ && !saved) {
            WriteRecovery();
        }
    }
    shutDown_ = true;
    if (!bankUnreadable_.empty()) {
        Say(bankPath_ + " could not be read at start (" + bankUnreadable_ +
            "), so it was left as it is. This session's bank was saved to " + SessionBankPath() +
            ".");
    }
    window_.RemoveTrayIcon();
    for (int id : {TIMER_ACTIVITY_ON, TIMER_ACTIVITY_OFF, TIMER_POLL, TIMER_HIDE_BAR}) {
        window_.KillTimer(id);
    }
    // Nothing may keep sounding once the program is gone.
    engine.SilenceOutput();
    for (CPatch& patch : engine.patches) {
        patch.ReleaseSysEx();
    }
    joystick.Release();
    return true;
}

void CSession::SayNoDevices(const char* text) {
    window_.MessageBox(std::string(text) + "\n" +
                       platform::NoMidiDevicesAdvice(midiService_, "Tamborex"));
}

void CSession::Say(const std::string& text) {
    if (terminating_) {
        std::fprintf(stderr, "Tamborex: %s\n", text.c_str());
    } else {
        window_.MessageBox(text);
    }
}

std::string CSession::RecoveryPath() const {
    return Beside(bankPath_, ".recovered", ".txp");
}

std::string CSession::SessionBankPath() const {
    return Beside(bankPath_, ".session", std::filesystem::path(bankPath_).extension().c_str());
}

void CSession::WriteRecovery() {
    int cause = 0;
    platform::WriteStage failedAt{};
    if (!platform::WriteFileAtomically(
            RecoveryPath(), FormatPatchFile(bank.patchName, PatchesForFile()), cause, failedAt)) {
        Say("The unsaved patch could not be kept in " + RecoveryPath() + " (" +
            std::strerror(cause) + ").");
    }
}

void CSession::OfferRecovery() {
    const std::string path = RecoveryPath();
    if (!std::filesystem::exists(path)) {
        return;
    }
    if (window_.AskYesNo("Tamborex was ended with unsaved changes to the patch in use. They were "
                         "kept in " +
                         path + ".\nRestore them into the current bank entry?")) {
        recoveredUnsaved_ = ReadPatch(path, bank.patchNumber).loaded;
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

void CSession::OnTimer(int id) {
    if (id == TIMER_HIDE_BAR) {
        window_.KillTimer(TIMER_HIDE_BAR);  // once
        window_.HideBar();
        return;
    }
    engine.OnTimer(id);
}

void CSession::LoadBank() {
    // What a save killed half-way left behind.
    platform::RemoveStaleTemporaries(bankPath_);
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    bankUnreadable_.clear();
    if (platform::ReadWholeFile(bankPath_, bytes, cause)) {
        std::vector<std::string> messages;
        ReadBank(bytes, bank, messages);
        for (const std::string& message : messages) {
            window_.MessageBox(message);
        }
    } else if (cause != ENOENT) {
        // Its entries are the user's: never written over, whatever happens in this session.
        bankUnreadable_ = platform::ReadFailureText(cause);
        window_.MessageBox("File IO error. [" + std::to_string(cause) + "] \n" + bankPath_ +
                           " could not be read (" + bankUnreadable_ +
                           "). It is left as it is; this session's bank will be saved to " +
                           SessionBankPath() + ".");
    }
    // Also on a first run: the bar shows, and the bank keeps, the entry's "(no patch)".
    bank.patchName = bank.patchNames[bank.patchNumber];
    bytes.clear();
    extraUnreadable_ =
        !platform::ReadWholeFile(ExtraSettingsPath(), bytes, cause, 64 * 1024) && cause != ENOENT;
    extra = ParseExtraSettings({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    window_.ApplyAlwaysOnTop();
}

std::string CSession::ExtraSettingsPath() const {
    return (std::filesystem::path(bankPath_).parent_path() / kExtraSettingsFile).string();
}

int CSession::FollowPort(const CMIDI& port, const char* kind, const std::string& name, int index) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < port.DeviceCount(); ++i) {
        names.push_back(port.GetDevName(static_cast<int>(i)));
    }
    const int now = FollowPortName(names, name, index);
    if (now < 0 && index >= 0 && saidMissing_.insert(std::string(kind) + name).second) {
        window_.MessageBox("The MIDI " + std::string(kind) + " port \"" + name +
                           "\" is missing, so Tamborex leaves it closed rather than use "
                           "another port in its place. Connect it and start Tamborex again, "
                           "or choose a port in the options.");
    }
    return now;
}

std::array<CPatch, 2> CSession::PatchesForFile() const {
    std::array<CPatch, 2> patches = engine.patches;
    CPatchMarks marks = ReadPatchMarks(patches[0]);
    const int device = patches[0].outputDevice;
    if (!outputMissing_) {
        marks.outputPort = device >= 0 ? midiOut.GetDevName(device) : "";
    }
    // The patch is made for the controller it is played with; while none is attached it keeps
    // the one it was made for.
    if (joystick.initialised && !controllerCaps_.guid.empty() && controllerPresent_) {
        marks.controllerName = controllerCaps_.name;
        marks.controllerGuid = controllerCaps_.guid;
        patches[0].joystickNumber = controllerCaps_.number;
    }
    WritePatchMarks(patches[0], marks);
    return patches;
}

platform::JoystickChoice CSession::ControllerChoice() const {
    const CPatch& slot0 = engine.patches[0];
    const CPatchMarks marks = ReadPatchMarks(slot0);
    return {marks.controllerGuid, marks.controllerName, slot0.joystickNumber, marks.gamepadLayout};
}

void CSession::FollowController() {
    controllerPresent_ = joystick.Follow(ControllerChoice());
    if (const auto held = joystickService_.Current(); held && controllerPresent_) {
        // With its counts from the list, which is read only when controllers come and go.
        const auto listed = std::find_if(
            joystickCaps_.begin(), joystickCaps_.end(),
            [&](const platform::JoystickCaps& c) { return c.instance == held->instance; });
        controllerCaps_ = listed != joystickCaps_.end() ? *listed : *held;
    } else if (std::string wanted = ReadPatchMarks(engine.patches[0]).controllerName;
               !wanted.empty()) {
        controllerCaps_.name = std::move(wanted);  // the bar names the one the patch waits for
    }
    engine.SetControllerMissing(!controllerPresent_);
    window_.ShowController(controllerCaps_.name, controllerPresent_);
}

void CSession::ChooseController(int number, bool gamepadLayout) {
    CPatch& slot0 = engine.patches[0];
    CPatchMarks marks = ReadPatchMarks(slot0);
    if (number >= 0 && number < static_cast<int>(joystickCaps_.size())) {
        marks.controllerName = joystickCaps_[number].name;
        marks.controllerGuid = joystickCaps_[number].guid;
        slot0.joystickNumber = number;
    }
    marks.gamepadLayout = gamepadLayout;
    WritePatchMarks(slot0, marks);
    FollowController();
    ApplyAxisRanges();
}

bool CSession::GamepadLayout() const {
    return ReadPatchMarks(engine.patches[0]).gamepadLayout;
}

void CSession::ApplyAxisRanges() {
    const CPatch& slot0 = engine.patches[0];
    for (int axis = 0; axis < kAxisCount; ++axis) {
        joystick.SetAxisRange(axis, slot0.axes[axis].min, slot0.axes[axis].max);
    }
}

void CSession::OnControllersChanged() {
    if (!started_ || shutDown_) {
        return;
    }
    joystickCaps_ = joystickService_.ListJoysticks();
    FollowController();
    ApplyAxisRanges();
    // A pulled controller's buttons read as released now: their notes end at once, not at the
    // next tick; a new one plays from here.
    if (engine.patches[0].active) {
        engine.PollJoystick();
    }
}

bool CSession::SaveBank() {
    bank.joyOptionsPos = window_.JoyOptionsPosition();
    bank.patchNames[bank.patchNumber] = bank.patchName;
    const std::string path = bankUnreadable_.empty() ? bankPath_ : SessionBankPath();
    int cause = 0;
    platform::WriteStage failedAt{};
    if (!platform::WriteFileAtomically(path, FormatBank(bank), cause, failedAt)) {
        Say(failedAt == platform::WriteStage::Create
                ? std::string("Tamborex: Error opening bank file for writing.")
                : "Tamborex: Error writing the bank file (" + std::string(std::strerror(cause)) +
                      "). The old file was left as it was.");
        return false;
    }
    if (!inputMissing_) {
        extra.midiInPortName =
            bank.midiInDevice >= 0 ? midiIn.GetDevName(bank.midiInDevice) : std::string();
    }
    if (!extraUnreadable_ &&
        !platform::WriteFileAtomically(ExtraSettingsPath(), FormatExtraSettings(extra), cause,
                                       failedAt)) {
        Say("Tamborex: Error writing " + ExtraSettingsPath() + " (" + std::strerror(cause) + ").");
    }
    return true;
}

int CSession::LoadPatchFile(const std::string& path, std::int32_t bankIndex) {
    return ReadPatch(path, bankIndex).opened ? 1 : 0;
}

CSession::PatchLoad CSession::ReadPatch(const std::string& path, std::int32_t bankIndex) {
    if (path.empty()) {
        return {false, true};
    }
    // A file that is refused changes nothing: the patch in use keeps its port and its polling.
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    if (!platform::ReadWholeFile(path, bytes, cause)) {
        window_.MessageBox("Error opening patch file.\n" + path + " could not be read (" +
                           platform::ReadFailureText(cause) + ").");
        return {};
    }
    std::string name;
    std::array<CPatch, 2> loaded = engine.patches;
    if (const std::string problem = ReadPatchFile(bytes, name, loaded); !problem.empty()) {
        window_.MessageBox(problem + "\n" + path + " is not a Tamborex patch that can be read.");
        return {};
    }
    if (engine.patches[0].outputDevice >= 0) {
        engine.SilenceOutput();
        midiOut.Open(-1);
    }
    engine.patches = std::move(loaded);
    const CPatch& slot0 = engine.patches[0];
    if (started_) {
        FollowController();  // the new patch may be made for another controller
    }
    bank.patchName = name;
    bank.patchNames[std::clamp(bankIndex, 0, kBankEntries - 1)] = name;
    recoveredUnsaved_ = false;
    // A port remembered by name that is gone stays closed, like one that would not open, and
    // polling stays as it was; one that moved in the list is followed.
    const int output = FollowPort(midiOut, "output", OutputPortName(slot0), slot0.outputDevice);
    outputMissing_ = output < 0 && slot0.outputDevice >= 0;
    if (!outputMissing_) {
        engine.patches[0].outputDevice = output;
    }
    const bool opened = !outputMissing_ && midiOut.Open(DeviceId(output));
    if (!opened && !outputMissing_) {
        window_.MessageBox("Error setting midi out dev: " + midiOut.GetErrorText());
    } else if (opened) {
        engine.SetPatchActive(0, slot0.active);
    }
    ApplyAxisRanges();
    return {true, opened};
}

bool CSession::SavePatchFile(const std::string& path) {
    int cause = 0;
    platform::WriteStage failedAt{};
    const std::array<CPatch, 2> patches = PatchesForFile();
    if (!platform::WriteFileAtomically(path, FormatPatchFile(bank.patchName, patches), cause,
                                       failedAt)) {
        window_.MessageBox(failedAt == platform::WriteStage::Create
                               ? "Can't open file " + path + " for writing!"
                               : "Could not write " + path + " (" + std::strerror(cause) +
                                     "). The old file was left as it was.");
        return false;
    }
    bank.patchPaths[bank.patchNumber] = path;
    // The patch in use is now the one made for this controller, as the file says.
    engine.patches[0].reserved = patches[0].reserved;
    engine.patches[0].joystickNumber = patches[0].joystickNumber;
    recoveredUnsaved_ = false;
    window_.PatchSaved();
    return true;
}

void CSession::LoadCommand() {
    std::string chosen;
    if (window_.ChooseFile(false, kPatchFilter, kPatchExtension, bank.patchPaths[bank.patchNumber],
                           chosen)) {
        LoadPatchFile(chosen, bank.patchNumber);
    }
    // An open Joystick options dialog must show the loaded patch: its next Apply would otherwise
    // write the old patch's numbers into the new one.
    window_.PatchReloaded();
    window_.ShowCurrentEntry();
}

bool CSession::SaveCommand() {
    std::string chosen;
    return window_.ChooseFile(true, kPatchFilter, kPatchExtension,
                              bank.patchPaths[bank.patchNumber], chosen) &&
           SavePatchFile(chosen);
}

void CSession::SetPatchNumber(std::int32_t number) {
    bank.patchNumber = std::clamp(number, 0, kBankEntries - 1);
}

void CSession::SelectPatch() {
    bank.patchName = bank.patchNames[bank.patchNumber];
    LoadPatchFile(bank.patchPaths[bank.patchNumber], bank.patchNumber);
    window_.PatchReloaded();
    window_.ShowCurrentEntry();
}

void CSession::Preset(int k) {
    if (k >= 0 && k < kPresets) {
        SetPatchNumber(bank.presets[k]);
        SelectPatch();
    }
}

void CSession::Previous() {
    if (bank.patchNumber > 0) {
        --bank.patchNumber;
        SelectPatch();
    }
}

void CSession::Next() {
    if (bank.patchNumber < kBankEntries - 1) {
        ++bank.patchNumber;
        SelectPatch();
    }
}

void CSession::Rename(const std::string& name) {
    bank.patchName = name;
    bank.patchNames[bank.patchNumber] = name;
}

bool CSession::SelectOutput(int index) {
    // Whatever the old port left sounding is released before it closes.
    if (!engine.ReopenOutput(DeviceId(index))) {
        return false;
    }
    engine.patches[0].outputDevice = index;
    outputMissing_ = false;
    return true;
}

bool CSession::SelectInput(int index) {
    const bool opened = midiIn.Open(DeviceId(index));
    bank.midiInDevice = opened ? index : -1;
    inputMissing_ = false;
    return opened;
}

void CSession::SetActive(bool active) {
    engine.SetPatchActive(0, active ? 1 : 0);
}

void CSession::SetPollInterval(std::int32_t code) {
    engine.SetPollInterval(code);
}

void CSession::SetAlwaysOnTop(bool onTop) {
    bank.alwaysOnTop = onTop ? 1 : 0;
    window_.ApplyAlwaysOnTop();
}
