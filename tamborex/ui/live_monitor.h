#pragma once

#include "platform/joystick.h"
#include "platform/live_monitor_view.h"

class CEngine;

// Reads the controller's state for a view, acquiring it when the patch left it unacquired.
bool ReadController(platform::JoystickService& joystick, platform::RawJoyState& state);

// The live monitor of the Joystick options: the controller as the patch's ranges scale it, and
// what the engine sends (the engine keeps a log only while the monitor is shown).
class CLiveMonitor final : public platform::LiveMonitorView {
    Q_OBJECT

  public:
    CLiveMonitor(platform::JoystickService& joystick, CEngine& engine, QWidget* parent);
    ~CLiveMonitor() override;

  protected:
    bool ReadController(platform::RawJoyState& state) override;
    void AttachLog(platform::MidiSentLog* log) override;
    Span AxisSpan(int axis) const override;

  private:
    platform::JoystickService& joystick_;
    CEngine& engine_;
};
