#pragma once

#include <QTimer>
#include <QWidget>

#include "tamborex/model/patch.h"

class CEngine;
class CJoystick;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

// The live graph of one axis's shaping: travel across (after calibration), output up. It shows
// the curve the settings make, the dead zones as shaded bands, the stick as a moving dot and the
// value last sent as a line. It repaints only when something it shows has changed, so a stick at
// rest costs no drawing. With a drawn curve its points are dragged with the mouse.
class CAxisCurveView final : public QWidget {
    Q_OBJECT

  public:
    CAxisCurveView(AxisRecord& record, QWidget* parent);

    // The stick's raw position (0..65535) and the value last sent; repaints when they moved.
    void SetLive(std::int32_t raw, std::int32_t sent);
    // The settings changed: redraw the curve.
    void Refresh() { update(); }
    // Where point i of the drawn curve sits in the widget (for the dialog's test).
    QPointF PointAt(int i) const;
    int Repaints() const { return repaints_; }

  signals:
    // A point was dragged: the record holds its new place.
    void PointsChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    QSize sizeHint() const override { return {260, 200}; }
    QSize minimumSizeHint() const override { return {200, 150}; }

  private:
    QRectF Plot() const;
    // Travel fraction <-> widget x, output fraction <-> widget y.
    double XOf(double travel) const;
    double YOf(double output) const;
    // A point's curve input as travel (through the dead zones and invert backwards).
    double TravelOfCurveInput(double input) const;
    double CurveInputOfTravel(double travel) const;
    double OutputFraction(std::int32_t value) const;

    AxisRecord& record_;
    std::int32_t raw_ = -1;
    std::int32_t sent_ = -1;
    int dragged_ = -1;
    int repaints_ = 0;
};

// The shaping settings of one axis, edited in place with the graph beside them: preset,
// "Calibrate", dead zones, invert, curve and strength, smoothing, hysteresis and the output's
// resolution. Every change reaches the engine at once; the smoothing starts again from where the
// stick is, so no change makes the output jump further than the change itself.
class CAxisShapePanel final : public QWidget {
    Q_OBJECT

  public:
    CAxisShapePanel(AxisRecord& record, int axis, bool slotZero, CEngine& engine,
                    CJoystick& joystick, QWidget* parent);
    ~CAxisShapePanel() override;

    bool Changed() const { return changed_; }
    CAxisCurveView& Graph() { return *graph_; }
    QPushButton& CalibrateButton() { return *calibrate_; }
    QComboBox& PresetList() { return *preset_; }
    QComboBox& CurveList() { return *curve_; }
    QComboBox& ResolutionList() { return *resolution_; }
    QCheckBox& SmoothingCheck() { return *smoothing_; }
    // Reads the stick and the value sent; the dialog's timer calls it 30 times a second.
    void Sample();

  signals:
    void Edited();

  private:
    void Show();    // the record into the fields
    void Apply();   // the fields into the record, then the engine
    void Commit();  // the record to the engine
    void OnCalibrate();
    void EnableFields();

    AxisRecord& record_;
    int axis_;
    bool slotZero_;
    CEngine& engine_;
    CJoystick& joystick_;
    bool changed_ = false;
    bool showing_ = false;
    QTimer sampler_;

    CAxisCurveView* graph_;
    QComboBox* preset_;
    QPushButton* calibrate_;
    QLabel* calibration_;
    QDoubleSpinBox* dead_[4];
    QCheckBox* invert_;
    QComboBox* curve_;
    QDoubleSpinBox* strength_;
    QCheckBox* smoothing_;
    QDoubleSpinBox* minCutoff_;
    QDoubleSpinBox* beta_;
    QSpinBox* hysteresis_;
    QComboBox* resolution_;
    QSpinBox* lsbController_;
    QCheckBox* lsbOnly_;
    QCheckBox* nrpnNull_;
};
