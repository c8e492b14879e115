#include "tamborex/engine/held_notes.h"

void CHeldNotes::Track(const std::uint8_t* bytes, int length) {
    namespace midi = platform::midi;
    if (length < 3) {
        return;
    }
    const int kind = bytes[0] & midi::kKindMask;
    const int ch = bytes[0] & midi::kChannelMask;
    const int data1 = bytes[1] & 0x7F;
    if (kind == midi::kNoteOn) {
        notes_[ch][data1] = bytes[2] != 0;  // velocity 0 is a note off
    } else if (kind == midi::kNoteOff) {
        notes_[ch][data1] = false;
    } else if (kind == midi::kControlChange && data1 == midi::kSustain) {
        sustain_[ch] = bytes[2] >= 64;
    }
}
