#include "tamborex/devices/midi_in.h"

CWinMIDIIn::CWinMIDIIn(platform::MidiService& midi, platform::MidiInCallback callback)
    : midi_(midi), callback_(std::move(callback)), names_(midi.ListInputs()) {
    deviceCount = static_cast<std::uint32_t>(names_.size());
}

CWinMIDIIn::~CWinMIDIIn() {
    if (currentDevice >= 0) {
        if (started) {
            midi_.StopInput(handle_);
        }
        midi_.CloseInput(handle_);
    }
}

std::string CWinMIDIIn::GetDevName(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < names_.size() ? names_[index] : "";
}

bool CWinMIDIIn::Open(std::int16_t deviceId) {
    lastError = MIDI_NOERROR;
    if (currentDevice >= 0) {
        if (started) {
            midi_.StopInput(handle_);
        }
        midi_.CloseInput(handle_);
        handle_ = platform::kNoHandle;
        currentDevice = -1;
    }
    if (MapResult(midi_.OpenInput(deviceId, callback_, handle_))) {
        currentDevice = deviceId;
        if (started) {
            started = MapResult(midi_.StartInput(handle_)) ? 1 : 0;
        }
    }
    if (thru_ != nullptr) {
        thru_->SetInput(currentDevice >= 0 ? handle_ : platform::kNoHandle);
    }
    return lastError == MIDI_NOERROR;
}

bool CWinMIDIIn::Start() {
    lastError = MIDI_NOERROR;
    if (started) {
        lastError = MIDI_ALREADYACTIVE;
        return false;
    }
    started = MapResult(midi_.StartInput(handle_)) ? 1 : 0;
    return lastError == MIDI_NOERROR;
}

bool CWinMIDIIn::Stop() {
    if (!started) {
        return true;
    }
    started = 0;
    return MapResult(midi_.StopInput(handle_));
}
