#pragma once

#include <bitset>
#include <cstdint>

#include "platform/midi_bytes.h"

// What the engine has left sounding on the output: notes turned on and not yet off, and sustain
// pedals held down, per channel. Closing the port without turning them off would leave them
// stuck on the synthesiser.
class CHeldNotes {
  public:
    // Follows one message that went out.
    void Track(const std::uint8_t* bytes, int length);
    // Calls send(status, data1, data2) for every note off and pedal release needed, then forgets
    // them.
    template <typename Send>
    void ReleaseAll(Send&& send) {
        namespace midi = platform::midi;
        for (int ch = 0; ch < midi::kChannels; ++ch) {
            for (int note = 0; note < midi::kNotes; ++note) {
                if (notes_[ch][note]) {
                    send(midi::kNoteOff | ch, note, 0);
                }
            }
            notes_[ch].reset();
        }
        for (int ch = 0; ch < midi::kChannels; ++ch) {
            if (sustain_[ch]) {
                send(midi::kControlChange | ch, midi::kSustain, 0);
            }
        }
        sustain_.reset();
    }

  private:
    std::bitset<platform::midi::kNotes> notes_[platform::midi::kChannels];
    std::bitset<platform::midi::kChannels> sustain_;
};
