#pragma once

#include <cstdint>
#include <mutex>
#include <span>

#include "platform/midi.h"
#include "platform/midi_sent_log.h"

namespace corvane {

class MidiMirror;

// The output device number that stands for the system's default output: on Linux, Corvane's
// own virtual port, for a sequencer or synth to connect to.
inline constexpr int kMidiMapper = -1;
// A device number for Open: leave this port closed.
inline constexpr int kLeaveClosed = -2;

// The MIDI output and, for thru only, the input. The tick sends from the timer thread while the
// UI thread closes and reopens the ports; one mutex serialises the two, so a tick never sends on
// a port that is being closed, and a send while no port is open is dropped, not sent on a dead
// handle. No result is reported: a port that fails to open simply sends nothing.
class MidiPorts {
  public:
    explicit MidiPorts(platform::MidiService& midi) : midi_(midi) {}
    ~MidiPorts() { Close(); }
    MidiPorts(const MidiPorts&) = delete;
    MidiPorts& operator=(const MidiPorts&) = delete;

    void Open(int inputDevice, int outputDevice, bool thru);
    void Close();

    void SendController(int channel, int controller, int value);
    // value holds the 7-bit LSB in its low byte and the 7-bit MSB in its second byte.
    void SendPitchBend(int channel, int value);
    // Controller 121 (reset all controllers), value 0, on status 0xB0 whatever the channel.
    void ResetControllers();
    // A whole message from elsewhere (OSC in): up to three bytes as a short message, a longer
    // one as a system-exclusive block. False when no output is open or the send failed.
    bool SendMessage(std::span<const std::uint8_t> message);
    // Who is told of every message sent (the OSC mirror); null for nobody.
    void SetMirror(MidiMirror* mirror);
    // Where every message that went out is recorded (a monitor); null for nowhere. Once this
    // returns, the old log is not being written and will not be again.
    void SetSentLog(platform::MidiSentLog* log);

    bool OutputOpen() const;

  private:
    bool SendLocked(std::uint32_t message);

    platform::MidiService& midi_;
    mutable std::mutex mutex_;
    platform::MidiOutHandle out_ = platform::kNoHandle;
    platform::MidiInHandle in_ = platform::kNoHandle;
    bool thru_ = false;
    MidiMirror* mirror_ = nullptr;
    platform::MidiSentLog* sentLog_ = nullptr;
};

}  // namespace corvane
