#include "tamborex/engine/axis_shaper.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

#include "platform/midi_bytes.h"

namespace {
constexpr std::int32_t k14BitTop = 16383;
// The curves' strength 1 as an exponent: steep enough to be useful, never so steep that the
// first tenth of the travel is silent.
constexpr double kExpoScale = 6.0;
constexpr double kSScale = 4.0;
// The speed estimate of the smoothing filter is itself smoothed at this cut-off (Hz).
constexpr double kSpeedCutoff = 1.0;

double Clamp01(double x) {
    return std::clamp(x, 0.0, 1.0);
}

double Percent(double p) {
    return std::isfinite(p) ? std::clamp(p, 0.0, 100.0) / 100.0 : 0.0;
}

double Expo(double u, double k) {
    return k < 1e-6 ? u : std::expm1(k * u) / std::expm1(k);
}

double Logarithmic(double u, double k) {
    return k < 1e-6 ? u : std::log1p(u * std::expm1(k)) / k;
}

// A monotone cubic through the drawn points, with (0,0) and (1,1) added where the points stop
// short of the ends. The tangents are the weighted harmonic means of the neighbouring slopes
// (zero where the slope changes sign), which keeps every piece between its two points: the
// curve never overshoots. Each piece needs only its own neighbours, so nothing is precomputed.
double DrawnCurve(const AxisShape& shape, double x) {
    CurvePoint p[kMaxCurvePoints + 2];
    int n = 0;
    const int count = std::clamp(shape.pointCount, 0, kMaxCurvePoints);
    for (int i = 0; i < count; ++i) {
        const CurvePoint& q = shape.points[i];
        if (!std::isfinite(q.x) || !std::isfinite(q.y)) {
            continue;
        }
        const CurvePoint c{Clamp01(q.x), Clamp01(q.y)};
        // Points out of order or on top of one another are passed over.
        if (n > 0 && c.x <= p[n - 1].x) {
            continue;
        }
        if (n == 0 && c.x > 0.0) {
            p[n++] = {0.0, 0.0};
        }
        p[n++] = c;
    }
    if (n == 0) {
        return x;
    }
    if (p[n - 1].x < 1.0) {
        p[n++] = {1.0, 1.0};
    }
    if (n < 2) {
        return p[0].y;
    }
    int i = 0;
    while (i < n - 2 && x > p[i + 1].x) {
        ++i;
    }
    auto slope = [&](int k) { return (p[k + 1].y - p[k].y) / (p[k + 1].x - p[k].x); };
    auto tangent = [&](int k) {
        if (k == 0) {
            return slope(0);
        }
        if (k == n - 1) {
            return slope(n - 2);
        }
        const double d0 = slope(k - 1);
        const double d1 = slope(k);
        if (d0 * d1 <= 0.0) {
            return 0.0;
        }
        const double h0 = p[k].x - p[k - 1].x;
        const double h1 = p[k + 1].x - p[k].x;
        return 3.0 * (h0 + h1) / ((2.0 * h1 + h0) / d0 + (h1 + 2.0 * h0) / d1);
    };
    const double h = p[i + 1].x - p[i].x;
    const double t = Clamp01((x - p[i].x) / h);
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double y = (2 * t3 - 3 * t2 + 1) * p[i].y + (t3 - 2 * t2 + t) * h * tangent(i) +
                     (-2 * t3 + 3 * t2) * p[i + 1].y + (t3 - t2) * h * tangent(i + 1);
    // Rounding alone may not step outside the two points either.
    return std::clamp(y, std::min(p[i].y, p[i + 1].y), std::max(p[i].y, p[i + 1].y));
}
}  // namespace

std::int64_t SteadyNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

AxisOutputRange OutputRangeOf(const AxisRecord& axis) {
    std::int64_t lo = axis.min;
    std::int64_t hi = axis.max;
    if (axis.shape.resolution == 14) {
        lo = std::clamp<std::int64_t>(lo, 0, 127) * 128;
        hi = hi >= 127 ? k14BitTop : std::clamp<std::int64_t>(hi, 0, 127) * 128;
    }
    if (hi < lo) {
        std::swap(lo, hi);
    }
    return {static_cast<std::int32_t>(lo), static_cast<std::int32_t>(lo + (hi - lo + 1) / 2),
            static_cast<std::int32_t>(hi)};
}

DeviceRange DeviceRangeOf(const AxisRecord& axis) {
    if (IsShaped(axis)) {
        return {0, kAxisRawMax};
    }
    return {axis.min, axis.max};
}

bool IsCentred(const AxisCalibration& c) {
    return c.centre > c.min && c.centre < c.max;
}

double CalibratedPosition(const AxisCalibration& c, std::int32_t raw) {
    if (c.max <= c.min) {
        return raw >= c.max ? 1.0 : 0.0;
    }
    const double v = std::clamp(raw, c.min, c.max);
    if (!IsCentred(c)) {
        return (v - c.min) / (static_cast<double>(c.max) - c.min);
    }
    if (v <= c.centre) {
        return 0.5 * (v - c.min) / (static_cast<double>(c.centre) - c.min);
    }
    return 0.5 + 0.5 * (v - c.centre) / (static_cast<double>(c.max) - c.centre);
}

double ApplyDeadZones(const AxisShape& shape, bool centred, double x) {
    double low = Percent(shape.deadZone[DEAD_LOW_END]);
    double high = Percent(shape.deadZone[DEAD_HIGH_END]);
    if (!centred) {
        high = std::min(high, 1.0 - low);
        if (x <= low) {
            return 0.0;
        }
        if (x >= 1.0 - high) {
            return 1.0;
        }
        return (x - low) / (1.0 - high - low);
    }
    const double centreLow = std::min(Percent(shape.deadZone[DEAD_CENTRE_LOW]), 0.5);
    const double centreHigh = std::min(Percent(shape.deadZone[DEAD_CENTRE_HIGH]), 0.5);
    low = std::min(low, 0.5 - centreLow);
    high = std::min(high, 0.5 - centreHigh);
    if (x <= low) {
        return 0.0;
    }
    if (x >= 1.0 - high) {
        return 1.0;
    }
    if (x < 0.5 - centreLow) {
        return 0.5 * (x - low) / (0.5 - centreLow - low);
    }
    if (x > 0.5 + centreHigh) {
        return 0.5 + 0.5 * (x - 0.5 - centreHigh) / (0.5 - high - centreHigh);
    }
    return 0.5;
}

double ApplyCurve(const AxisShape& shape, bool centred, double x) {
    const double strength = std::isfinite(shape.strength) ? Clamp01(shape.strength) : 0.0;
    // On a centred stick the exponential and logarithmic curves bend each half away from the
    // centre, as a player means by "expo"; on a trigger they bend the whole travel.
    auto halves = [&](double (*curve)(double, double), double k) {
        if (!centred) {
            return curve(x, k);
        }
        const double d = 2.0 * x - 1.0;
        const double bent = curve(std::fabs(d), k);
        return 0.5 + 0.5 * (d < 0 ? -bent : bent);
    };
    switch (shape.curve) {
        case CurveKind::Linear:
            return x;
        case CurveKind::Exponential:
            return halves(Expo, kExpoScale * strength);
        case CurveKind::Logarithmic:
            return halves(Logarithmic, kExpoScale * strength);
        case CurveKind::S: {
            const double k = kSScale * strength;
            return k < 1e-6 ? x : 0.5 + 0.5 * std::tanh(k * (2.0 * x - 1.0)) / std::tanh(k);
        }
        case CurveKind::Points:
            return DrawnCurve(shape, x);
    }
    return x;
}

double ShapedFraction(const AxisShape& shape, std::int32_t raw) {
    const bool centred = IsCentred(shape.calibration);
    double x = CalibratedPosition(shape.calibration, raw);
    x = ApplyDeadZones(shape, centred, x);
    if (shape.invert) {
        x = 1.0 - x;
    }
    return Clamp01(ApplyCurve(shape, centred, x));
}

std::int32_t ScaleToRange(double fraction, const AxisOutputRange& range, bool centred) {
    const double f = Clamp01(fraction);
    double v;
    if (!centred) {
        v = range.lo + f * (static_cast<double>(range.hi) - range.lo);
    } else if (f <= 0.5) {
        v = range.lo + 2.0 * f * (static_cast<double>(range.mid) - range.lo);
    } else {
        v = range.mid + (2.0 * f - 1.0) * (static_cast<double>(range.hi) - range.mid);
    }
    return static_cast<std::int32_t>(std::clamp<double>(std::floor(v + 0.5), range.lo, range.hi));
}

std::int32_t CAxisShaper::Shape(const AxisRecord& axis, std::int32_t raw, std::int64_t timeUs,
                                std::int64_t periodUs) {
    const AxisShape& shape = axis.shape;
    const bool centred = IsCentred(shape.calibration);
    const AxisOutputRange range = OutputRangeOf(axis);
    const double target = ShapedFraction(shape, raw);
    const double minCutoff = shape.smoothing.minCutoff;
    if (!(minCutoff > 0.0) || !std::isfinite(minCutoff)) {
        primed_ = settling_ = false;
        return ScaleToRange(target, range, centred);
    }
    if (raw == raw_ && timeUs <= timeUs_) {
        timeUs = timeUs_ + std::max<std::int64_t>(periodUs, 1000);
    }
    raw_ = raw;
    if (!primed_) {
        // The first reading is taken as it is: smoothing starts from where the stick is, not
        // from some earlier value, so turning it on never makes the output jump.
        primed_ = true;
        filtered_ = target;
        speed_ = 0.0;
        timeUs_ = timeUs;
        settling_ = false;
        return ScaleToRange(target, range, centred);
    }
    // A time going backwards (a clock reset, another controller) counts as one millisecond.
    const double dt = timeUs > timeUs_ ? double(timeUs - timeUs_) * 1e-6 : 1e-3;
    timeUs_ = std::max(timeUs, timeUs_);
    auto alpha = [dt](double cutoff) {
        const double tau = 1.0 / (2.0 * std::numbers::pi * cutoff);
        return 1.0 / (1.0 + tau / dt);
    };
    const double speed = (target - filtered_) / dt;
    speed_ += alpha(kSpeedCutoff) * (speed - speed_);
    const double beta =
        std::isfinite(shape.smoothing.beta) ? std::max(shape.smoothing.beta, 0.0) : 0.0;
    filtered_ += alpha(minCutoff + beta * std::fabs(speed_)) * (target - filtered_);
    const std::int32_t value = ScaleToRange(filtered_, range, centred);
    settling_ = value != ScaleToRange(target, range, centred);
    if (!settling_) {
        filtered_ = target;
    }
    return value;
}

bool CAxisShaper::Passes(std::int32_t lastSent, std::int32_t value, std::int32_t steps) const {
    const std::int64_t change = std::int64_t{value} - lastSent;
    const int direction = change > 0 ? 1 : (change < 0 ? -1 : 0);
    if (direction == 0 || direction_ == 0 || direction == direction_) {
        return true;
    }
    return std::llabs(change) >= std::llabs(std::int64_t{steps});
}

void CAxisShaper::Note(std::int32_t lastSent, std::int32_t value) {
    if (value != lastSent) {
        direction_ = value > lastSent ? 1 : -1;
    }
}

void CAxisShaper::Reset() {
    *this = CAxisShaper{};
}

namespace {
std::uint32_t Pack(std::int32_t status, std::int32_t data1, std::int32_t data2) {
    return static_cast<std::uint32_t>(status & 0xFF) |
           (static_cast<std::uint32_t>(std::clamp(data1, 0, 127)) << 8) |
           (static_cast<std::uint32_t>(std::clamp(data2, 0, 127)) << 16);
}

// 120..127 are channel mode messages (All Sound Off, All Notes Off, Omni, Mono, Poly).
constexpr std::int32_t kFirstChannelModeController = 120;
}  // namespace

int WideAxisMessages(const AxisRecord& axis, std::int32_t value, std::int32_t lastMsb,
                     std::uint32_t (&out)[kMaxAxisMessages]) {
    namespace midi = platform::midi;
    const std::int32_t v = std::clamp(value, 0, k14BitTop);
    const std::int32_t msb = v >> 7;
    const std::int32_t lsb = v & 0x7F;
    const std::int32_t cc = midi::kControlChange + std::clamp(axis.channel, 0, 15);
    int n = 0;
    switch (axis.controller) {
        case kSelectNone:
            return 0;
        case kSelectPitchBend:
            out[n++] = Pack(midi::kPitchBend + std::clamp(axis.channel, 0, 15), lsb, msb);
            return n;
        case kSelectNrpnFine:
        case kSelectNrpnCoarse:
            out[n++] = Pack(cc, midi::kNrpnMsb, axis.nrpnMsb);
            out[n++] = Pack(cc, midi::kNrpnLsb, axis.nrpnLsb);
            out[n++] = Pack(cc, midi::kDataEntryMsb, msb);
            out[n++] = Pack(cc, midi::kDataEntryLsb, lsb);
            if (axis.shape.nrpnNull) {
                out[n++] = Pack(cc, midi::kRpnMsb, midi::kParameterNull);
                out[n++] = Pack(cc, midi::kRpnLsb, midi::kParameterNull);
            }
            return n;
        default:
            break;
    }
    const std::int32_t controller = std::clamp(ControllerOfSelection(axis.controller), 0, 127);
    // Only controllers 0..31 have a fine half at n + 32: past them n + 32 lands on pedals, the
    // parameter selectors or, from 88 on, the channel mode messages (91, reverb, would send All
    // Notes Off), so those send their coarse half alone unless a second controller is picked.
    // A channel mode message is never sent as a fine half, picked or not.
    const std::int32_t lsbController =
        axis.shape.lsbController >= 0 && axis.shape.lsbController <= 127
            ? axis.shape.lsbController
            : (controller < midi::kLsbOffset ? controller + midi::kLsbOffset : -1);
    const bool hasLsb = lsbController >= 0 && lsbController < kFirstChannelModeController &&
                        lsbController != controller;
    if (!hasLsb || !axis.shape.lsbOnlyWhenMsbUnchanged || msb != lastMsb) {
        out[n++] = Pack(cc, controller, msb);
    }
    if (hasLsb) {
        out[n++] = Pack(cc, lsbController, lsb);
    }
    return n;
}

void CAxisCalibrator::Start() {
    running_ = true;
    seen_ = false;
    seenMin = seenMax = last = 0;
}

void CAxisCalibrator::Feed(std::int32_t raw) {
    if (!running_) {
        return;
    }
    raw = std::clamp(raw, 0, kAxisRawMax);
    if (!seen_) {
        seen_ = true;
        seenMin = seenMax = raw;
    }
    seenMin = std::min(seenMin, raw);
    seenMax = std::max(seenMax, raw);
    last = raw;
}

bool CAxisCalibrator::Finish(AxisCalibration& calibration) {
    const bool wasRunning = running_;
    running_ = false;
    constexpr std::int32_t kLeastTravel = kAxisRawMax / 10;
    if (!wasRunning || !seen_ || seenMax - seenMin < kLeastTravel) {
        return false;
    }
    const std::int32_t margin = (seenMax - seenMin) / 10;
    std::int32_t centre = last;
    if (centre - seenMin <= margin) {
        centre = seenMin;
    } else if (seenMax - centre <= margin) {
        centre = seenMax;
    }
    calibration = {seenMin, centre, seenMax};
    return true;
}
