#include "tamborex/devices/midi_thru.h"

void CMidiThru::SetWanted(bool wanted) {
    wanted_ = wanted;
    Update();
}

void CMidiThru::SetOutput(platform::MidiOutHandle handle) {
    output_ = handle;
    Update();
}

void CMidiThru::SetInput(platform::MidiInHandle handle) {
    input_ = handle;
    Update();
}

void CMidiThru::Update() {
    const bool keep = wanted_ && connectedIn_ == input_ && connectedOut_ == output_;
    if (connectedIn_ != platform::kNoHandle && !keep) {
        // A port that has closed took its connection with it; the result does not matter.
        (void)midi_.Disconnect(connectedIn_, connectedOut_);
        connectedIn_ = connectedOut_ = platform::kNoHandle;
    }
    if (wanted_ && !keep && input_ != platform::kNoHandle && output_ != platform::kNoHandle &&
        midi_.Connect(input_, output_) == platform::MidiResult::NoError) {
        connectedIn_ = input_;
        connectedOut_ = output_;
    }
}
