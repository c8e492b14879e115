#pragma once

#include <cstdint>

#include "tamborex/devices/joystick.h"

// Who watches what the engine plays, as it plays it (the OSC mirror). Called on the
// user-interface thread, inside the engine's own calls: it must not call back into the engine,
// and must be quick, since the next message waits for it.
class CEngineTap {
  public:
    virtual ~CEngineTap() = default;
    // A poll pass has read the controller: what it read before and now. What the pass sends
    // comes between this and PassEnded.
    virtual void PassStarted(const JoyState& previous, const JoyState& now) = 0;
    virtual void PassEnded() = 0;
    // A message left on the output port, in a pass or outside one.
    virtual void MidiSent(const std::uint8_t* bytes, int length) = 0;
};
