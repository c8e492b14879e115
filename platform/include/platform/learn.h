#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/joystick.h"

namespace platform {

// Learning which control the player means by watching them move it. Both programs feed it the
// controller's state at their own pace, with their own clock; it keeps no thread and no timer.
//
// An axis is chosen only for a real gesture: each axis' noise is measured over the first
// kNoiseWindowMs, and the winner must travel from where it rested past a quarter of its range,
// past kNoiseFactor times its own noise, and at least kDominance times as far as any other axis,
// for kConfirmMs. A noisy stick, a trigger resting at an end and a slow drift never win alone.
// A button or the hat is chosen by its first press (one already held at the start counts once it
// is let go and pressed again). With no clear winner in kTimeoutMs the learn gives up.
class ControlLearner {
  public:
    static constexpr int kMaxAxes = 8;
    static constexpr std::uint32_t kNoiseWindowMs = 150;
    static constexpr double kTravelFraction = 0.25;
    static constexpr double kNoiseFactor = 8.0;
    static constexpr double kDominance = 2.0;
    static constexpr std::uint32_t kConfirmMs = 30;
    static constexpr std::uint32_t kTimeoutMs = 10000;
    static constexpr std::uint32_t kHatCentred = 0xFFFFFFFFu;
    // An axis resting within this share of its range from an end is taken as resting there.
    static constexpr double kEndZone = 0.1;

    enum class State { Idle, Listening, Chosen, TimedOut, Cancelled };
    enum class Kind { Axis, Button, Hat };
    enum class Rest { Centre, Low, High };

    struct Range {
        std::int32_t min = 0;
        std::int32_t max = 65535;
    };

    struct Choice {
        Kind kind = Kind::Axis;
        int index = -1;            // axis, button or hat number
        int direction = 0;         // axis: +1 moved towards max, -1 towards min
        Rest rest = Rest::Centre;  // axis: where it rested before the move
        std::uint32_t hatValue = kHatCentred;
    };

    // Listening from nowMs, over these axes (at most kMaxAxes; more are ignored).
    void Start(std::span<const Range> ranges, std::uint64_t nowMs);
    // One reading: the axes in the order of the ranges, button i pressed when bit i is set, the
    // hats as hundredths of a degree (kHatCentred at rest). Returns the state after it; once it
    // is no longer Listening, further readings change nothing.
    State Feed(std::uint64_t nowMs, std::span<const std::int32_t> axes, std::uint32_t buttons,
               std::span<const std::uint32_t> hats = {});
    // The same from a controller's state record: its first axisCount axis slots (the sliders
    // after the six axes), all its buttons and its first hat.
    State Feed(std::uint64_t nowMs, const RawJoyState& state, int axisCount);
    // The player gave up (Escape).
    void Cancel();

    State GetState() const { return state_; }
    const Choice& Chosen() const { return choice_; }
    // While listening: milliseconds left before it gives up.
    std::uint32_t RemainingMs(std::uint64_t nowMs) const;

  private:
    struct Axis {
        Range range;
        double sum = 0;
        int samples = 0;
        std::int32_t low = 0;
        std::int32_t high = 0;
        double rest = 0;   // where it rested: the mean over the noise window
        double noise = 0;  // half its spread over the window
    };

    void Settle();
    State Choose(const Choice& choice);

    State state_ = State::Idle;
    std::array<Axis, kMaxAxes> axes_{};
    int axisCount_ = 0;
    std::uint64_t startMs_ = 0;
    bool calibrated_ = false;
    std::uint32_t heldAtStart_ = 0;  // buttons down when learning began
    std::array<bool, 4> hatHeldAtStart_{};
    bool firstReading_ = true;
    int leader_ = -1;
    std::uint64_t leaderSinceMs_ = 0;
    Choice choice_{};
};

// Learning a target from the next message arriving at a MIDI input: what kind it is and its
// numbers, to fill a mapping's fields. Feed it every incoming short message with its arrival time
// in milliseconds, and Poll it on a timer: a controller that may be the first half of a 14-bit
// pair waits kPairMs for its other half.
class MidiLearnClassifier {
  public:
    static constexpr std::uint32_t kPairMs = 20;

    enum class Kind { None, ControlChange, ControlChange14, Nrpn, PitchBend, Note, ProgramChange };

    struct Result {
        Kind kind = Kind::None;
        int channel = 0;
        int number = 0;     // controller (the MSB's for a pair), NRPN parameter (MSB x 128 + LSB),
                            // note or program
        int value = 0;      // 7 bits, or 14 for a pair, an NRPN with its fine part, or pitch bend
        int velocity = 0;   // note
        bool fine = false;  // NRPN: the data entry came with its fine part (38)
        int parameterMsb = 0;  // NRPN: controller 99's value
        int parameterLsb = 0;  // NRPN: controller 98's value
    };

    void Reset();
    // True once a result is there (then it stays until Reset).
    bool Feed(std::uint32_t message, std::uint64_t nowMs);
    // A lone controller whose pair time has passed becomes the result.
    bool Poll(std::uint64_t nowMs);
    bool Done() const { return result_.kind != Kind::None; }
    const Result& Get() const { return result_; }

  private:
    void Finish(const Result& result) { result_ = result; }
    void FinishNrpn(int value, bool fine);
    void FeedControlChange(int channel, int controller, int value, std::uint64_t nowMs);

    Result result_{};
    // A controller 0..63 waiting for its pair.
    bool pending_ = false;
    int pendingChannel_ = 0;
    int pendingController_ = 0;
    int pendingValue_ = 0;
    std::uint64_t pendingMs_ = 0;
    // An NRPN being selected: -1 for a part not yet seen.
    int nrpnChannel_ = -1;
    int nrpnMsb_ = -1;
    int nrpnLsb_ = -1;
    int dataMsb_ = -1;
    int dataLsb_ = -1;
    std::uint64_t dataMs_ = 0;
};

}  // namespace platform
