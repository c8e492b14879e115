#include "midi_ports.h"

#include <algorithm>

#include "osc_link.h"
#include "platform/midi_bytes.h"

namespace corvane {

using platform::kNoHandle;
using platform::MidiResult;

void MidiPorts::Open(int inputDevice, int outputDevice, bool thru) {
    std::lock_guard lock(mutex_);
    // The platform lists our own virtual output first; that is where the default goes.
    const int outIndex = outputDevice == kMidiMapper ? 0 : outputDevice;
    if (outputDevice == kLeaveClosed || midi_.OpenOutput(outIndex, out_) != MidiResult::NoError) {
        out_ = kNoHandle;
    }
    thru_ = thru;
    if (thru && inputDevice != kLeaveClosed &&
        midi_.OpenInput(inputDevice, {}, in_) == MidiResult::NoError) {
        midi_.StartInput(in_);
        midi_.Connect(in_, out_);
    }
}

void MidiPorts::Close() {
    std::lock_guard lock(mutex_);
    if (thru_ && in_ != kNoHandle) {
        midi_.Disconnect(in_, out_);
        midi_.StopInput(in_);
        midi_.CloseInput(in_);
    }
    in_ = kNoHandle;
    thru_ = false;
    if (out_ != kNoHandle) {
        midi_.CloseOutput(out_);
        out_ = kNoHandle;
    }
}

bool MidiPorts::OutputOpen() const {
    std::lock_guard lock(mutex_);
    return out_ != kNoHandle;
}

void MidiPorts::SendController(int channel, int controller, int value) {
    // A channel from a hand-edited profile or a type from a hand-edited configuration must not
    // spill into the status byte or make a data byte look like a status byte.
    const auto status =
        static_cast<std::uint8_t>(platform::midi::kControlChange | std::clamp(channel, 0, 15));
    std::lock_guard lock(mutex_);
    SendLocked(platform::PackShortMessage(status,
                                          static_cast<std::uint8_t>(std::clamp(controller, 0, 127)),
                                          static_cast<std::uint8_t>(std::clamp(value, 0, 127))));
}

void MidiPorts::SendPitchBend(int channel, int value) {
    const auto status =
        static_cast<std::uint8_t>(platform::midi::kPitchBend | std::clamp(channel, 0, 15));
    std::lock_guard lock(mutex_);
    SendLocked(platform::PackShortMessage(status, static_cast<std::uint8_t>(value & 0x7F),
                                          static_cast<std::uint8_t>((value >> 7) & 0x7F)));
}

void MidiPorts::ResetControllers() {
    std::lock_guard lock(mutex_);
    SendLocked(platform::PackShortMessage(platform::midi::kControlChange,
                                          platform::midi::kResetAllControllers, 0));
}

bool MidiPorts::SendMessage(std::span<const std::uint8_t> message) {
    if (message.empty()) {
        return false;
    }
    std::lock_guard lock(mutex_);
    if (message.size() <= 3) {
        std::uint8_t b[3] = {};
        std::copy(message.begin(), message.end(), b);
        return SendLocked(platform::PackShortMessage(b[0], b[1], b[2]));
    }
    if (out_ == kNoHandle || midi_.SendLong(out_, message) != MidiResult::NoError) {
        return false;
    }
    if (mirror_ != nullptr) {
        mirror_->Mirrored(message);
    }
    if (sentLog_ != nullptr) {
        sentLog_->RecordBlock(message.size());
    }
    return true;
}

void MidiPorts::SetMirror(MidiMirror* mirror) {
    std::lock_guard lock(mutex_);
    mirror_ = mirror;
}

void MidiPorts::SetSentLog(platform::MidiSentLog* log) {
    std::lock_guard lock(mutex_);
    sentLog_ = log;
}

bool MidiPorts::SendLocked(std::uint32_t message) {
    if (out_ == kNoHandle || midi_.SendShort(out_, message) != MidiResult::NoError) {
        return false;
    }
    if (sentLog_ != nullptr) {
        sentLog_->RecordShort(message);
    }
    if (mirror_ != nullptr) {
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(message),
                                       static_cast<std::uint8_t>(message >> 8),
                                       static_cast<std::uint8_t>(message >> 16)};
        // As long as the status byte says, so a program change leaves as two bytes.
        const std::uint8_t kind = bytes[0] & platform::midi::kKindMask;
        const std::size_t length =
            kind == platform::midi::kProgramChange || kind == platform::midi::kChannelPressure ? 2
                                                                                               : 3;
        mirror_->Mirrored({bytes, length});
    }
    return true;
}

}  // namespace corvane
