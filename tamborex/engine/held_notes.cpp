#include "tamborex/engine/held_notes.h"

#include <algorithm>

#include "platform/midi.h"

namespace midi = platform::midi;

namespace {
constexpr int kPedalBase = midi::kSustain;  // 64 to 67: sustain, portamento, sostenuto, soft
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kAllNotesOff = 123;
constexpr std::uint8_t kBendCentreMsb = 64;

int Slot(CHeldNotes::Origin origin) {
    return origin == CHeldNotes::Origin::Played ? 0 : 1;
}
}  // namespace

void CHeldNotes::SelectPort(std::string_view port) {
    if (port.empty()) {
        current_ = 0;  // no port open: nothing goes out, the unnamed ledger stays empty
        return;
    }
    const auto known = std::find_if(ports_.begin() + 1, ports_.end(),
                                    [&](const PortLedger& p) { return p.name == port; });
    if (known != ports_.end()) {
        current_ = static_cast<std::size_t>(known - ports_.begin());
        return;
    }
    ports_.push_back(PortLedger{std::string(port), {}});
    current_ = ports_.size() - 1;
}

void CHeldNotes::Track(std::uint32_t packed, Origin origin) {
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(packed),
                                   static_cast<std::uint8_t>(packed >> 8),
                                   static_cast<std::uint8_t>(packed >> 16)};
    Track(bytes, 3, origin);
}

void CHeldNotes::Track(const std::uint8_t* bytes, int length, Origin origin) {
    if (length < 3 || bytes[0] < midi::kNoteOff || bytes[0] >= midi::kSystemExclusive) {
        return;
    }
    const int kind = bytes[0] & midi::kKindMask;
    Channel& c = Current().channels[bytes[0] & midi::kChannelMask];
    c.used = true;
    const int data1 = bytes[1] & 0x7F;
    const int data2 = bytes[2] & 0x7F;
    const int o = Slot(origin);
    if (kind == midi::kNoteOn) {
        c.notes[o][data1] = data2 != 0;  // velocity 0 is a note off
    } else if (kind == midi::kNoteOff) {
        c.notes[o][data1] = false;
    } else if (kind == midi::kControlChange && data1 >= kPedalBase &&
               data1 < kPedalBase + kPedals) {
        c.pedals[o][data1 - kPedalBase] = data2 >= 64;
    } else if (kind == midi::kPitchBend) {
        c.bent = data1 != 0 || data2 != kBendCentreMsb;
    }
}

int CHeldNotes::EndNotes(Channel& c, int ch, bool thruToo, std::uint32_t* out) {
    int n = 0;
    const auto sounding = thruToo ? (c.notes[0] | c.notes[1]) : c.notes[0];
    if (sounding.none()) {
        return 0;
    }
    for (int note = 0; note < midi::kNotes; ++note) {
        if (sounding[note]) {
            out[n++] = platform::PackShortMessage(static_cast<std::uint8_t>(midi::kNoteOff | ch),
                                                  static_cast<std::uint8_t>(note), 0);
        }
    }
    c.notes[0].reset();
    if (thruToo) {
        c.notes[1].reset();
    }
    return n;
}

int CHeldNotes::EndPedals(Channel& c, int ch, bool thruToo, std::uint32_t* out) {
    int n = 0;
    const auto down = thruToo ? (c.pedals[0] | c.pedals[1]) : c.pedals[0];
    for (int p = 0; p < kPedals; ++p) {
        if (down[p]) {
            out[n++] =
                platform::PackShortMessage(static_cast<std::uint8_t>(midi::kControlChange | ch),
                                           static_cast<std::uint8_t>(kPedalBase + p), 0);
        }
    }
    c.pedals[0].reset();
    if (thruToo) {
        c.pedals[1].reset();
    }
    return n;
}

int CHeldNotes::End(Scope scope, std::uint32_t* out) {
    const bool all = scope == Scope::Sounding;
    auto& channels = Current().channels;
    int n = 0;
    for (int ch = 0; ch < midi::kChannels; ++ch) {
        n += EndNotes(channels[ch], ch, all, out + n);
    }
    for (int ch = 0; ch < midi::kChannels; ++ch) {
        n += EndPedals(channels[ch], ch, all, out + n);
    }
    if (all) {
        for (int ch = 0; ch < midi::kChannels; ++ch) {
            if (channels[ch].bent) {
                out[n++] = platform::PackShortMessage(
                    static_cast<std::uint8_t>(midi::kPitchBend | ch), 0, kBendCentreMsb);
                channels[ch].bent = false;
            }
        }
    }
    return n;
}

int CHeldNotes::Panic(std::uint32_t* out) {
    int n = 0;
    auto& channels = Current().channels;
    // Only the notes: the resets below cover every pedal and bend of a used channel anyway.
    for (int ch = 0; ch < midi::kChannels; ++ch) {
        n += EndNotes(channels[ch], ch, true, out + n);
    }
    for (int ch = 0; ch < midi::kChannels; ++ch) {
        Channel& c = channels[ch];
        c.pedals[0].reset();
        c.pedals[1].reset();
        c.bent = false;
        if (!c.used) {
            continue;
        }
        const auto status = static_cast<std::uint8_t>(midi::kControlChange | ch);
        out[n++] = platform::PackShortMessage(status, midi::kSustain, 0);
        out[n++] = platform::PackShortMessage(status, kAllSoundOff, 0);
        out[n++] = platform::PackShortMessage(status, kAllNotesOff, 0);
        out[n++] = platform::PackShortMessage(static_cast<std::uint8_t>(midi::kPitchBend | ch), 0,
                                              kBendCentreMsb);
    }
    return n;
}

int CHeldNotes::EndChannel(int channel, std::uint32_t* out) {
    const int ch = std::clamp(channel, 0, midi::kChannels - 1);
    Channel& c = Current().channels[ch];
    int n = EndNotes(c, ch, true, out);
    n += EndPedals(c, ch, true, out + n);
    return n;
}

bool CHeldNotes::Silent() const {
    return std::all_of(Current().channels.begin(), Current().channels.end(), [](const Channel& c) {
        return c.notes[0].none() && c.notes[1].none() && c.pedals[0].none() && c.pedals[1].none() &&
               !c.bent;
    });
}

bool CHeldNotes::AllSilent() const {
    for (const PortLedger& p : ports_) {
        for (const Channel& c : p.channels) {
            if (c.notes[0].any() || c.notes[1].any() || c.pedals[0].any() || c.pedals[1].any() ||
                c.bent) {
                return false;
            }
        }
    }
    return true;
}

bool CHeldNotes::NoteOn(int channel, int note) const {
    const Channel& c = Current().channels[std::clamp(channel, 0, midi::kChannels - 1)];
    const int n = std::clamp(note, 0, midi::kNotes - 1);
    return c.notes[0][n] || c.notes[1][n];
}
