#include "tamborex/model/learned_target.h"

#include "platform/midi_bytes.h"

using Kind = platform::MidiLearnClassifier::Kind;

namespace {
std::string OnChannel(std::string what, int channel) {
    return what + " on channel " + std::to_string(channel);
}
}  // namespace

std::string DescribeLearned(const platform::MidiLearnClassifier::Result& r) {
    switch (r.kind) {
        case Kind::ControlChange:
            return OnChannel("Control change " + std::to_string(r.number), r.channel);
        case Kind::ControlChange14:
            return OnChannel("Control change " + std::to_string(r.number) + " with " +
                                 std::to_string(r.number + 32) + " (14-bit)",
                             r.channel);
        case Kind::Nrpn:
            return OnChannel("NRPN " + std::to_string(r.parameterMsb) + "/" +
                                 std::to_string(r.parameterLsb) + (r.fine ? " (14-bit)" : ""),
                             r.channel);
        case Kind::PitchBend:
            return OnChannel("Pitch bend", r.channel);
        case Kind::Note:
            return OnChannel(
                "Note " + std::to_string(r.number) + " velocity " + std::to_string(r.velocity),
                r.channel);
        case Kind::ProgramChange:
            return OnChannel("Program change " + std::to_string(r.number), r.channel);
        case Kind::None:
            break;
    }
    return "Nothing";
}

bool ApplyLearnedToAxis(const platform::MidiLearnClassifier::Result& r, AxisRecord& axis,
                        std::string& why) {
    switch (r.kind) {
        case Kind::ControlChange:
        case Kind::ControlChange14:
            // 98 and 99 are the list's NRPN entries: as plain controllers they would send an
            // NRPN, not the controller the player moved.
            if (r.number == platform::midi::kNrpnLsb || r.number == platform::midi::kNrpnMsb) {
                why = "Controllers 98 and 99 select NRPNs; an axis cannot send them alone.";
                return false;
            }
            axis.controller = r.number + 2;
            axis.shape.resolution = r.kind == Kind::ControlChange14 ? 14 : 7;
            if (r.kind == Kind::ControlChange14) {
                axis.shape.lsbController = -1;  // the controller + 32, as it arrived
            }
            break;
        case Kind::Nrpn:
            axis.controller = r.fine ? kSelectNrpnFine : kSelectNrpnCoarse;
            axis.nrpnMsb = r.parameterMsb;
            axis.nrpnLsb = r.parameterLsb;
            axis.shape.resolution = r.fine ? 14 : 7;
            break;
        case Kind::PitchBend:
            axis.controller = kSelectPitchBend;
            break;
        case Kind::Note:
            why =
                "An axis cannot play notes: move a control that sends a controller, an NRPN or "
                "pitch bend.";
            return false;
        case Kind::ProgramChange:
            why =
                "An axis cannot send program changes: move a control that sends a controller, "
                "an NRPN or pitch bend.";
            return false;
        case Kind::None:
            why = "Nothing arrived.";
            return false;
    }
    axis.channel = r.channel;
    return true;
}

bool ApplyLearnedToButton(const platform::MidiLearnClassifier::Result& r, ButtonRecord& button,
                          std::string& why) {
    switch (r.kind) {
        case Kind::Note:
            button.mode = MODE_NOTE;
            button.data1 = r.number;
            button.data2 = r.velocity;
            break;
        case Kind::ProgramChange:
            button.mode = MODE_PROGRAM_CHANGE;
            button.data1 = r.number;
            break;
        case Kind::ControlChange:
            if (r.number >= platform::midi::kSustain && r.number <= platform::midi::kSoftPedal) {
                button.mode = MODE_SUSTAIN + (r.number - platform::midi::kSustain);
                break;
            }
            [[fallthrough]];
        default:
            why =
                "A button cannot send that: press a key or pad (a note), a pedal (controllers 64 "
                "to 67) or a program change.";
            return false;
    }
    button.channel = r.channel;
    return true;
}
