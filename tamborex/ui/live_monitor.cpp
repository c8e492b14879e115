#include "live_monitor.h"

#include "tamborex/engine/engine.h"

CLiveMonitor::CLiveMonitor(platform::JoystickService& joystick, CEngine& engine, QWidget* parent)
    : platform::LiveMonitorView(QStringLiteral("Tamborex"), parent),
      joystick_(joystick),
      engine_(engine) {}

CLiveMonitor::~CLiveMonitor() {
    engine_.SetSentLog(nullptr);
}

bool CLiveMonitor::ReadController(platform::RawJoyState& state) {
    return ::ReadController(joystick_, state);
}

void CLiveMonitor::AttachLog(platform::MidiSentLog* log) {
    engine_.SetSentLog(log);
}

CLiveMonitor::Span CLiveMonitor::AxisSpan(int axis) const {
    // The value as the patch ranged it (what the engine's shaping starts from).
    const AxisRecord& record = engine_.patches[0].axes[axis];
    return record.fullRange
               ? Span{0, 127}
               : Span{static_cast<double>(record.min), static_cast<double>(record.max)};
}

bool ReadController(platform::JoystickService& joystick, platform::RawJoyState& state) {
    (void)joystick.Poll();
    if (joystick.GetState(state) == platform::JoyResult::Ok) {
        return true;
    }
    // With the patch inactive the controller is not acquired: reading it changes nothing the
    // engine plays, so it is taken for the look.
    (void)joystick.Acquire();
    (void)joystick.Poll();
    return joystick.GetState(state) == platform::JoyResult::Ok;
}
