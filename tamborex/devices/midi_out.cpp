#include "tamborex/devices/midi_out.h"

CWinMIDIOut::CWinMIDIOut(platform::MidiService& midi) : midi_(midi), names_(midi.ListOutputs()) {
    deviceCount = static_cast<std::uint32_t>(names_.size());
}

CWinMIDIOut::~CWinMIDIOut() {
    if (currentDevice >= 0) {
        midi_.CloseOutput(handle_);
    }
}

std::string CWinMIDIOut::GetDevName(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < names_.size() ? names_[index] : "";
}

bool CWinMIDIOut::Open(std::int16_t deviceId) {
    lastError = MIDI_NOERROR;
    if (currentDevice >= 0) {
        MapResult(midi_.CloseOutput(handle_));
        handle_ = platform::kNoHandle;
    }
    currentDevice = -1;
    if (deviceId >= 0 && MapResult(midi_.OpenOutput(deviceId, handle_))) {
        currentDevice = deviceId;
    }
    if (thru_ != nullptr) {
        thru_->SetOutput(currentDevice >= 0 ? handle_ : platform::kNoHandle);
    }
    if (onOpen_) {
        onOpen_();
    }
    return lastError == MIDI_NOERROR;
}

bool CWinMIDIOut::SendShorts(std::span<const std::uint32_t> messages) {
    lastError = MIDI_NOERROR;
    MapResult(midi_.SendShorts(handle_, messages));
    return lastError == MIDI_NOERROR;
}

bool CWinMIDIOut::Send(const std::uint8_t* bytes, int length) {
    lastError = MIDI_NOERROR;
    if (length <= 3) {
        const std::uint32_t packed = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                     (static_cast<std::uint32_t>(bytes[3]) << 24);
        MapResult(midi_.SendShort(handle_, packed));
    } else {
        MapResult(midi_.SendLong(handle_, {bytes, static_cast<std::size_t>(length)}));
    }
    return lastError == MIDI_NOERROR;
}

bool CWinMIDIOut::SendBatch(std::span<const std::uint32_t> messages) {
    lastError = MIDI_NOERROR;
    if (!messages.empty()) {
        MapResult(midi_.SendShortBatch(handle_, messages));
    }
    return lastError == MIDI_NOERROR;
}
