#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/midi.h"

namespace platform {

// A packed short message as the bytes that go on the wire (data bytes kept to 7 bits); 0 when
// its status byte cannot start a message on its own.
std::size_t ShortMessageBytes(std::uint32_t message, std::uint8_t (&bytes)[3]);

// Whether the ALSA sequencer can be opened here; on failure, why not.
bool ProbeAlsaSequencer(std::string& why);

// The ALSA sequencer through RtMidi. reason says why this backend was chosen.
std::unique_ptr<MidiService> CreateAlsaMidiService(std::string_view clientName, std::string reason);

// A system with no devices: empty lists, every open fails.
std::unique_ptr<MidiService> CreateNoMidiService(std::string_view clientName, std::string reason);

// JACK through libjack, one client named clientName. Null, with why, when no server is running
// (one is never started).
std::unique_ptr<MidiService> CreateJackMidiService(std::string_view clientName, std::string reason,
                                                   std::string& why);

}  // namespace platform
