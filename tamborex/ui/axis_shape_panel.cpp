#include "axis_shape_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "tamborex/devices/joystick.h"
#include "tamborex/engine/axis_shaper.h"
#include "tamborex/engine/engine.h"

namespace {

constexpr int kSampleMs = 33;  // 30 frames a second while the stick moves
constexpr double kGrab = 8.0;  // how near the mouse must be to take hold of a point

const char* const kPresetNames[] = {"Linear", "Soft centre", "Hard centre", "Trigger"};
const char* const kCurveNames[] = {"Linear", "Exponential", "Logarithmic", "S-curve",
                                   "Drawn points"};
const char* const kDeadNames[] = {"Low end", "Centre low", "Centre high", "High end"};

}  // namespace

CAxisCurveView::CAxisCurveView(AxisRecord& record, QWidget* parent)
    : QWidget(parent), record_(record) {
    setMouseTracking(false);
    setToolTip(QStringLiteral(
        "What the axis sends for each position of the stick: the curve, the dead zones (shaded), "
        "the stick (dot) and the value last sent (line). Drag the points of a drawn curve."));
}

QRectF CAxisCurveView::Plot() const {
    return QRectF(rect()).adjusted(10, 10, -10, -10);
}

double CAxisCurveView::XOf(double travel) const {
    const QRectF p = Plot();
    return p.left() + travel * p.width();
}

double CAxisCurveView::YOf(double output) const {
    const QRectF p = Plot();
    return p.bottom() - output * p.height();
}

double CAxisCurveView::CurveInputOfTravel(double travel) const {
    const AxisShape& s = record_.shape;
    double x = ApplyDeadZones(s, IsCentred(s.calibration), travel);
    return s.invert ? 1.0 - x : x;
}

double CAxisCurveView::TravelOfCurveInput(double input) const {
    // The dead zones never turn back, so halving finds the travel that gives this input.
    const bool invert = record_.shape.invert;
    double lo = 0.0;
    double hi = 1.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (lo + hi);
        const double at = CurveInputOfTravel(mid);
        if (invert ? at > input : at < input) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return 0.5 * (lo + hi);
}

double CAxisCurveView::OutputFraction(std::int32_t value) const {
    const AxisOutputRange range = OutputRangeOf(record_);
    if (range.hi <= range.lo) {
        return 0.0;
    }
    return std::clamp((value - range.lo) / double(range.hi - range.lo), 0.0, 1.0);
}

QPointF CAxisCurveView::PointAt(int i) const {
    const CurvePoint& p = record_.shape.points[i];
    return {XOf(TravelOfCurveInput(p.x)), YOf(p.y)};
}

void CAxisCurveView::SetLive(std::int32_t raw, std::int32_t sent) {
    if (raw == raw_ && sent == sent_) {
        return;  // at rest: nothing to draw
    }
    raw_ = raw;
    sent_ = sent;
    update();
}

void CAxisCurveView::paintEvent(QPaintEvent*) {
    ++repaints_;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plot = Plot();
    painter.fillRect(rect(), palette().base());
    const AxisShape& s = record_.shape;
    const bool centred = IsCentred(s.calibration);

    // Dead zones, as bands of travel.
    const QColor zone = palette().color(QPalette::Mid);
    auto band = [&](double from, double to) {
        if (to > from) {
            painter.fillRect(
                QRectF(QPointF(XOf(from), plot.top()), QPointF(XOf(to), plot.bottom())),
                QColor(zone.red(), zone.green(), zone.blue(), 90));
        }
    };
    const double low = std::clamp(s.deadZone[DEAD_LOW_END], 0.0, 100.0) / 100.0;
    const double high = std::clamp(s.deadZone[DEAD_HIGH_END], 0.0, 100.0) / 100.0;
    band(0.0, low);
    band(1.0 - high, 1.0);
    if (centred) {
        band(0.5 - std::clamp(s.deadZone[DEAD_CENTRE_LOW], 0.0, 50.0) / 100.0,
             0.5 + std::clamp(s.deadZone[DEAD_CENTRE_HIGH], 0.0, 50.0) / 100.0);
    }

    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawRect(plot);
    painter.drawLine(QPointF(XOf(0.5), plot.top()), QPointF(XOf(0.5), plot.bottom()));
    painter.drawLine(QPointF(plot.left(), YOf(0.5)), QPointF(plot.right(), YOf(0.5)));

    // The curve: travel through dead zones, invert and curve.
    QPainterPath curve;
    constexpr int kSteps = 200;
    for (int i = 0; i <= kSteps; ++i) {
        const double travel = i / double(kSteps);
        const double out = std::clamp(ApplyCurve(s, centred, CurveInputOfTravel(travel)), 0.0, 1.0);
        const QPointF at(XOf(travel), YOf(out));
        if (i == 0) {
            curve.moveTo(at);
        } else {
            curve.lineTo(at);
        }
    }
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawPath(curve);

    if (s.curve == CurveKind::Points) {
        painter.setPen(QPen(palette().color(QPalette::Text), 1));
        painter.setBrush(palette().color(QPalette::Base));
        for (int i = 0; i < std::clamp(s.pointCount, 0, kMaxCurvePoints); ++i) {
            painter.drawEllipse(PointAt(i), 4.0, 4.0);
        }
    }

    // The value last sent, and the stick.
    if (sent_ >= 0) {
        painter.setPen(QPen(QColor(0xC0, 0x50, 0x20), 1, Qt::DashLine));
        painter.drawLine(QPointF(plot.left(), YOf(OutputFraction(sent_))),
                         QPointF(plot.right(), YOf(OutputFraction(sent_))));
    }
    if (raw_ >= 0) {
        const double travel = CalibratedPosition(s.calibration, raw_);
        const double out = ShapedFraction(s, raw_);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xC0, 0x50, 0x20));
        painter.drawEllipse(QPointF(XOf(travel), YOf(out)), 5.0, 5.0);
    }
}

void CAxisCurveView::mousePressEvent(QMouseEvent* event) {
    dragged_ = -1;
    if (record_.shape.curve != CurveKind::Points) {
        return;
    }
    double best = kGrab;
    for (int i = 0; i < std::clamp(record_.shape.pointCount, 0, kMaxCurvePoints); ++i) {
        const QPointF d = PointAt(i) - event->position();
        const double distance = std::hypot(d.x(), d.y());
        if (distance <= best) {
            best = distance;
            dragged_ = i;
        }
    }
}

void CAxisCurveView::mouseMoveEvent(QMouseEvent* event) {
    if (dragged_ < 0) {
        return;
    }
    AxisShape& s = record_.shape;
    const QRectF plot = Plot();
    const double travel =
        std::clamp((event->position().x() - plot.left()) / plot.width(), 0.0, 1.0);
    double x = CurveInputOfTravel(travel);
    const double y = std::clamp((plot.bottom() - event->position().y()) / plot.height(), 0.0, 1.0);
    // A point stays between its neighbours, so the curve never folds back on itself.
    const int i = dragged_;
    const double left = i > 0 ? s.points[i - 1].x + 0.01 : 0.0;
    const double right = i + 1 < s.pointCount ? s.points[i + 1].x - 0.01 : 1.0;
    x = std::clamp(x, std::min(left, right), std::max(left, right));
    s.points[i] = {x, y};
    update();
    emit PointsChanged();
}

void CAxisCurveView::mouseReleaseEvent(QMouseEvent*) {
    dragged_ = -1;
}

CAxisShapePanel::CAxisShapePanel(AxisRecord& record, int axis, bool slotZero, CEngine& engine,
                                 CJoystick& joystick, QWidget* parent)
    : QWidget(parent),
      record_(record),
      axis_(axis),
      slotZero_(slotZero),
      engine_(engine),
      joystick_(joystick),
      graph_(new CAxisCurveView(record, this)) {
    auto* settings = new QFormLayout;
    preset_ = new QComboBox(this);
    for (const char* name : kPresetNames) {
        preset_->addItem(QString::fromLatin1(name));
    }
    preset_->setCurrentIndex(-1);
    preset_->setPlaceholderText(QStringLiteral("Choose..."));
    preset_->setToolTip(QStringLiteral(
        "Sets the dead zones, curve, smoothing and hysteresis for a kind of control; the "
        "calibration and the output are kept."));
    settings->addRow(QStringLiteral("Preset :"), preset_);

    calibrate_ = new QPushButton(QStringLiteral("Calibrate"), this);
    calibrate_->setCheckable(true);
    calibrate_->setToolTip(QStringLiteral(
        "Click, move the stick round to both ends, let it go, and click again: the ends and the "
        "resting place become the axis's calibration. The axis sends nothing meanwhile."));
    calibration_ = new QLabel(this);
    auto* calibrationRow = new QHBoxLayout;
    calibrationRow->addWidget(calibrate_);
    calibrationRow->addWidget(calibration_, 1);
    settings->addRow(QStringLiteral("Calibration :"), calibrationRow);

    auto* deadGrid = new QGridLayout;
    for (int i = 0; i < kDeadZoneCount; ++i) {
        dead_[i] = new QDoubleSpinBox(this);
        dead_[i]->setRange(0.0, i == DEAD_CENTRE_LOW || i == DEAD_CENTRE_HIGH ? 50.0 : 100.0);
        dead_[i]->setDecimals(1);
        dead_[i]->setSingleStep(0.5);
        dead_[i]->setSuffix(QStringLiteral(" %"));
        dead_[i]->setToolTip(QStringLiteral("%1 dead zone, in percent of the travel: the stick "
                                            "moving there sends nothing new.")
                                 .arg(QString::fromLatin1(kDeadNames[i])));
        deadGrid->addWidget(new QLabel(QString::fromLatin1(kDeadNames[i]), this), i / 2,
                            (i % 2) * 2);
        deadGrid->addWidget(dead_[i], i / 2, (i % 2) * 2 + 1);
    }
    settings->addRow(QStringLiteral("Dead zones :"), deadGrid);

    invert_ = new QCheckBox(QStringLiteral("Invert"), this);
    invert_->setToolTip(QStringLiteral("Turns the travel round before the curve."));
    settings->addRow(QString(), invert_);

    curve_ = new QComboBox(this);
    for (const char* name : kCurveNames) {
        curve_->addItem(QString::fromLatin1(name));
    }
    curve_->setToolTip(QStringLiteral(
        "How the travel becomes the output. Exponential and logarithmic bend each half away from "
        "the centre; drawn points are joined smoothly and never overshoot."));
    strength_ = new QDoubleSpinBox(this);
    strength_->setRange(0.0, 1.0);
    strength_->setDecimals(2);
    strength_->setSingleStep(0.05);
    strength_->setToolTip(QStringLiteral("How far the curve bends: 0 is straight, 1 strongest."));
    auto* curveRow = new QHBoxLayout;
    curveRow->addWidget(curve_, 1);
    curveRow->addWidget(new QLabel(QStringLiteral("Strength"), this));
    curveRow->addWidget(strength_);
    settings->addRow(QStringLiteral("Curve :"), curveRow);

    smoothing_ = new QCheckBox(QStringLiteral("Smoothing"), this);
    smoothing_->setToolTip(QStringLiteral(
        "Calms a shaky stick: slow movements are smoothed, fast ones pass almost at once."));
    minCutoff_ = new QDoubleSpinBox(this);
    minCutoff_->setRange(0.01, 100.0);
    minCutoff_->setDecimals(2);
    minCutoff_->setSuffix(QStringLiteral(" Hz"));
    minCutoff_->setToolTip(QStringLiteral("Lower: steadier when the stick moves slowly."));
    beta_ = new QDoubleSpinBox(this);
    beta_->setRange(0.0, 10000.0);
    beta_->setDecimals(1);
    beta_->setToolTip(QStringLiteral("Higher: follows fast movements more closely."));
    auto* smoothRow = new QHBoxLayout;
    smoothRow->addWidget(smoothing_);
    smoothRow->addWidget(new QLabel(QStringLiteral("Cut-off"), this));
    smoothRow->addWidget(minCutoff_);
    smoothRow->addWidget(new QLabel(QStringLiteral("Beta"), this));
    smoothRow->addWidget(beta_);
    settings->addRow(QString(), smoothRow);

    hysteresis_ = new QSpinBox(this);
    hysteresis_->setRange(0, 16383);
    hysteresis_->setToolTip(
        QStringLiteral("A change back by fewer than this many output steps is not sent."));
    settings->addRow(QStringLiteral("Hysteresis :"), hysteresis_);

    resolution_ = new QComboBox(this);
    resolution_->addItem(QStringLiteral("7 bits"));
    resolution_->addItem(QStringLiteral("14 bits"));
    resolution_->setToolTip(QStringLiteral(
        "14 bits: a controller sends its MSB then its LSB, NRPN sends data entry 6 then 38, and "
        "pitch bend uses its whole range."));
    lsbController_ = new QSpinBox(this);
    lsbController_->setRange(-1, 127);
    lsbController_->setSpecialValueText(QStringLiteral("+32"));
    lsbController_->setToolTip(
        QStringLiteral("The controller the LSB goes to. +32: the axis's controller plus 32, for "
                       "controllers 0 to 31 only; from 32 on there is no such pair and the MSB "
                       "goes alone. 120 to 127 are channel mode messages and never take the "
                       "LSB: picked, the MSB goes alone."));
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(resolution_);
    outputRow->addWidget(new QLabel(QStringLiteral("LSB on"), this));
    outputRow->addWidget(lsbController_);
    settings->addRow(QStringLiteral("Output :"), outputRow);
    lsbOnly_ = new QCheckBox(QStringLiteral("LSB alone when the MSB is unchanged"), this);
    lsbOnly_->setToolTip(QStringLiteral(
        "Saves a message per move; some receivers need the MSB every time, so it is off."));
    nrpnNull_ = new QCheckBox(QStringLiteral("NRPN null after each value"), this);
    nrpnNull_->setToolTip(QStringLiteral(
        "Sends 101 and 100 = 127 after each value, so a later data entry changes nothing."));
    settings->addRow(QString(), lsbOnly_);
    settings->addRow(QString(), nrpnNull_);

    graph_->setObjectName(QStringLiteral("shapeGraph"));
    preset_->setObjectName(QStringLiteral("shapePreset"));
    calibrate_->setObjectName(QStringLiteral("calibrateButton"));
    calibration_->setObjectName(QStringLiteral("calibrationText"));
    for (int i = 0; i < kDeadZoneCount; ++i) {
        dead_[i]->setObjectName(QStringLiteral("deadZone%1").arg(i));
    }
    invert_->setObjectName(QStringLiteral("invertCheck"));
    curve_->setObjectName(QStringLiteral("curveCombo"));
    strength_->setObjectName(QStringLiteral("strengthSpin"));
    smoothing_->setObjectName(QStringLiteral("smoothingCheck"));
    minCutoff_->setObjectName(QStringLiteral("minCutoffSpin"));
    beta_->setObjectName(QStringLiteral("betaSpin"));
    hysteresis_->setObjectName(QStringLiteral("hysteresisSpin"));
    resolution_->setObjectName(QStringLiteral("resolutionCombo"));
    lsbController_->setObjectName(QStringLiteral("lsbControllerSpin"));
    lsbOnly_->setObjectName(QStringLiteral("lsbOnlyCheck"));
    nrpnNull_->setObjectName(QStringLiteral("nrpnNullCheck"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(settings);
    layout->addWidget(graph_, 1);

    Show();
    auto changedAny = [this] { Apply(); };
    connect(preset_, &QComboBox::activated, this, [this](int index) {
        ApplyShapePreset(record_.shape, static_cast<ShapePreset>(index));
        Show();
        Commit();
    });
    connect(calibrate_, &QPushButton::clicked, this, &CAxisShapePanel::OnCalibrate);
    for (QDoubleSpinBox* box : dead_) {
        connect(box, &QDoubleSpinBox::valueChanged, this, changedAny);
    }
    connect(invert_, &QCheckBox::toggled, this, changedAny);
    connect(curve_, &QComboBox::activated, this, changedAny);
    connect(strength_, &QDoubleSpinBox::valueChanged, this, changedAny);
    connect(smoothing_, &QCheckBox::toggled, this, changedAny);
    connect(minCutoff_, &QDoubleSpinBox::valueChanged, this, changedAny);
    connect(beta_, &QDoubleSpinBox::valueChanged, this, changedAny);
    connect(hysteresis_, &QSpinBox::valueChanged, this, changedAny);
    connect(resolution_, &QComboBox::activated, this, changedAny);
    connect(lsbController_, &QSpinBox::valueChanged, this, changedAny);
    connect(lsbOnly_, &QCheckBox::toggled, this, changedAny);
    connect(nrpnNull_, &QCheckBox::toggled, this, changedAny);
    connect(graph_, &CAxisCurveView::PointsChanged, this, &CAxisShapePanel::Commit);

    connect(&sampler_, &QTimer::timeout, this, &CAxisShapePanel::Sample);
    if (slotZero_) {
        sampler_.start(kSampleMs);
    }
    Sample();
}

CAxisShapePanel::~CAxisShapePanel() {
    // A calibration left running would keep the axis silent.
    if (slotZero_ && engine_.Calibrator(axis_).Running()) {
        engine_.FinishCalibration(axis_);
    }
}

void CAxisShapePanel::Show() {
    showing_ = true;
    const AxisShape& s = record_.shape;
    calibration_->setText(QStringLiteral("%1 / %2 / %3")
                              .arg(s.calibration.min)
                              .arg(s.calibration.centre)
                              .arg(s.calibration.max));
    calibration_->setToolTip(
        QStringLiteral("Minimum / centre / maximum of the raw travel "
                       "(0 to 65535)."));
    for (int i = 0; i < kDeadZoneCount; ++i) {
        dead_[i]->setValue(s.deadZone[i]);
    }
    invert_->setChecked(s.invert);
    curve_->setCurrentIndex(static_cast<int>(s.curve));
    strength_->setValue(s.strength);
    const bool smoothed = s.smoothing.minCutoff > 0.0;
    smoothing_->setChecked(smoothed);
    minCutoff_->setValue(smoothed ? s.smoothing.minCutoff : kDefaultSmoothing.minCutoff);
    beta_->setValue(smoothed ? s.smoothing.beta : kDefaultSmoothing.beta);
    hysteresis_->setValue(s.hysteresis);
    resolution_->setCurrentIndex(s.resolution == 14 ? 1 : 0);
    lsbController_->setValue(s.lsbController);
    lsbOnly_->setChecked(s.lsbOnlyWhenMsbUnchanged);
    nrpnNull_->setChecked(s.nrpnNull);
    EnableFields();
    graph_->Refresh();
    showing_ = false;
}

void CAxisShapePanel::EnableFields() {
    const AxisShape& s = record_.shape;
    const bool bends = s.curve == CurveKind::Exponential || s.curve == CurveKind::Logarithmic ||
                       s.curve == CurveKind::S;
    strength_->setEnabled(bends);
    minCutoff_->setEnabled(s.smoothing.minCutoff > 0.0);
    beta_->setEnabled(s.smoothing.minCutoff > 0.0);
    const bool wide = s.resolution == 14;
    const bool nrpn =
        record_.controller == kSelectNrpnFine || record_.controller == kSelectNrpnCoarse;
    const bool pair = wide && !nrpn && record_.controller != kSelectPitchBend;
    lsbController_->setEnabled(pair);
    lsbOnly_->setEnabled(pair);
    nrpnNull_->setEnabled(wide && nrpn);
    const bool centred = IsCentred(s.calibration);
    dead_[DEAD_CENTRE_LOW]->setEnabled(centred);
    dead_[DEAD_CENTRE_HIGH]->setEnabled(centred);
}

void CAxisShapePanel::Apply() {
    if (showing_) {
        return;
    }
    AxisShape& s = record_.shape;
    for (int i = 0; i < kDeadZoneCount; ++i) {
        s.deadZone[i] = dead_[i]->value();
    }
    s.invert = invert_->isChecked();
    const auto curve = static_cast<CurveKind>(std::clamp(curve_->currentIndex(), 0, 4));
    if (curve == CurveKind::Points && s.curve != CurveKind::Points && s.pointCount == 0) {
        // A straight line to start from, with points to take hold of.
        s.pointCount = 5;
        for (int i = 0; i < 5; ++i) {
            s.points[i] = {i / 4.0, i / 4.0};
        }
    }
    s.curve = curve;
    s.strength = strength_->value();
    s.smoothing = smoothing_->isChecked() ? AxisSmoothing{minCutoff_->value(), beta_->value()}
                                          : AxisSmoothing{};
    s.hysteresis = hysteresis_->value();
    s.resolution = resolution_->currentIndex() == 1 ? 14 : 7;
    s.lsbController = lsbController_->value();
    s.lsbOnlyWhenMsbUnchanged = lsbOnly_->isChecked();
    s.nrpnNull = nrpnNull_->isChecked();
    EnableFields();
    Commit();
}

void CAxisShapePanel::Commit() {
    changed_ = true;
    if (slotZero_) {
        engine_.ApplyAxisShape(axis_);
    }
    graph_->Refresh();
    emit Edited();
}

void CAxisShapePanel::OnCalibrate() {
    if (!slotZero_) {
        calibrate_->setChecked(false);
        return;
    }
    if (calibrate_->isChecked()) {
        calibrate_->setText(QStringLiteral("Done"));
        engine_.StartCalibration(axis_);
        return;
    }
    calibrate_->setText(QStringLiteral("Calibrate"));
    if (engine_.FinishCalibration(axis_)) {
        changed_ = true;
        emit Edited();
    } else {
        calibration_->setText(QStringLiteral("move the stick to both ends"));
        return;
    }
    Show();
}

void CAxisShapePanel::Sample() {
    if (!slotZero_) {
        return;
    }
    const CAxisCalibrator& calibrator = engine_.Calibrator(axis_);
    std::int32_t raw = joystick_.state.axes[axis_];
    if (calibrator.Running()) {
        calibration_->setText(
            QStringLiteral("%1 / ... / %2").arg(calibrator.seenMin).arg(calibrator.seenMax));
    } else if (!IsShaped(record_)) {
        // An unshaped axis is read in its range: back to the 16-bit travel for the dot.
        const DeviceRange range = DeviceRangeOf(record_);
        raw = range.max > range.min
                  ? static_cast<std::int32_t>(std::lround((raw - range.min) * double(kAxisRawMax) /
                                                          (range.max - range.min)))
                  : 0;
    }
    graph_->SetLive(std::clamp(raw, 0, kAxisRawMax),
                    record_.controller == kSelectNone ? -1 : record_.lastSent);
}
