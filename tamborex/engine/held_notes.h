#pragma once

#include <bitset>
#include <cstdint>

// What the engine has left sounding on the output: notes turned on and not yet off, and sustain
// pedals held down, per channel. Closing the port without turning them off would leave them
// stuck on the synthesiser.
class CHeldNotes {
  public:
    // Follows one message that went out.
    void Track(const std::uint8_t* bytes, int length);
    bool Any() const;
    // Calls send(status, data1, data2) for every note off and pedal release needed, then forgets
    // them.
    template <typename Send>
    void ReleaseAll(Send&& send) {
        for (int ch = 0; ch < 16; ++ch) {
            for (int note = 0; note < 128; ++note) {
                if (notes_[ch][note]) {
                    send(0x80 | ch, note, 0);
                }
            }
            notes_[ch].reset();
        }
        for (int ch = 0; ch < 16; ++ch) {
            if (sustain_[ch]) {
                send(0xB0 | ch, 64, 0);
            }
        }
        sustain_.reset();
    }

  private:
    std::bitset<128> notes_[16];
    std::bitset<16> sustain_;
};
