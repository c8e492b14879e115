#include "held_notes.h"

void CHeldNotes::Track(const std::uint8_t* bytes, int length) {
    if (length < 3) {
        return;
    }
    const int kind = bytes[0] & 0xF0;
    const int ch = bytes[0] & 0x0F;
    const int data1 = bytes[1] & 0x7F;
    if (kind == 0x90) {
        notes_[ch][data1] = bytes[2] != 0;  // velocity 0 is a note off
    } else if (kind == 0x80) {
        notes_[ch][data1] = false;
    } else if (kind == 0xB0 && data1 == 64) {
        sustain_[ch] = bytes[2] >= 64;
    }
}

bool CHeldNotes::Any() const {
    for (const auto& channel : notes_) {
        if (channel.any()) {
            return true;
        }
    }
    return sustain_.any();
}
