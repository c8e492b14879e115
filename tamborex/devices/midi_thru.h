#pragma once

#include "platform/midi.h"

// MIDI thru made by the MIDI service itself: every message arriving at the open input leaves at
// the open output as it arrives (on JACK inside the same process cycle), before the program's
// own handling of it. The ports report each open and close; the connection follows them.
class CMidiThru {
  public:
    explicit CMidiThru(platform::MidiService& midi) : midi_(midi) {}

    void SetWanted(bool wanted);
    void SetOutput(platform::MidiOutHandle handle);
    void SetInput(platform::MidiInHandle handle);
    // Whether the service copies the input to the output now; the engine then sends nothing
    // again for thru.
    bool Forwarding() const { return connectedIn_ != platform::kNoHandle; }

  private:
    void Update();

    platform::MidiService& midi_;
    bool wanted_ = false;
    platform::MidiOutHandle output_ = platform::kNoHandle;
    platform::MidiInHandle input_ = platform::kNoHandle;
    platform::MidiInHandle connectedIn_ = platform::kNoHandle;
    platform::MidiOutHandle connectedOut_ = platform::kNoHandle;
};
