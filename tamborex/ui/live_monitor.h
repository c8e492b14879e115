#pragma once

#include <QWidget>
#include <array>
#include <cstdint>

#include "platform/joystick.h"
#include "platform/midi_sent_log.h"

class QTimer;
class CEngine;

// Reads the controller's state for a view, acquiring it when the patch left it unacquired.
bool ReadController(platform::JoystickService& joystick, platform::RawJoyState& state);

// The live monitor of the Joystick options: every axis as a bar with its value as read, the
// buttons lit while pressed, the hat, and the last messages sent with their times. It reads the
// controller and the engine's sent log only while it is shown, and repaints only when something
// changed: hidden, it costs nothing (the engine then keeps no log at all).
class CLiveMonitor final : public QWidget {
    Q_OBJECT

  public:
    CLiveMonitor(platform::JoystickService& joystick, CEngine& engine, QWidget* parent);
    ~CLiveMonitor() override;

    // Reads the controller and the log now; repaints when anything differs from the last look.
    // The timer calls it 60 times a second while shown.
    void Look();
    int Repaints() const { return repaints_; }

    QSize sizeHint() const override;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    platform::JoystickService& joystick_;
    CEngine& engine_;
    QTimer* timer_;
    platform::MidiSentLog log_;
    platform::RawJoyState state_{};
    bool haveState_ = false;
    std::uint64_t logCount_ = 0;
    std::array<platform::MidiSentLog::Entry, platform::MidiSentLog::kEntries> sent_{};
    int sentCount_ = 0;
    int repaints_ = 0;
};
