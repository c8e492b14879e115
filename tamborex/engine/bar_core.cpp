#include "bar_core.h"

CBarCore::CBarCore(platform::MidiService& midi, platform::JoystickService& joystick,
                   CBarWindow& window, std::string bankPath)
    : midiOut(midi),
      joystick(joystick, [&window](std::string_view text) { window.MessageBox(text); }),
      engine(midiOut, this->joystick, window, bank),
      bank(engine, midiOut, this->joystick, window, std::move(bankPath)),
      midiIn(midi, [this](std::uint32_t m, std::uint32_t ts) { engine.OnMidiInput(m, ts); }),
      joystickService_(joystick),
      window_(window) {}

void CBarCore::Startup() {
    joystick.Init();  // also ranges all six axes 0..127
    bank.state.barPos = bank.state.secondPos = window_.BarPosition();
    bank.state.patchName = bank.state.patchNames[bank.state.patchNumber];
    joystickCaps_ = joystickService_.ListJoysticks();
    if (joystickCaps_.empty()) {
        window_.MessageBox("No joystick devices installed.");
    }
    if (midiOut.DeviceCount() == 0) {
        window_.MessageBox("No MIDI out devices available.");
    }
    if (midiIn.DeviceCount() == 0) {
        window_.MessageBox("No MIDI in devices available.");
    }
    bank.LoadBank();
    window_.MoveBar(bank.state.barPos[0], bank.state.barPos[1]);
    bank.LoadPatchFile(bank.state.patchPaths[bank.state.patchNumber], bank.state.patchNumber);
    if (bank.state.midiInDevice >= 0 &&
        !midiIn.Open(static_cast<std::int16_t>(
            std::min<std::int32_t>(bank.state.midiInDevice, INT16_MAX)))) {
        window_.MessageBox("Error opening MIDI In Port: " + midiIn.GetErrorText());
    }
    window_.ShowCurrentEntry();
    window_.AddTrayIcon();
    if (bank.state.loadMinimized) {
        window_.SetTimer(TIMER_HIDE_BAR, 1000);
    }
}

void CBarCore::Shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    bank.state.barPos = window_.BarPosition();
    window_.RemoveTrayIcon();
    // The bank first: a renamed entry is kept whatever the answer below.
    bank.SaveBank();
    for (int id : {TIMER_ACTIVITY_ON, TIMER_ACTIVITY_OFF, TIMER_POLL, TIMER_HIDE_BAR}) {
        window_.KillTimer(id);
    }
    if (window_.PatchModified() && window_.AskYesNo("Save changes to current patch?")) {
        bank.SaveCommand();
    }
    // Nothing may keep sounding once the program is gone.
    engine.SilenceOutput();
    for (CPatch& patch : engine.patches) {
        patch.ReleaseSysEx();
    }
    joystick.Release();
}
