#pragma once

#include <string>
#include <vector>

#include "tamborex/devices/midi.h"
#include "tamborex/devices/midi_thru.h"

class CMIDIIn : public CMIDI {
  public:
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    bool Started() const { return started != 0; }

  protected:
    // While a device is open: whether input runs. Also whether Open starts what it opens.
    std::uint8_t started = 1;
};

// The MIDI input port. Every incoming short message reaches the callback given at construction,
// on the platform's input thread, packed as the output port packs them.
class CWinMIDIIn final : public CMIDIIn {
  public:
    CWinMIDIIn(platform::MidiService& midi, platform::MidiInCallback callback);
    ~CWinMIDIIn() override;

    std::string GetDevName(int index) const override;
    // Stops and closes the open device first (results ignored), then opens and, while started is
    // set, starts the new one. A negative id goes to the platform like any other.
    bool Open(std::int16_t deviceId) override;
    bool Start() override;
    bool Stop() override;
    // The thru connection to tell about each open and close.
    void SetThru(CMidiThru* thru) { thru_ = thru; }

  private:
    platform::MidiService& midi_;
    platform::MidiInCallback callback_;
    std::vector<std::string> names_;
    platform::MidiInHandle handle_ = platform::kNoHandle;
    CMidiThru* thru_ = nullptr;
};
