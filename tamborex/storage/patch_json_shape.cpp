#include "tamborex/storage/patch_json_shape.h"

namespace {

namespace key = patchkey;

constexpr double kPercentMax = 100.0;
constexpr double kMaxMinCutoff = 1000.0;  // Hz
constexpr double kMaxBeta = 1.0e6;
constexpr std::int64_t kMaxHysteresis = 16383;  // a whole 14-bit range
constexpr std::int64_t kResolution7 = 7;
constexpr std::int64_t kResolution14 = 14;
constexpr std::int64_t kLsbDefault = -1;  // the axis's controller + 32

void CheckCalibration(CJsonChecker& check, const PatchJson& shape, const std::string& path,
                      AxisCalibration& calibration) {
    const PatchJson* value = check.Get(shape, path, key::kCalibration, false);
    const std::string at = JsonPathMember(path, key::kCalibration);
    if (value == nullptr ||
        !check.Object(*value, at, {key::kMin, key::kCentre, key::kMax}, "a calibration")) {
        return;
    }
    AxisCalibration c;
    bool ok = check.Int(*value, at, key::kMin, 0, kAxisRawMax, c.min, false) ||
              !value->contains(key::kMin);
    ok = (check.Int(*value, at, key::kCentre, 0, kAxisRawMax, c.centre, false) ||
          !value->contains(key::kCentre)) &&
         ok;
    ok = (check.Int(*value, at, key::kMax, 0, kAxisRawMax, c.max, false) ||
          !value->contains(key::kMax)) &&
         ok;
    if (!ok) {
        return;
    }
    if (c.min >= c.max) {
        check.Fail(JsonPathMember(at, key::kMin), "must be below max (" + std::to_string(c.min) +
                                                      " is not below " + std::to_string(c.max) +
                                                      ")");
    } else if (c.centre < c.min || c.centre > c.max) {
        check.Fail(JsonPathMember(at, key::kCentre),
                   "must lie from min to max (" + std::to_string(c.min) + " to " +
                       std::to_string(c.max) + "), not " + std::to_string(c.centre));
    } else {
        calibration = c;
    }
}

void CheckPoints(CJsonChecker& check, const PatchJson& shape, const std::string& path,
                 AxisShape& s) {
    const PatchJson* list =
        check.List(shape, path, key::kPoints, 0, kMaxCurvePoints, "points [x, y]", false);
    if (list == nullptr) {
        return;
    }
    const std::string at = JsonPathMember(path, key::kPoints);
    for (std::size_t i = 0; i < list->size(); ++i) {
        const PatchJson& point = (*list)[i];
        const std::string pointAt = JsonPathIndex(at, i);
        if (!point.is_array() || point.size() != 2) {
            check.Fail(pointAt, "must be a point [x, y], not " + DescribeJson(point));
            continue;
        }
        CurvePoint p;
        if (!check.NumberValue(point[0], JsonPathIndex(pointAt, 0), 0.0, 1.0, p.x) ||
            !check.NumberValue(point[1], JsonPathIndex(pointAt, 1), 0.0, 1.0, p.y)) {
            continue;
        }
        // The curve passes over a point out of order: it is named here instead.
        if (i > 0 && p.x <= s.points[i - 1].x) {
            check.Fail(pointAt, "must lie right of the point before it (x above " +
                                    PatchJson(s.points[i - 1].x).dump() + ")");
        }
        s.points[i] = p;
    }
    s.pointCount = static_cast<std::int32_t>(list->size());
}

}  // namespace

PatchJson ShapeJson(const AxisShape& s) {
    PatchJson shape = PatchJson::object();
    shape[key::kCalibration] = {{key::kMin, s.calibration.min},
                                {key::kCentre, s.calibration.centre},
                                {key::kMax, s.calibration.max}};
    shape[key::kDeadZone] = s.deadZone;
    shape[key::kInvert] = s.invert;
    shape[key::kCurve] = CurveKindName(s.curve);
    shape[key::kStrength] = s.strength;
    PatchJson& points = shape[key::kPoints] = PatchJson::array();
    for (int i = 0; i < std::clamp(s.pointCount, 0, kMaxCurvePoints); ++i) {
        points.push_back(PatchJson::array({s.points[i].x, s.points[i].y}));
    }
    shape[key::kSmoothing] = {{key::kMinCutoff, s.smoothing.minCutoff},
                              {key::kBeta, s.smoothing.beta}};
    shape[key::kHysteresis] = s.hysteresis;
    shape[key::kResolution] = s.resolution;
    shape[key::kLsbController] = s.lsbController;
    shape[key::kLsbOnlyWhenMsbUnchanged] = s.lsbOnlyWhenMsbUnchanged;
    shape[key::kNrpnNull] = s.nrpnNull;
    return shape;
}

void CheckShape(CJsonChecker& check, const PatchJson& value, const std::string& path,
                AxisShape& s) {
    if (!check.Object(value, path,
                      {key::kCalibration, key::kDeadZone, key::kInvert, key::kCurve, key::kStrength,
                       key::kPoints, key::kSmoothing, key::kHysteresis, key::kResolution,
                       key::kLsbController, key::kLsbOnlyWhenMsbUnchanged, key::kNrpnNull},
                      "a shape")) {
        return;
    }
    CheckCalibration(check, value, path, s.calibration);
    if (const PatchJson* zones =
            check.List(value, path, key::kDeadZone, kDeadZoneCount, kDeadZoneCount,
                       "percentages (low end, centre low, "
                       "centre high, high end)",
                       false)) {
        for (std::size_t i = 0; i < kDeadZoneCount; ++i) {
            (void)check.NumberValue((*zones)[i],
                                    JsonPathIndex(JsonPathMember(path, key::kDeadZone), i), 0.0,
                                    kPercentMax, s.deadZone[i]);
        }
    }
    (void)check.Flag(value, path, key::kInvert, s.invert, false);
    if (const PatchJson* curve = check.Get(value, path, key::kCurve, false)) {
        std::string name;
        if (check.Text(*curve, JsonPathMember(path, key::kCurve), name) &&
            !CurveKindFromName(name, s.curve)) {
            std::string kinds;
            for (int k = 0; k < kCurveKindCount; ++k) {
                kinds += std::string(k == 0 ? "" : ", ") + "\"" +
                         CurveKindName(static_cast<CurveKind>(k)) + "\"";
            }
            check.Fail(JsonPathMember(path, key::kCurve),
                       "must be one of " + kinds + ", not " + DescribeJson(*curve));
        }
    }
    (void)check.Number(value, path, key::kStrength, 0.0, 1.0, s.strength, false);
    CheckPoints(check, value, path, s);
    if (const PatchJson* smoothing = check.Get(value, path, key::kSmoothing, false)) {
        const std::string at = JsonPathMember(path, key::kSmoothing);
        if (check.Object(*smoothing, at, {key::kMinCutoff, key::kBeta}, "a smoothing")) {
            (void)check.Number(*smoothing, at, key::kMinCutoff, 0.0, kMaxMinCutoff,
                               s.smoothing.minCutoff, false);
            (void)check.Number(*smoothing, at, key::kBeta, 0.0, kMaxBeta, s.smoothing.beta, false);
        }
    }
    (void)check.Int(value, path, key::kHysteresis, 0, kMaxHysteresis, s.hysteresis, false);
    if (check.Int(value, path, key::kResolution, kResolution7, kResolution14, s.resolution,
                  false) &&
        s.resolution != kResolution7 && s.resolution != kResolution14) {
        check.Fail(JsonPathMember(path, key::kResolution),
                   "must be 7 or 14, not " + std::to_string(s.resolution));
    }
    (void)check.Int(value, path, key::kLsbController, kLsbDefault, 127, s.lsbController, false);
    (void)check.Flag(value, path, key::kLsbOnlyWhenMsbUnchanged, s.lsbOnlyWhenMsbUnchanged, false);
    (void)check.Flag(value, path, key::kNrpnNull, s.nrpnNull, false);
}
