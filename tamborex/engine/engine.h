#pragma once

#include <array>
#include <cstdint>

#include "midi_out.h"
#include "patch.h"
#include "window_services.h"

// The mapping engine the main bar owns: both patch slots, and the translation of joystick
// movement into MIDI on the output port. Runs on the user-interface thread.
class CEngine {
  public:
    CEngine(CWinMIDIOut& midiOut, CWindowServices& window);
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;

    // One new value of one axis of a patch slot: polarity, minimum movement, suppression, then a
    // control change, a pitch bend or an NRPN sequence.
    void TranslateAxis(int slot, int axis, std::int32_t value);
    // Flashes the activity light after a send, successful or not.
    void SignalActivity();
    // The bar's timer handler, by identifier.
    void OnTimer(int id);

    bool ActivityLit() const { return activityLit != 0; }

    std::array<CPatch, 2> patches;

  private:
    bool SendShort(std::int32_t status, std::int32_t data1, std::int32_t data2);

    CWinMIDIOut& midiOut_;
    CWindowServices& window_;
    std::int32_t activityLit = 0;
};
