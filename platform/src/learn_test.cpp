#include "platform/learn.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "platform/midi.h"

namespace platform {
namespace {

using State = ControlLearner::State;

// A controller with six axes as a player leaves it: two sticks that never sit still (±3 %),
// a trigger resting at its low end, one axis drifting by 0.5 % a second, and two quiet ones.
// One axis may be moved: from moveAtMs it travels to an end in rampMs and is held there.
class ScriptedStick {
  public:
    static constexpr int kAxes = 6;
    static constexpr double kSpan = 65535.0;
    static constexpr int kNoisy1 = 0;
    static constexpr int kNoisy2 = 1;
    static constexpr int kTrigger = 2;
    static constexpr int kDrifting = 3;

    explicit ScriptedStick(unsigned seed) : random_(seed) {}

    void Move(int axis, int direction, std::uint64_t atMs, std::uint64_t rampMs) {
        moved_ = axis;
        direction_ = direction;
        moveAtMs_ = atMs;
        rampMs_ = rampMs;
    }

    // Where an axis rests, and where it is at a time without its noise.
    double Rest(int axis) const { return axis == kTrigger ? 0.0 : kSpan / 2; }
    double Position(int axis, std::uint64_t ms) const {
        double p = Rest(axis);
        if (axis == kDrifting) {
            p += 0.005 * kSpan * static_cast<double>(ms) / 1000.0;
        }
        if (axis == moved_ && ms > moveAtMs_) {
            const double t = std::min(1.0, static_cast<double>(ms - moveAtMs_) / rampMs_);
            const double reach = direction_ > 0 ? kSpan - Rest(axis) : Rest(axis);
            p += direction_ * t * reach * 0.95;
        }
        return p;
    }

    std::array<std::int32_t, kAxes> Read(std::uint64_t ms) {
        std::array<std::int32_t, kAxes> axes{};
        for (int a = 0; a < kAxes; ++a) {
            double v = Position(a, ms);
            if (a == kNoisy1 || a == kNoisy2) {
                v += std::uniform_real_distribution<double>(-0.03, 0.03)(random_) * kSpan;
            } else {
                v += std::uniform_real_distribution<double>(-20, 20)(random_);  // ADC jitter
            }
            axes[a] = static_cast<std::int32_t>(std::clamp(v, 0.0, kSpan));
        }
        return axes;
    }

  private:
    std::mt19937 random_;
    int moved_ = -1;
    int direction_ = 1;
    std::uint64_t moveAtMs_ = 0;
    std::uint64_t rampMs_ = 1;
};

std::array<ControlLearner::Range, ScriptedStick::kAxes> FullRanges() {
    std::array<ControlLearner::Range, ScriptedStick::kAxes> ranges{};
    ranges.fill({0, 65535});
    return ranges;
}

TEST(ControlLearner, PicksTheMovedAxisAmongNoiseTriggerAndDriftEveryTime) {
    const auto ranges = FullRanges();
    for (int trial = 0; trial < 10; ++trial) {
        SCOPED_TRACE(trial);
        std::mt19937 pick(1000 + trial);
        const int moved = trial % ScriptedStick::kAxes;
        const int direction = moved == ScriptedStick::kTrigger
                                  ? 1
                                  : (std::uniform_int_distribution(0, 1)(pick) ? 1 : -1);
        const std::uint64_t moveAt = std::uniform_int_distribution<std::uint64_t>(300, 3000)(pick);
        const std::uint64_t ramp = std::uniform_int_distribution<std::uint64_t>(80, 400)(pick);
        ScriptedStick stick(trial);
        stick.Move(moved, direction, moveAt, ramp);

        ControlLearner learner;
        learner.Start(ranges, 0);
        std::uint64_t crossedAt = 0;
        std::uint64_t ms = 0;
        for (; ms <= 12000 && learner.GetState() == State::Listening; ms += 8) {
            if (crossedAt == 0 && std::abs(stick.Position(moved, ms) - stick.Rest(moved)) >
                                      0.25 * ScriptedStick::kSpan) {
                crossedAt = ms;
            }
            const auto axes = stick.Read(ms);
            learner.Feed(ms, axes, 0);
        }
        ASSERT_EQ(learner.GetState(), State::Chosen);
        const auto& choice = learner.Chosen();
        EXPECT_EQ(choice.kind, ControlLearner::Kind::Axis);
        EXPECT_EQ(choice.index, moved);
        EXPECT_EQ(choice.direction, direction);
        EXPECT_EQ(choice.rest, moved == ScriptedStick::kTrigger ? ControlLearner::Rest::Low
                                                                : ControlLearner::Rest::Centre);
        ASSERT_NE(crossedAt, 0u);
        const std::uint64_t pickedAt = ms - 8;
        EXPECT_LE(pickedAt, crossedAt + 300);
        EXPECT_GE(pickedAt + 8, crossedAt);  // never before the move was made
    }
}

TEST(ControlLearner, HandsOffForThirtySecondsPicksNothingAndSaysSoEveryTenSeconds) {
    const auto ranges = FullRanges();
    ScriptedStick stick(7);
    ControlLearner learner;
    learner.Start(ranges, 0);
    int timeouts = 0;
    for (std::uint64_t ms = 0; ms <= 30000; ms += 5) {
        const auto axes = stick.Read(ms);
        const State s = learner.Feed(ms, axes, 0);
        ASSERT_NE(s, State::Chosen) << "at " << ms << " ms, axis " << learner.Chosen().index;
        if (s == State::TimedOut) {
            EXPECT_EQ(ms % 10000, 0u);
            ++timeouts;
            learner.Start(ranges, ms);  // the player tries again, still without touching it
        }
    }
    EXPECT_EQ(timeouts, 3);
}

TEST(ControlLearner, TwoAxesMovedTogetherAreNoClearWinnerUntilOneLeads) {
    const std::array<ControlLearner::Range, 2> ranges{{{0, 127}, {0, 127}}};
    ControlLearner learner;
    learner.Start(ranges, 0);
    for (std::uint64_t ms = 0; ms < 200; ms += 10) {
        learner.Feed(ms, std::array<std::int32_t, 2>{64, 64}, 0);
    }
    for (std::uint64_t ms = 200; ms < 1000; ms += 10) {
        EXPECT_EQ(learner.Feed(ms, std::array<std::int32_t, 2>{120, 100}, 0), State::Listening);
    }
    // The first leads by twice the second's travel, then is held: chosen once confirmed.
    EXPECT_EQ(learner.Feed(1000, std::array<std::int32_t, 2>{10, 80}, 0), State::Listening);
    EXPECT_EQ(learner.Feed(1040, std::array<std::int32_t, 2>{10, 80}, 0), State::Chosen);
    EXPECT_EQ(learner.Chosen().index, 0);
    EXPECT_EQ(learner.Chosen().direction, -1);
    // A pedal resting at its top end, pressed down: its direction is kept.
    learner.Start(ranges, 2000);
    for (std::uint64_t ms = 2000; ms < 2200; ms += 10) {
        learner.Feed(ms, std::array<std::int32_t, 2>{127, 64}, 0);
    }
    learner.Feed(2200, std::array<std::int32_t, 2>{60, 64}, 0);
    EXPECT_EQ(learner.Feed(2240, std::array<std::int32_t, 2>{50, 64}, 0), State::Chosen);
    EXPECT_EQ(learner.Chosen().rest, ControlLearner::Rest::High);
    EXPECT_EQ(learner.Chosen().direction, -1);
}

TEST(ControlLearner, ButtonsAndTheHatChooseByTheirFirstPressAndEscapeCancels) {
    const std::array<ControlLearner::Range, 1> ranges{{{0, 127}}};
    const std::array<std::int32_t, 1> rest{64};
    ControlLearner learner;
    // Button 2 is held at the start: it counts only once let go and pressed again, so button 5,
    // pressed meanwhile, wins.
    learner.Start(ranges, 0);
    EXPECT_EQ(learner.Feed(0, rest, 0b100), State::Listening);
    EXPECT_EQ(learner.Feed(10, rest, 0b100), State::Listening);
    EXPECT_EQ(learner.Feed(20, rest, 0b100100), State::Chosen);
    EXPECT_EQ(learner.Chosen().kind, ControlLearner::Kind::Button);
    EXPECT_EQ(learner.Chosen().index, 5);
    // Once chosen, nothing changes it.
    EXPECT_EQ(learner.Feed(30, rest, 0b1), State::Chosen);
    EXPECT_EQ(learner.Chosen().index, 5);

    learner.Start(ranges, 100);
    EXPECT_EQ(learner.Feed(100, rest, 0b100), State::Listening);
    EXPECT_EQ(learner.Feed(110, rest, 0), State::Listening);
    EXPECT_EQ(learner.Feed(120, rest, 0b100), State::Chosen);
    EXPECT_EQ(learner.Chosen().index, 2);

    const std::array<std::uint32_t, 1> centred{ControlLearner::kHatCentred};
    const std::array<std::uint32_t, 1> right{9000};
    learner.Start(ranges, 200);
    EXPECT_EQ(learner.Feed(200, rest, 0, centred), State::Listening);
    EXPECT_EQ(learner.Feed(210, rest, 0, right), State::Chosen);
    EXPECT_EQ(learner.Chosen().kind, ControlLearner::Kind::Hat);
    EXPECT_EQ(learner.Chosen().hatValue, 9000u);

    learner.Start(ranges, 300);
    learner.Feed(300, rest, 0);
    learner.Cancel();
    EXPECT_EQ(learner.GetState(), State::Cancelled);
    EXPECT_EQ(learner.Feed(310, rest, 1), State::Cancelled);
    EXPECT_EQ(learner.RemainingMs(310), 0u);
}

// A state record feeds the sliders after the six axes, every button and the first hat.
TEST(ControlLearner, AStateRecordCarriesTheSlidersTheLaterButtonsAndTheHat) {
    std::array<ControlLearner::Range, kJoyAxisSlots> ranges{};
    RawJoyState state;
    state.axes[kAxisX] = state.sliders[1] = 32768;
    ControlLearner learner;
    learner.Start(ranges, 0);
    for (std::uint64_t ms = 0; ms <= 200; ms += 10) {
        EXPECT_EQ(learner.Feed(ms, state, kJoyAxisSlots), State::Listening);
    }
    state.sliders[1] = 65535;
    State s = State::Listening;
    for (std::uint64_t ms = 210; ms <= 400 && s == State::Listening; ms += 10) {
        s = learner.Feed(ms, state, kJoyAxisSlots);
    }
    ASSERT_EQ(s, State::Chosen);
    EXPECT_EQ(learner.Chosen().kind, ControlLearner::Kind::Axis);
    EXPECT_EQ(learner.Chosen().index, kSlider1);
    EXPECT_EQ(learner.Chosen().direction, 1);

    // Beyond the slots counted, a slider is not watched; button 20 is.
    state = RawJoyState{};
    learner.Start(ranges, 0);
    EXPECT_EQ(learner.Feed(0, state, 6), State::Listening);
    state.sliders[0] = 65535;
    EXPECT_EQ(learner.Feed(10, state, 6), State::Listening);
    state.buttons[19] = 0x80;
    EXPECT_EQ(learner.Feed(20, state, 6), State::Chosen);
    EXPECT_EQ(learner.Chosen().kind, ControlLearner::Kind::Button);
    EXPECT_EQ(learner.Chosen().index, 19);

    state = RawJoyState{};
    learner.Start(ranges, 0);
    EXPECT_EQ(learner.Feed(0, state, 6), State::Listening);
    state.pov[0] = 27000;
    EXPECT_EQ(learner.Feed(10, state, 6), State::Chosen);
    EXPECT_EQ(learner.Chosen().hatValue, 27000u);
}

// A recording as it arrives at the input: milliseconds and packed messages.
using Recording = std::vector<std::pair<std::uint64_t, std::uint32_t>>;

MidiLearnClassifier::Result Classify(const Recording& recording, std::uint64_t pollUntilMs) {
    MidiLearnClassifier c;
    for (const auto& [ms, message] : recording) {
        if (c.Feed(message, ms)) {
            return c.Get();
        }
    }
    for (std::uint64_t ms = recording.empty() ? 0 : recording.back().first; ms <= pollUntilMs;
         ms += 5) {
        if (c.Poll(ms)) {
            break;
        }
    }
    return c.Get();
}

using Kind = MidiLearnClassifier::Kind;

TEST(MidiLearnClassifier, ControllersAloneAndInFourteenBitPairs) {
    // A fader sending controller 7 alone, behind a clock.
    auto r = Classify({{0, 0xF8}, {3, PackShortMessage(0xB4, 7, 100)}, {10, 0xF8}}, 100);
    EXPECT_EQ(r.kind, Kind::ControlChange);
    EXPECT_EQ(r.channel, 4);
    EXPECT_EQ(r.number, 7);
    EXPECT_EQ(r.value, 100);
    // Not before its pair time has passed.
    MidiLearnClassifier waiting;
    EXPECT_FALSE(waiting.Feed(PackShortMessage(0xB0, 1, 5), 0));
    EXPECT_FALSE(waiting.Poll(20));
    EXPECT_TRUE(waiting.Poll(21));

    // Modulation in 14 bits: 1 then 33 within 20 ms, and the other way round.
    r = Classify({{0, PackShortMessage(0xB1, 1, 0x40)}, {2, PackShortMessage(0xB1, 33, 0x05)}}, 0);
    EXPECT_EQ(r.kind, Kind::ControlChange14);
    EXPECT_EQ(r.number, 1);
    EXPECT_EQ(r.channel, 1);
    EXPECT_EQ(r.value, (0x40 << 7) | 0x05);
    r = Classify({{0, PackShortMessage(0xB1, 39, 0x05)}, {20, PackShortMessage(0xB1, 7, 0x40)}}, 0);
    EXPECT_EQ(r.kind, Kind::ControlChange14);
    EXPECT_EQ(r.number, 7);
    EXPECT_EQ(r.value, (0x40 << 7) | 0x05);
    // Too late, on another channel, or another controller: the first one alone.
    for (const Recording& rec :
         {Recording{{0, PackShortMessage(0xB1, 1, 9)}, {21, PackShortMessage(0xB1, 33, 1)}},
          Recording{{0, PackShortMessage(0xB1, 1, 9)}, {2, PackShortMessage(0xB2, 33, 1)}},
          Recording{{0, PackShortMessage(0xB1, 1, 9)}, {2, PackShortMessage(0xB1, 2, 1)}}}) {
        r = Classify(rec, 0);
        EXPECT_EQ(r.kind, Kind::ControlChange);
        EXPECT_EQ(r.number, 1);
        EXPECT_EQ(r.channel, 1);
        EXPECT_EQ(r.value, 9);
    }
    // Above 63 there is no pair to wait for.
    MidiLearnClassifier at;
    EXPECT_TRUE(at.Feed(PackShortMessage(0xB0, 74, 3), 0));
    EXPECT_EQ(at.Get().number, 74);
}

TEST(MidiLearnClassifier, NrpnWithAndWithoutItsFinePartInEitherOrder) {
    const Recording coarseFirst{{0, PackShortMessage(0xB3, 99, 1)},
                                {1, PackShortMessage(0xB3, 98, 8)},
                                {2, PackShortMessage(0xB3, 6, 0x30)},
                                {3, PackShortMessage(0xB3, 38, 0x11)}};
    const Recording fineFirst{{0, PackShortMessage(0xB3, 99, 1)},
                              {1, PackShortMessage(0xB3, 98, 8)},
                              {2, PackShortMessage(0xB3, 38, 0x11)},
                              {3, PackShortMessage(0xB3, 6, 0x30)}};
    for (const Recording& rec : {coarseFirst, fineFirst}) {
        const auto r = Classify(rec, 0);
        EXPECT_EQ(r.kind, Kind::Nrpn);
        EXPECT_EQ(r.channel, 3);
        EXPECT_EQ(r.parameterMsb, 1);
        EXPECT_EQ(r.parameterLsb, 8);
        EXPECT_EQ(r.number, 136);
        EXPECT_TRUE(r.fine);
        EXPECT_EQ(r.value, (0x30 << 7) | 0x11);
    }
    // Coarse only: done once the fine part's time has passed, or when something else comes.
    const Recording coarse{{0, PackShortMessage(0xB3, 99, 1)},
                           {1, PackShortMessage(0xB3, 98, 8)},
                           {2, PackShortMessage(0xB3, 6, 0x30)}};
    auto r = Classify(coarse, 100);
    EXPECT_EQ(r.kind, Kind::Nrpn);
    EXPECT_FALSE(r.fine);
    EXPECT_EQ(r.value, 0x30);
    Recording next = coarse;
    next.push_back({4, PackShortMessage(0xB3, 99, 1)});
    r = Classify(next, 0);
    EXPECT_EQ(r.kind, Kind::Nrpn);
    EXPECT_EQ(r.number, 136);
    EXPECT_FALSE(r.fine);
    // Data entry without a parameter selected is an ordinary controller.
    r = Classify({{0, PackShortMessage(0xB3, 6, 0x30)}}, 100);
    EXPECT_EQ(r.kind, Kind::ControlChange);
    EXPECT_EQ(r.number, 6);
}

TEST(MidiLearnClassifier, PitchBendNotesAndProgramChanges) {
    auto r = Classify({{0, 0xFE}, {1, PackShortMessage(0xE2, 0x01, 0x50)}}, 0);
    EXPECT_EQ(r.kind, Kind::PitchBend);
    EXPECT_EQ(r.channel, 2);
    EXPECT_EQ(r.value, (0x50 << 7) | 0x01);
    r = Classify({{0, PackShortMessage(0xA0, 60, 3)}, {1, PackShortMessage(0x99, 38, 90)}}, 0);
    EXPECT_EQ(r.kind, Kind::Note);
    EXPECT_EQ(r.channel, 9);
    EXPECT_EQ(r.number, 38);
    EXPECT_EQ(r.velocity, 90);
    r = Classify({{0, PackShortMessage(0x80, 40, 0)}}, 0);
    EXPECT_EQ(r.kind, Kind::Note);
    EXPECT_EQ(r.number, 40);
    EXPECT_EQ(r.velocity, 127);
    r = Classify({{0, PackShortMessage(0xCF, 12)}}, 0);
    EXPECT_EQ(r.kind, Kind::ProgramChange);
    EXPECT_EQ(r.channel, 15);
    EXPECT_EQ(r.number, 12);
    // A pending controller is the answer when a note follows it.
    r = Classify({{0, PackShortMessage(0xB0, 10, 1)}, {1, PackShortMessage(0x90, 60, 1)}}, 0);
    EXPECT_EQ(r.kind, Kind::ControlChange);
    EXPECT_EQ(r.number, 10);
}

}  // namespace
}  // namespace platform
