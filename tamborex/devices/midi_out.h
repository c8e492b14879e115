#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tamborex/devices/midi.h"
#include "tamborex/devices/midi_thru.h"

class CMIDIOut : public CMIDI {};

// The MIDI output port. Lists the output devices once, at construction; opens one by index and
// sends short messages and system-exclusive blocks.
class CWinMIDIOut final : public CMIDIOut {
  public:
    explicit CWinMIDIOut(platform::MidiService& midi);
    ~CWinMIDIOut() override;

    std::string GetDevName(int index) const override;
    // Closes the open device first, always; a negative id only closes.
    bool Open(std::int16_t deviceId) override;
    // Length 3 or less: the first four bytes as one packed short message. Longer: a system-
    // exclusive block, sent as given (the caller supplies F0 and F7); the platform copies it.
    bool Send(const std::uint8_t* bytes, int length);
    // Short messages that leave together (in one JACK cycle).
    bool SendBatch(std::span<const std::uint32_t> messages);
    // The open port's handle; it changes with every open.
    platform::MidiOutHandle Handle() const { return handle_; }
    // Told after every open and close (the engine's ledger follows the port in use), so that
    // the first message on a port does no look-up.
    void SetOpenListener(std::function<void()> listener) { onOpen_ = std::move(listener); }
    // Packed short messages that must stay together (a 14-bit value's two halves), in one call.
    bool SendShorts(std::span<const std::uint32_t> messages);
    // The thru connection to tell about each open and close.
    void SetThru(CMidiThru* thru) { thru_ = thru; }

  private:
    platform::MidiService& midi_;
    std::vector<std::string> names_;
    platform::MidiOutHandle handle_ = platform::kNoHandle;
    CMidiThru* thru_ = nullptr;
    std::function<void()> onOpen_;
};
