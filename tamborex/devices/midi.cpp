#include "tamborex/devices/midi.h"

#include <cstring>

const char* MidiErrorText(std::int32_t code) {
    switch (code) {
        case MIDI_NOERROR:
            return "none";
        case MIDI_BADALLOC:
            return "bad memory allocation";
        case MIDI_INVALPARAM:
            return "Invalid pointer or structure";
        case MIDI_BADDEVICEID:
            return "Bad device ID";
        case MIDI_NODEVICE:
            return "No MIDI port found.";
        case MIDI_ALLOCATED:
            return "MIDI port already allocated.";
        case MIDI_INVALHANDLE:
            return "unknown";
        case MIDI_ALREADYACTIVE:
            return "Already active";
        case MIDI_NOMEM:
            return "Out of memory";
        default:
            return "Unknown error";
    }
}

bool CMIDI::MapResult(platform::MidiResult result) {
    using platform::MidiResult;
    if (lastError != MIDI_NOERROR) {
        return false;
    }
    switch (result) {
        case MidiResult::NoError:
            lastError = MIDI_NOERROR;
            break;
        case MidiResult::InvalidParam:
            lastError = MIDI_INVALPARAM;
            break;
        case MidiResult::BadDeviceId:
            lastError = MIDI_BADDEVICEID;
            break;
        case MidiResult::NoDevice:
            lastError = MIDI_NODEVICE;
            break;
        case MidiResult::Allocated:
            lastError = MIDI_ALLOCATED;
            break;
        case MidiResult::InvalidHandle:
            lastError = MIDI_INVALHANDLE;
            break;
        case MidiResult::NoMemory:
            lastError = MIDI_NOMEM;
            break;
        case MidiResult::Other:
            lastError = MIDI_UNKNOWN;
            break;
    }
    return lastError == MIDI_NOERROR;
}

std::string CMIDI::GetErrorText() const {
    return std::string("CMIDI Error:") + MidiErrorText(lastError);
}

void CMIDI::GetErrorText(char* buffer, std::size_t size) const {
    if (buffer == nullptr || size == 0) {
        return;
    }
    const std::string text = GetErrorText();
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}
