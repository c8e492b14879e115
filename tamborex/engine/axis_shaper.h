#pragma once

#include <cstdint>

#include "tamborex/model/patch.h"

// The shaping of one axis, from the 16-bit position the joystick device reports to the value
// the axis sends: calibration, dead zones, invert, curve, output range, then smoothing and
// hysteresis. An axis whose shape is the default is not shaped at all: the device scales it
// into min..max as it always has, and none of this runs.

// The values an axis's travel covers: lo at one end, mid where the stick rests (for a centred
// axis), hi at the other end. In 7 bits min..max; in 14 bits the same range with the low 7 bits
// below (min x 128 to max x 128, and 16383 at the top), so a pitch bend from 0 to 127 rests at
// exactly 8192.
struct AxisOutputRange {
    std::int32_t lo = 0;
    std::int32_t mid = 64;
    std::int32_t hi = 127;
};
AxisOutputRange OutputRangeOf(const AxisRecord& axis);

// The range the joystick device scales the axis into: min..max for an unshaped axis, the full
// 16-bit travel 0..65535 for a shaped one.
struct DeviceRange {
    std::int32_t min = 0;
    std::int32_t max = 127;
};
DeviceRange DeviceRangeOf(const AxisRecord& axis);

// Microseconds on the steady clock, the clock input times are taken on.
std::int64_t SteadyNowUs();

// Whether the axis is shaped, which also means the engine sends in 14 bits when asked.
inline bool IsShaped(const AxisRecord& axis) {
    return !IsDefaultShape(axis.shape);
}

// An axis that rests at one end of its travel (calibrated centre at min or max) has no centre:
// its travel is one span, and the centre dead zones do not apply.
bool IsCentred(const AxisCalibration& calibration);

// Each step alone, on fractions of the travel 0..1 (the Axis options graph draws with them).
double CalibratedPosition(const AxisCalibration& calibration, std::int32_t raw);
double ApplyDeadZones(const AxisShape& shape, bool centred, double x);
double ApplyCurve(const AxisShape& shape, bool centred, double x);
// Calibration, dead zones, invert and curve: where in the output range raw lands, 0..1.
double ShapedFraction(const AxisShape& shape, std::int32_t raw);
// A fraction of the output range as a value: exactly mid at 0.5 on a centred axis, exactly lo
// and hi at the ends, never decreasing.
std::int32_t ScaleToRange(double fraction, const AxisOutputRange& range, bool centred);

// One axis's runtime state between passes: the smoothing filter and the direction of the last
// change sent. Allocates nothing.
class CAxisShaper {
  public:
    // The value that raw, read at timeUs (the input's own time, microseconds on a steady clock),
    // gives after every step up to and including smoothing. A raw value that repeats without a
    // newer time is the stick held still: the filter then moves on by periodUs.
    std::int32_t Shape(const AxisRecord& axis, std::int32_t raw, std::int64_t timeUs,
                       std::int64_t periodUs);
    // The smoothing has not reached what the stick asks for yet: the axis should be shaped again
    // on the next pass even if the stick has not moved.
    bool Settling() const { return settling_; }
    // Hysteresis: whether a change from lastSent to value may go out (a change back by fewer
    // than steps output steps may not). Note records a change that went out.
    bool Passes(std::int32_t lastSent, std::int32_t value, std::int32_t steps) const;
    void Note(std::int32_t lastSent, std::int32_t value);
    // Forgets the filter and the direction (a patch loaded, a shape changed).
    void Reset();

    // The 14-bit MSB last sent, for "LSB alone when the MSB did not change"; -1 when none.
    std::int32_t lastMsb = -1;

  private:
    bool primed_ = false;
    bool settling_ = false;
    double filtered_ = 0.0;
    double speed_ = 0.0;  // filtered travel per second
    std::int64_t timeUs_ = 0;
    std::int32_t raw_ = -1;
    int direction_ = 0;
};

// The messages a 14-bit value (0..16383) sends on an axis, packed as short messages (status,
// data 1 << 8, data 2 << 16), into out; returns how many (0 for "None"). lastMsb is the MSB sent
// before, for the option that sends the LSB alone when the MSB did not change.
//   pitch bend: E0 LSB MSB;
//   NRPN: 99 = NRPN MSB, 98 = NRPN LSB, 6 = value MSB, 38 = value LSB, then with nrpnNull
//     101 = 127 and 100 = 127;
//   a controller n: n = MSB, then the LSB on lsbController (n + 32 when -1; none when that is
//     past 127).
inline constexpr int kMaxAxisMessages = 6;
int WideAxisMessages(const AxisRecord& axis, std::int32_t value, std::int32_t lastMsb,
                     std::uint32_t (&out)[kMaxAxisMessages]);

// The "Calibrate" action: while it runs, the axis's raw positions are fed in as the player moves
// the stick round; where the stick is when they stop is its centre.
class CAxisCalibrator {
  public:
    void Start();
    bool Running() const { return running_; }
    void Feed(std::int32_t raw);
    // Ends the run. With too little travel seen (less than a tenth of the axis) the calibration
    // is left as it was and false is given. A stick let go within a tenth of an end rests there
    // (a trigger): its centre is that end.
    bool Finish(AxisCalibration& calibration);

    std::int32_t seenMin = 0;
    std::int32_t seenMax = 0;
    std::int32_t last = 0;

  private:
    bool running_ = false;
    bool seen_ = false;
};
