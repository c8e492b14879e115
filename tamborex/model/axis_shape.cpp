#include "tamborex/model/axis_shape.h"

bool IsDefaultShape(const AxisShape& shape) {
    return shape == AxisShape{};
}

void ApplyShapePreset(AxisShape& shape, ShapePreset preset) {
    const AxisCalibration calibration = shape.calibration;
    AxisShape fresh;
    fresh.calibration = calibration;
    fresh.resolution = shape.resolution;
    fresh.lsbController = shape.lsbController;
    fresh.lsbOnlyWhenMsbUnchanged = shape.lsbOnlyWhenMsbUnchanged;
    fresh.nrpnNull = shape.nrpnNull;
    switch (preset) {
        case ShapePreset::Linear:
            break;
        case ShapePreset::SoftCentre:
            // A worn stick wanders a few percent around where it rests: that much is silence,
            // and the travel just beyond it moves the output gently.
            fresh.deadZone = {0.0, 4.0, 4.0, 0.0};
            fresh.curve = CurveKind::Points;
            fresh.points[0] = {0.0, 0.0};
            fresh.points[1] = {0.3, 0.4};
            fresh.points[2] = {0.5, 0.5};
            fresh.points[3] = {0.7, 0.6};
            fresh.points[4] = {1.0, 1.0};
            fresh.pointCount = 5;
            fresh.smoothing = kDefaultSmoothing;
            fresh.hysteresis = 1;
            break;
        case ShapePreset::HardCentre:
            fresh.deadZone = {0.0, 10.0, 10.0, 0.0};
            fresh.hysteresis = 1;
            break;
        case ShapePreset::Trigger:
            fresh.calibration.centre = fresh.calibration.min;
            fresh.deadZone = {5.0, 0.0, 0.0, 3.0};
            fresh.hysteresis = 1;
            break;
    }
    shape = fresh;
}

const char* CurveKindName(CurveKind kind) {
    switch (kind) {
        case CurveKind::Linear:
            return "linear";
        case CurveKind::Exponential:
            return "exponential";
        case CurveKind::Logarithmic:
            return "logarithmic";
        case CurveKind::S:
            return "s";
        case CurveKind::Points:
            return "points";
    }
    return "linear";
}

bool CurveKindFromName(std::string_view name, CurveKind& kind) {
    for (int k = 0; k < kCurveKindCount; ++k) {
        if (name == CurveKindName(static_cast<CurveKind>(k))) {
            kind = static_cast<CurveKind>(k);
            return true;
        }
    }
    return false;
}
