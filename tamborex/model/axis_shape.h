#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// How one axis is shaped between the controller and the message it sends: calibration, dead
// zones, invert, curve, smoothing, hysteresis and the output's resolution. The defaults shape
// nothing: an axis with them behaves exactly as one without shaping, scaled by the joystick
// device into min..max and sent in 7 bits.
//
// Positions here are on the 16-bit axis, 0 to 65535 (SDL's -32768..32767 plus 32768); curve
// points and the curve's input and output are fractions of the travel, 0 to 1.

inline constexpr std::int32_t kAxisRawMax = 65535;
inline constexpr std::int32_t kAxisRawCentre = 32768;
inline constexpr int kMaxCurvePoints = 16;
inline constexpr int kDeadZoneCount = 4;

// The curve kinds, numbered as they are stored.
enum class CurveKind : std::int32_t { Linear, Exponential, Logarithmic, S, Points };
inline constexpr int kCurveKindCount = 5;

// Index into AxisShape::deadZone.
enum DeadZoneIndex : int { DEAD_LOW_END, DEAD_CENTRE_LOW, DEAD_CENTRE_HIGH, DEAD_HIGH_END };

// One point of a drawn curve: input x and output y, each 0 to 1.
struct CurvePoint {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const CurvePoint&) const = default;
};

// The raw positions the player's stick reaches: its two ends and where it rests.
struct AxisCalibration {
    std::int32_t min = 0;
    std::int32_t centre = kAxisRawCentre;
    std::int32_t max = kAxisRawMax;
    bool operator==(const AxisCalibration&) const = default;
};

// A One-Euro filter: a low cut-off (Hz) while the stick moves slowly, rising by beta times the
// speed (travel per second) as it moves faster. A cut-off of 0 is no smoothing.
struct AxisSmoothing {
    double minCutoff = 0.0;
    double beta = 0.0;
    bool operator==(const AxisSmoothing&) const = default;
};

// What ticking "Smoothing" in the Axis options starts from, and what the soft-centre preset
// uses. A stick held with a jitter of a percent of its travel is calmed, and a throw from one end
// to the other reaches its end on the very pass that reads it: the speed of a throw opens the
// filter at once, while a jitter's, which changes sign at every reading, averages out.
inline constexpr AxisSmoothing kDefaultSmoothing{1.0, 1000.0};

struct AxisShape {
    // A centre at min or max is an axis that rests at that end (a trigger, a throttle): its
    // travel is one span, and the centre dead zones do not apply.
    AxisCalibration calibration;
    // Percent of travel, by DeadZoneIndex: low end, centre low, centre high, high end.
    std::array<double, kDeadZoneCount> deadZone{};
    bool invert = false;
    CurveKind curve = CurveKind::Linear;
    // 0 (straight) to 1 (strongest) for the exponential, logarithmic and S curves.
    double strength = 0.0;
    // The drawn curve's points, pointCount of them in use, x rising; (0,0) and (1,1) are implied
    // when the first and last points do not reach the ends.
    std::array<CurvePoint, kMaxCurvePoints> points{};
    std::int32_t pointCount = 0;
    AxisSmoothing smoothing;
    // A change back by fewer than this many output steps is not sent.
    std::int32_t hysteresis = 0;
    // 7: one data byte, as every axis sends without shaping. 14: a controller pair (MSB on the
    // axis's controller, LSB on lsbController), NRPN data entry 6 then 38, or pitch bend in full.
    std::int32_t resolution = 7;
    // The LSB's controller; -1 is the axis's controller + 32.
    std::int32_t lsbController = -1;
    // With 14 bits, a move that leaves the MSB as it was sends the LSB alone.
    bool lsbOnlyWhenMsbUnchanged = false;
    // After each NRPN value, the null parameter (101 and 100 = 127) so later data entry changes
    // nothing.
    bool nrpnNull = false;

    bool operator==(const AxisShape&) const = default;
};

// True when the shape changes nothing: the joystick device scales the axis into min..max and
// the engine sends it in 7 bits, as without shaping. Runtime-free, so the storage can leave a
// default shape out of the file.
bool IsDefaultShape(const AxisShape& shape);

// The presets of the Axis options: each sets the dead zones, the curve, the smoothing and the
// hysteresis, keeping the calibration's ends and the output settings. Trigger also moves the
// calibrated centre to the minimum: a trigger rests at one end and has no centre.
enum class ShapePreset { Linear, SoftCentre, HardCentre, Trigger };
void ApplyShapePreset(AxisShape& shape, ShapePreset preset);

// The curve's name as patches written as text spell it: "linear", "exponential", "logarithmic",
// "s", "points"; and back, false for any other name.
const char* CurveKindName(CurveKind kind);
bool CurveKindFromName(std::string_view name, CurveKind& kind);
