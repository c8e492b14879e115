// CSession's commands from the editing dialogs: ports, settings and patch edits.

#include <algorithm>

#include "tamborex/session/session.h"

bool CSession::SelectOutput(int index) {
    // Whatever the old port left sounding is released before it closes.
    if (!engine_.ReopenOutput(DeviceId(index))) {
        return false;
    }
    engine_.patches[0].outputDevice = index;
    outputMissing_ = false;
    Notify([](CSessionObserver& o) { o.OnPlayStateChanged(); });
    return true;
}

bool CSession::SelectInput(int index) {
    const bool opened = midiIn_.Open(DeviceId(index));
    bank_.midiInDevice = opened ? index : -1;
    inputMissing_ = false;
    return opened;
}

void CSession::SetActive(bool active) {
    engine_.SetPatchActive(0, active ? 1 : 0);
    Notify([](CSessionObserver& o) { o.OnPlayStateChanged(); });
}

void CSession::SetPollInterval(std::int32_t code) {
    engine_.SetPollInterval(code);
}

void CSession::SetAlwaysOnTop(bool onTop) {
    bank_.alwaysOnTop = onTop ? 1 : 0;
    Notify([onTop](CSessionObserver& o) { o.OnAlwaysOnTopChanged(onTop); });
}

void CSession::Panic() {
    if (!shutDown_) {
        engine_.Panic();
    }
}

void CSession::SetPreset(int k, std::int32_t entry) {
    if (k >= 0 && k < kPresets) {
        bank_.presets[k] = std::clamp(entry, 0, kBankEntries - 1);
    }
}

void CSession::SetCurrentEntry(std::int32_t entry) {
    // The patch in use stays, for the new entry; edits made so far stay with their own.
    if (entry != slotEntry_) {
        KeepEdits();
    }
    SetPatchNumber(entry);
    slotEntry_ = bank_.patchNumber;
    nameTyped_ = false;
    bank_.patchName = bank_.patchNames[bank_.patchNumber];
    Notify([](CSessionObserver& o) { o.OnEntrySelected(); });
}

void CSession::SetMidiInChannel(std::int32_t channel) {
    midiInChannel_ = std::clamp(channel, 0, 15);
}

void CSession::SetRespondToProgramChange(bool on) {
    bank_.respondToProgramChange = on ? 1 : 0;
}

void CSession::SetLoadMinimized(bool on) {
    bank_.loadMinimized = on ? 1 : 0;
}

void CSession::SetMidiSystem(std::string_view word) {
    extra_.midiSystem = word;
}

void CSession::SetOscSettings(std::string out, std::string in) {
    if (out == extra_.oscOut && in == extra_.oscIn) {
        return;
    }
    extra_.oscOut = std::move(out);
    extra_.oscIn = std::move(in);
    Notify([](CSessionObserver& o) { o.OnOscSettingsChanged(); });
}

void CSession::SetBarPosition(std::int32_t x, std::int32_t y) {
    bank_.barPos = {x, y};
}

void CSession::SetJoyOptionsPosition(std::int32_t x, std::int32_t y) {
    bank_.joyOptionsPos = {x, y};
}

void CSession::SetAxisController(int axis, std::int32_t selection) {
    if (axis >= 0 && axis < kAxisCount) {
        engine_.patches[0].axes[axis].controller = selection;
        MarkPatchModified();
    }
}

void CSession::SetButtonMode(int button, std::int32_t mode) {
    if (button >= 0 && button < kPolledButtons) {
        engine_.patches[0].buttons[button].mode = mode;
        MarkPatchModified();
    }
}

void CSession::SetSensitivity(std::int32_t sensitivity) {
    engine_.patches[0].joystickSensitivity = sensitivity;
    MarkPatchModified();
}

void CSession::ApplyPatchFields(std::int32_t active, const std::array<std::int32_t, 8>& data1,
                                const std::array<std::int32_t, 8>& data2,
                                const std::array<std::int32_t, 8>& channels) {
    CPatch& patch = engine_.patches[0];
    bool changed = patch.active != active;
    patch.active = active;
    for (int b = 0; b < kPolledButtons; ++b) {
        ButtonRecord& record = patch.buttons[b];
        changed = changed || record.data1 != data1[b] || record.data2 != data2[b] ||
                  record.channel != channels[b];
        record.data1 = data1[b];
        record.data2 = data2[b];
        record.channel = channels[b];
    }
    // A typed note that differs is an edit like any other: Quit must offer to save it.
    if (changed) {
        MarkPatchModified();
        Notify([](CSessionObserver& o) { o.OnPlayStateChanged(); });
    }
}
