#include "midi_ports.h"

#include <algorithm>

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

void MidiPorts::SendLocked(std::uint32_t message) {
    if (out_ != kNoHandle) {
        (void)midi_.SendShort(out_, message);
    }
}

}  // namespace corvane
