#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/midi_bytes.h"

// The ledger of what Tamborex has left sounding, per output port and channel: notes turned on
// and not yet off, pedals held down, pitch bend away from its centre, and which channels the
// port has carried since start. Closing a port without ending them would leave them stuck on
// the synthesiser; a panic, a patch or port switch, an unplugged controller and quitting all end
// them from here.
//
// What the controller played and what came in through thru are kept apart: pulling the
// controller out ends its own notes, not those a keyboard upstream still holds.
class CHeldNotes {
  public:
    enum class Origin { Played, Thru };
    // What an end covers.
    enum class Scope {
        Played,    // the controller's notes and pedals (it was pulled out)
        Sounding,  // every note and pedal, and pitch bend back to its centre (switch, quit)
    };

    // Every message until the next call goes to the port of this name: its ledger is kept, so a
    // port closed and opened again by name is still known. Allocates only for a port not seen
    // before.
    void SelectPort(std::string_view port);
    const std::string& Port() const { return ports_[current_].name; }

    // Follows one message that went out on the selected port.
    void Track(const std::uint8_t* bytes, int length, Origin origin = Origin::Played);
    void Track(std::uint32_t packed, Origin origin = Origin::Played);

    // The messages that end what scope covers on the selected port, as packed short messages:
    // every note off first, then pedal releases, then pitch bend centres. They are forgotten.
    // Returns how many were written; never more than kMaxEndMessages.
    int End(Scope scope, std::uint32_t* out);
    // A panic: End(Sounding), then on every channel the port has carried since start a sustain
    // release, All Sound Off, All Notes Off and pitch bend centre. At most kMaxPanicMessages.
    int Panic(std::uint32_t* out);
    // One channel's notes and pedals (an All Notes Off or All Sound Off arrived for it).
    int EndChannel(int channel, std::uint32_t* out);

    // An All Sound Off or All Notes Off, on any channel.
    static bool IsChannelSilencer(std::uint32_t packed) {
        return (packed & platform::midi::kKindMask) == platform::midi::kControlChange &&
               (((packed >> 8) & 0xFF) == 120 || ((packed >> 8) & 0xFF) == 123);
    }

    // Nothing sounding on the selected port (bend at its centre counts as nothing).
    bool Silent() const;
    // Nothing sounding on any port.
    bool AllSilent() const;
    bool NoteOn(int channel, int note) const;

    static constexpr int kPedals = 4;  // sustain, portamento, sostenuto, soft pedal
    static constexpr int kMaxEndMessages =
        platform::midi::kChannels * (platform::midi::kNotes + kPedals + 1);
    static constexpr int kMaxPanicMessages = kMaxEndMessages + platform::midi::kChannels * 4;

  private:
    struct Channel {
        std::bitset<platform::midi::kNotes> notes[2];  // by Origin
        std::bitset<kPedals> pedals[2];
        bool bent = false;
        bool used = false;
    };
    struct PortLedger {
        std::string name;
        std::array<Channel, platform::midi::kChannels> channels{};
    };

    static int EndNotes(Channel& c, int ch, bool thruToo, std::uint32_t* out);
    static int EndPedals(Channel& c, int ch, bool thruToo, std::uint32_t* out);
    PortLedger& Current() { return ports_[current_]; }
    const PortLedger& Current() const { return ports_[current_]; }

    std::vector<PortLedger> ports_{1};  // the unnamed one: before any port was selected
    std::size_t current_ = 0;
};
