#pragma once

#include <QDialog>
#include <memory>

#include "tamborex/model/patch.h"

namespace Ui {
class CAxisOptions;
}
class CAxisShapePanel;
class CEngine;
class CJoystick;
class CMidiLearn;
class CPrompter;
class QLabel;
class QPushButton;

// "Axis options": one axis record of the current patch, edited in place as the user types; the
// joystick's range for the axis follows at once.
class CAxisOptions final : public QDialog {
    Q_OBJECT

  public:
    // With the engine, the dialog also shows the axis's shaping and its live graph.
    CAxisOptions(AxisRecord& record, int axis, const QString& label, CJoystick& joystick,
                 CPrompter& prompter, QWidget* parent, CEngine* engine = nullptr);
    ~CAxisOptions() override;

    // Whether any field was touched since the dialog opened.
    bool Changed() const;
    // The shaping settings and graph; null without an engine.
    CAxisShapePanel* ShapePanel() const { return shape_; }

    // OK: refused while Max is below Min. The close box and Escape end without that test.
    void accept() override;
    // While a learn from MIDI runs, Escape cancels it and the dialog stays.
    void reject() override;

    // Adds "Learn from MIDI": the next controller, 14-bit pair, NRPN or pitch bend arriving at
    // the engine's MIDI input sets the axis' controller and channel.
    void EnableMidiLearn(CEngine& engine);
    void StartMidiLearn();
    QString LearnStatus() const;

  private:
    // Sets the changed flag and re-reads every field; a field that holds no integer stops the
    // reading with its message.
    void Touch();
    void ApplyRange();
    void SetRangeFieldsEnabled(bool enabled);

    std::unique_ptr<Ui::CAxisOptions> ui_;
    AxisRecord& record_;
    int axis_;
    CJoystick& joystick_;
    CPrompter& prompter_;
    bool changed_ = false;
    CAxisShapePanel* shape_ = nullptr;
    AxisRecord values_;  // the dialog's values, as last read from the fields
    CEngine* engine_ = nullptr;
    CMidiLearn* midiLearn_ = nullptr;
    QPushButton* learnButton_ = nullptr;
    QLabel* learnStatus_ = nullptr;
};
