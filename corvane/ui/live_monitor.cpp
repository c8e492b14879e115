#include "live_monitor.h"

#include "mapper.h"

namespace corvane {

LiveMonitor::LiveMonitor(Mapper& mapper, QWidget* parent)
    : platform::LiveMonitorView(QStringLiteral("Corvane"), parent), mapper_(mapper) {}

LiveMonitor::~LiveMonitor() {
    mapper_.SetSentLog(nullptr);
}

bool LiveMonitor::ReadController(platform::RawJoyState& state) {
    return mapper_.Joystick().ReadWhole(state) == platform::JoyResult::Ok;
}

void LiveMonitor::AttachLog(platform::MidiSentLog* log) {
    mapper_.SetSentLog(log);
}

}  // namespace corvane
