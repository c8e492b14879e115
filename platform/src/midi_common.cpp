#include "platform/midi.h"

namespace platform {

std::string_view MidiResultName(MidiResult result) {
    switch (result) {
        case MidiResult::NoError:
            return "no error";
        case MidiResult::InvalidParam:
            return "invalid parameter";
        case MidiResult::BadDeviceId:
            return "bad device id";
        case MidiResult::NoDevice:
            return "no device";
        case MidiResult::Allocated:
            return "already allocated";
        case MidiResult::InvalidHandle:
            return "invalid handle";
        case MidiResult::NoMemory:
            return "out of memory";
        case MidiResult::Other:
            break;
    }
    return "other error";
}

int ShortMessageLength(std::uint8_t status) {
    if (status < 0x80) {
        return 1;
    }
    switch (status & 0xF0) {
        case 0xC0:  // program change
        case 0xD0:  // channel pressure
            return 2;
        case 0xF0:
            break;
        default:
            return 3;
    }
    switch (status) {
        case 0xF1:  // time code quarter frame
        case 0xF3:  // song select
            return 2;
        case 0xF2:  // song position
            return 3;
        default:
            return 1;
    }
}

}  // namespace platform
