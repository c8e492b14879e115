#pragma once

#include "platform/live_monitor_view.h"

namespace corvane {

class Mapper;

// Corvane's live monitor: the whole controller the tick reads (Corvane plays X, Y, Z and buttons
// 1 to 4 of it) with positions 0..65535, and every message the ports send, recorded only while
// the monitor is shown.
class LiveMonitor final : public platform::LiveMonitorView {
    Q_OBJECT

  public:
    LiveMonitor(Mapper& mapper, QWidget* parent);
    ~LiveMonitor() override;

  protected:
    bool ReadController(platform::RawJoyState& state) override;
    void AttachLog(platform::MidiSentLog* log) override;

  private:
    Mapper& mapper_;
};

}  // namespace corvane
