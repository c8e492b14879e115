#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/midi.h"

namespace platform {

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
