#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/midi.h"

namespace platform {

// A packed short message as the bytes that go on the wire (data bytes kept to 7 bits); 0 when
// its status byte cannot start a message on its own.
std::size_t ShortMessageBytes(std::uint32_t message, std::uint8_t (&bytes)[3]);

// The largest block a service takes in one send.
inline constexpr std::size_t kMaxBlockBytes = 16000;

// A service whose short and long sends both come down to writing bytes: they check the message
// and hand its bytes to SendBytes.
class ByteSendingMidiService : public MidiService {
  public:
    MidiResult SendShort(MidiOutHandle handle, std::uint32_t message) final;
    MidiResult SendLong(MidiOutHandle handle, std::span<const std::uint8_t> bytes) final;
    MidiResult SendShorts(MidiOutHandle handle, std::span<const std::uint32_t> messages) final;

  protected:
    virtual MidiResult SendBytes(MidiOutHandle handle, const std::uint8_t* bytes,
                                 std::size_t size) = 0;
    // The messages of one SendShorts, each whole, back to back in bytes (lengths[i] bytes each).
    // By default each is sent on its own.
    virtual MidiResult SendGroup(MidiOutHandle handle, const std::uint8_t* bytes,
                                 std::span<const std::uint8_t> lengths);
};

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
