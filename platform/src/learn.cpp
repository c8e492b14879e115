#include "platform/learn.h"

#include <algorithm>
#include <cmath>

namespace platform {

// --- ControlLearner

void ControlLearner::Start(std::span<const Range> ranges, std::uint64_t nowMs) {
    axisCount_ = static_cast<int>(std::min<std::size_t>(ranges.size(), kMaxAxes));
    for (int a = 0; a < axisCount_; ++a) {
        axes_[a] = Axis{};
        axes_[a].range = ranges[a];
    }
    state_ = State::Listening;
    startMs_ = nowMs;
    calibrated_ = false;
    heldAtStart_ = 0;
    hatHeldAtStart_ = {};
    firstReading_ = true;
    leader_ = -1;
    choice_ = Choice{};
}

void ControlLearner::Cancel() {
    if (state_ == State::Listening) {
        state_ = State::Cancelled;
    }
}

std::uint32_t ControlLearner::RemainingMs(std::uint64_t nowMs) const {
    if (state_ != State::Listening) {
        return 0;
    }
    const std::uint64_t passed = nowMs > startMs_ ? nowMs - startMs_ : 0;
    return passed >= kTimeoutMs ? 0 : static_cast<std::uint32_t>(kTimeoutMs - passed);
}

ControlLearner::State ControlLearner::Choose(const Choice& choice) {
    choice_ = choice;
    state_ = State::Chosen;
    return state_;
}

void ControlLearner::Settle() {
    for (int a = 0; a < axisCount_; ++a) {
        Axis& axis = axes_[a];
        if (axis.samples > 0) {
            axis.rest = axis.sum / axis.samples;
            axis.noise = (static_cast<double>(axis.high) - axis.low) / 2.0;
        }
    }
    calibrated_ = true;
}

ControlLearner::State ControlLearner::Feed(std::uint64_t nowMs, const RawJoyState& state,
                                           int axisCount) {
    std::array<std::int32_t, kMaxAxes> axes{};
    const int count = std::clamp(axisCount, 0, kMaxAxes);
    for (int a = 0; a < count; ++a) {
        axes[a] = a < 6 ? state.axes[a] : state.sliders[a - 6];
    }
    std::uint32_t buttons = 0;
    for (int b = 0; b < kJoyButtons; ++b) {
        buttons |= (state.buttons[b] & 0x80) != 0 ? 1u << b : 0u;
    }
    const std::array<std::uint32_t, 1> hat{state.pov[0]};
    return Feed(nowMs, std::span<const std::int32_t>(axes.data(), count), buttons, hat);
}

ControlLearner::State ControlLearner::Feed(std::uint64_t nowMs, std::span<const std::int32_t> axes,
                                           std::uint32_t buttons,
                                           std::span<const std::uint32_t> hats) {
    if (state_ != State::Listening) {
        return state_;
    }
    const int hatCount = static_cast<int>(std::min(hats.size(), hatHeldAtStart_.size()));
    if (firstReading_) {
        // What is already held when learning starts is not a choice: it must be pressed anew.
        firstReading_ = false;
        heldAtStart_ = buttons;
        for (int h = 0; h < hatCount; ++h) {
            hatHeldAtStart_[h] = hats[h] != kHatCentred;
        }
    }
    heldAtStart_ &= buttons;
    if (const std::uint32_t pressed = buttons & ~heldAtStart_; pressed != 0) {
        Choice c;
        c.kind = Kind::Button;
        for (c.index = 0; (pressed & (1u << c.index)) == 0; ++c.index) {
        }
        return Choose(c);
    }
    for (int h = 0; h < hatCount; ++h) {
        if (hats[h] == kHatCentred) {
            hatHeldAtStart_[h] = false;
        } else if (!hatHeldAtStart_[h]) {
            Choice c;
            c.kind = Kind::Hat;
            c.index = h;
            c.hatValue = hats[h];
            return Choose(c);
        }
    }

    const int count = std::min(axisCount_, static_cast<int>(axes.size()));
    if (nowMs - startMs_ < kNoiseWindowMs || !calibrated_) {
        for (int a = 0; a < count; ++a) {
            Axis& axis = axes_[a];
            axis.low = axis.samples == 0 ? axes[a] : std::min(axis.low, axes[a]);
            axis.high = axis.samples == 0 ? axes[a] : std::max(axis.high, axes[a]);
            axis.sum += axes[a];
            ++axis.samples;
        }
        if (nowMs - startMs_ < kNoiseWindowMs) {
            return state_;
        }
        Settle();
    }

    // The axis that travelled furthest from its rest, and how far the next one did.
    int best = -1;
    double bestTravel = 0;
    double secondTravel = 0;
    for (int a = 0; a < count; ++a) {
        const double travel = std::fabs(axes[a] - axes_[a].rest);
        if (best < 0 || travel > bestTravel) {
            secondTravel = best < 0 ? 0 : bestTravel;
            bestTravel = travel;
            best = a;
        } else {
            secondTravel = std::max(secondTravel, travel);
        }
    }
    bool clear = false;
    if (best >= 0) {
        const Axis& axis = axes_[best];
        const double span = static_cast<double>(axis.range.max) - axis.range.min;
        clear = span > 0 && bestTravel > kTravelFraction * span &&
                bestTravel > kNoiseFactor * axis.noise && bestTravel >= kDominance * secondTravel;
    }
    if (!clear) {
        leader_ = -1;
    } else if (leader_ != best) {
        leader_ = best;
        leaderSinceMs_ = nowMs;
    }
    if (clear && nowMs - leaderSinceMs_ >= kConfirmMs) {
        const Axis& axis = axes_[best];
        const double span = static_cast<double>(axis.range.max) - axis.range.min;
        Choice c;
        c.kind = Kind::Axis;
        c.index = best;
        c.direction = axes[best] >= axis.rest ? 1 : -1;
        c.rest = axis.rest <= axis.range.min + kEndZone * span   ? Rest::Low
                 : axis.rest >= axis.range.max - kEndZone * span ? Rest::High
                                                                 : Rest::Centre;
        return Choose(c);
    }
    if (nowMs - startMs_ >= kTimeoutMs) {
        state_ = State::TimedOut;
    }
    return state_;
}

// --- MidiLearnClassifier

namespace {
constexpr int kNrpnMsb = 99;
constexpr int kNrpnLsb = 98;
constexpr int kDataEntryMsb = 6;
constexpr int kDataEntryLsb = 38;
constexpr int kPairedControllers = 64;  // 0..31 and their fine parts 32..63
}  // namespace

void MidiLearnClassifier::Reset() {
    *this = MidiLearnClassifier{};
}

// The NRPN selected on nrpnChannel_ by 99 and 98, with its data entry.
void MidiLearnClassifier::FinishNrpn(int value, bool fine) {
    Finish({.kind = Kind::Nrpn,
            .channel = nrpnChannel_,
            .number = nrpnMsb_ * 128 + nrpnLsb_,
            .value = value,
            .fine = fine,
            .parameterMsb = nrpnMsb_,
            .parameterLsb = nrpnLsb_});
}

bool MidiLearnClassifier::Poll(std::uint64_t nowMs) {
    if (Done()) {
        return true;
    }
    if (pending_ && nowMs - pendingMs_ > kPairMs) {
        pending_ = false;
        Finish({.kind = Kind::ControlChange,
                .channel = pendingChannel_,
                .number = pendingController_,
                .value = pendingValue_});
    } else if (dataMsb_ >= 0 && dataLsb_ < 0 && nowMs - dataMs_ > kPairMs) {
        FinishNrpn(dataMsb_, false);
    }
    return Done();
}

bool MidiLearnClassifier::Feed(std::uint32_t message, std::uint64_t nowMs) {
    if (Poll(nowMs)) {
        return true;
    }
    const int status = static_cast<int>(message & 0xFF);
    if (status < 0x80 || status >= 0xF0) {
        return false;  // clock, active sensing and the rest name no target
    }
    const int kind = status & 0xF0;
    const int channel = status & 0x0F;
    if (kind != 0xB0 && kind != 0xA0 && kind != 0xD0 && (pending_ || dataMsb_ >= 0)) {
        // A controller was waiting for its other half and something else came: it was alone.
        return Poll(std::max(pendingMs_, dataMs_) + kPairMs + 1);
    }
    const int data1 = static_cast<int>((message >> 8) & 0x7F);
    const int data2 = static_cast<int>((message >> 16) & 0x7F);
    Result r;
    r.channel = channel;
    switch (kind) {
        case 0x90:
        case 0x80:
            r.kind = Kind::Note;
            r.number = data1;
            // A note off (or a note on at velocity 0) names the note but no velocity to play it
            // with: the loudest is taken rather than a silent one.
            r.velocity = kind == 0x90 && data2 > 0 ? data2 : 127;
            r.value = r.velocity;
            Finish(r);
            break;
        case 0xC0:
            r.kind = Kind::ProgramChange;
            r.number = data1;
            Finish(r);
            break;
        case 0xE0:
            r.kind = Kind::PitchBend;
            r.value = data1 | (data2 << 7);
            Finish(r);
            break;
        case 0xB0:
            FeedControlChange(channel, data1, data2, nowMs);
            break;
        default:
            break;  // pressure names no target either
    }
    return Done();
}

void MidiLearnClassifier::FeedControlChange(int channel, int controller, int value,
                                            std::uint64_t nowMs) {
    // The second half of a 14-bit pair.
    if (pending_) {
        const int partner =
            pendingController_ < 32 ? pendingController_ + 32 : pendingController_ - 32;
        pending_ = false;
        if (channel == pendingChannel_ && controller == partner && nowMs - pendingMs_ <= kPairMs) {
            const int msb = pendingController_ < 32 ? pendingValue_ : value;
            const int lsb = pendingController_ < 32 ? value : pendingValue_;
            Finish({.kind = Kind::ControlChange14,
                    .channel = channel,
                    .number = std::min(controller, pendingController_),
                    .value = (msb << 7) | lsb});
            return;
        }
        // Something else came first: the waiting controller was the one meant.
        Finish({.kind = Kind::ControlChange,
                .channel = pendingChannel_,
                .number = pendingController_,
                .value = pendingValue_});
        return;
    }

    // An NRPN's coarse data entry came, and now something other than its fine part: it had
    // none.
    if (dataMsb_ >= 0 && dataLsb_ < 0 &&
        !(channel == nrpnChannel_ && controller == kDataEntryLsb)) {
        Poll(dataMs_ + kPairMs + 1);
        return;
    }
    // An NRPN: its number in 99 and 98, then data entry 6, with or without 38, in either order.
    if (controller == kNrpnMsb || controller == kNrpnLsb) {
        if (nrpnChannel_ != channel) {
            nrpnChannel_ = channel;
            nrpnMsb_ = nrpnLsb_ = dataMsb_ = dataLsb_ = -1;
        }
        (controller == kNrpnMsb ? nrpnMsb_ : nrpnLsb_) = value;
        return;
    }
    const bool selecting = nrpnChannel_ == channel && nrpnMsb_ >= 0 && nrpnLsb_ >= 0;
    if (selecting && (controller == kDataEntryMsb || controller == kDataEntryLsb)) {
        if (controller == kDataEntryMsb) {
            dataMsb_ = value;
            dataMs_ = nowMs;
        } else {
            dataLsb_ = value;
        }
        if (dataMsb_ >= 0 && dataLsb_ >= 0) {
            FinishNrpn((dataMsb_ << 7) | dataLsb_, true);
        }
        return;
    }
    nrpnChannel_ = nrpnMsb_ = nrpnLsb_ = dataMsb_ = dataLsb_ = -1;

    if (controller < kPairedControllers) {
        pending_ = true;
        pendingChannel_ = channel;
        pendingController_ = controller;
        pendingValue_ = value;
        pendingMs_ = nowMs;
        return;
    }
    Finish({.kind = Kind::ControlChange, .channel = channel, .number = controller, .value = value});
}

}  // namespace platform
