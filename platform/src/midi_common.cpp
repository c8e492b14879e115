#include "platform/midi.h"
#include "platform/midi_bytes.h"

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
    if (status < midi::kNoteOff) {
        return 1;
    }
    switch (status & midi::kKindMask) {
        case midi::kProgramChange:
        case midi::kChannelPressure:
            return 2;
        case midi::kSystemExclusive:
            break;
        default:
            return 3;
    }
    switch (status) {
        case midi::kTimeCode:
        case midi::kSongSelect:
            return 2;
        case midi::kSongPosition:
            return 3;
        default:
            return 1;
    }
}

std::string NoMidiDevicesAdvice(const MidiService& service, std::string_view program) {
    return "Why: " + service.BackendReason() +
           ". Start a JACK server (for example with qjackctl) or load the ALSA sequencer "
           "(modprobe snd-seq), then start " +
           std::string(program) + " again.";
}

}  // namespace platform
