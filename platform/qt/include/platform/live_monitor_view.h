#pragma once

#include <QWidget>
#include <array>
#include <cstdint>

#include "platform/joystick.h"
#include "platform/midi_sent_log.h"

class QTimer;

namespace platform {

// A live monitor: every axis as a bar with its value as read, the buttons lit while pressed, the
// hat, and the last messages sent with their times. It reads the controller and the sent log
// only while it is shown, and repaints only when something changed: hidden, it costs nothing
// (the program then keeps no log at all). Each program says how it reads its controller and
// where its sends are recorded.
class LiveMonitorView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kAxes = 6;
    static constexpr int kButtons = 16;

    // program is named in the tool tip: what it sends is shown.
    LiveMonitorView(const QString& program, QWidget* parent);
    ~LiveMonitorView() override;

    // Reads the controller and the log now; repaints when anything differs from the last look.
    // The timer calls it 60 times a second while shown.
    void Look();
    int Repaints() const { return repaints_; }
    // The last look's messages, oldest first, as the monitor writes them.
    QStringList SentLines() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // How the monitor writes a packed short message (a block: F0 with its length).
    static QString MessageText(std::uint32_t message);

  protected:
    struct Span {
        double low = 0;
        double high = 65535;
    };

    // The controller's state now; false when none can be read.
    virtual bool ReadController(RawJoyState& state) = 0;
    // From now on the program records what it sends here (null: nowhere). Once it returns with
    // null, nothing is being recorded. A subclass calls it with null in its destructor.
    virtual void AttachLog(MidiSentLog* log) = 0;
    // The values an axis' bar spans.
    virtual Span AxisSpan(int axis) const;

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QTimer* timer_;
    MidiSentLog log_;
    RawJoyState state_{};
    bool haveState_ = false;
    std::uint64_t logCount_ = 0;
    std::array<MidiSentLog::Entry, MidiSentLog::kEntries> sent_{};
    int sentCount_ = 0;
    int repaints_ = 0;
};

}  // namespace platform
