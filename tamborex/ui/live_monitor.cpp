#include "live_monitor.h"

#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cstring>

#include "tamborex/engine/engine.h"

namespace {
constexpr int kFrameMs = 16;  // 60 looks a second: every change is shown within a frame
constexpr int kAxes = 6;
constexpr int kButtons = 16;
const char* const kAxisNames[kAxes] = {"X", "Y", "Z", "XR", "YR", "ZR"};

QString MessageText(std::uint32_t m) {
    const int status = static_cast<int>(m & 0xFF);
    const int d1 = static_cast<int>((m >> 8) & 0x7F);
    const int d2 = static_cast<int>((m >> 16) & 0x7F);
    const int ch = status & 0x0F;
    switch (status & 0xF0) {
        case 0x80:
            return QStringLiteral("Note off  ch %1  %2  %3").arg(ch).arg(d1).arg(d2);
        case 0x90:
            return QStringLiteral("Note on   ch %1  %2  %3").arg(ch).arg(d1).arg(d2);
        case 0xB0:
            return QStringLiteral("Control   ch %1  %2  %3").arg(ch).arg(d1).arg(d2);
        case 0xC0:
            return QStringLiteral("Program   ch %1  %2").arg(ch).arg(d1);
        case 0xE0:
            return QStringLiteral("Bend      ch %1  %2").arg(ch).arg(d1 | (d2 << 7));
        default:
            break;
    }
    if (status == 0xF0) {
        return QStringLiteral("SysEx     %1 bytes").arg(d1 | (d2 << 7));
    }
    return QStringLiteral("System    %1").arg(status, 2, 16, QLatin1Char('0')).toUpper();
}
}  // namespace

CLiveMonitor::CLiveMonitor(platform::JoystickService& joystick, CEngine& engine, QWidget* parent)
    : QWidget(parent), joystick_(joystick), engine_(engine), timer_(new QTimer(this)) {
    setToolTip(QStringLiteral(
        "What the controller does and what Tamborex sends: each axis as read (before shaping), "
        "the buttons lit while pressed, the hat, and the last 16 messages sent with the time "
        "in seconds. It updates only while shown."));
    timer_->setInterval(kFrameMs);
    connect(timer_, &QTimer::timeout, this, &CLiveMonitor::Look);
}

CLiveMonitor::~CLiveMonitor() {
    engine_.SetSentLog(nullptr);
}

QSize CLiveMonitor::sizeHint() const {
    const int line = fontMetrics().height();
    return {fontMetrics().horizontalAdvance(QLatin1Char('0')) * 70,
            line * (platform::MidiSentLog::kEntries + 1)};
}

void CLiveMonitor::showEvent(QShowEvent* event) {
    engine_.SetSentLog(&log_);
    timer_->start();
    Look();
    QWidget::showEvent(event);
}

void CLiveMonitor::hideEvent(QHideEvent* event) {
    timer_->stop();
    engine_.SetSentLog(nullptr);
    QWidget::hideEvent(event);
}

void CLiveMonitor::Look() {
    platform::RawJoyState now{};
    bool have = ReadController(joystick_, now);
    bool changed = have != haveState_ || std::memcmp(&now, &state_, sizeof now) != 0;
    if (have) {
        state_ = now;
    }
    haveState_ = have;
    if (log_.Count() != logCount_) {
        logCount_ = log_.Count();
        sentCount_ = log_.Snapshot(sent_);
        changed = true;
    }
    if (changed) {
        ++repaints_;
        update();
    }
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

void CLiveMonitor::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const int line = fontMetrics().height();
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int left = width() * 11 / 20;  // the controller on the left, the messages on the right
    p.fillRect(rect(), pal.base());
    p.setPen(pal.text().color());
    if (!haveState_) {
        p.drawText(QRect(0, 0, left, line), Qt::AlignLeft, QStringLiteral("No controller"));
    }
    const int barX = digit * 4;
    const int barW = left - barX - digit * 8;
    for (int a = 0; a < kAxes; ++a) {
        const int y = line * (a + (haveState_ ? 0 : 1));
        p.drawText(QRect(0, y, barX, line), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(kAxisNames[a]));
        const QRect bar(barX, y + 2, barW, line - 4);
        p.drawRect(bar.adjusted(0, 0, -1, -1));
        // The value as the patch ranged it (what the engine's shaping starts from).
        const AxisRecord& axis = engine_.patches[0].axes[a];
        const double low = axis.fullRange ? 0 : axis.min;
        const double high = axis.fullRange ? 127 : axis.max;
        const std::int32_t v = state_.axes[a];
        const double share = high > low ? std::clamp((v - low) / (high - low), 0.0, 1.0) : 0.0;
        p.fillRect(QRect(bar.x() + 1, bar.y() + 1, static_cast<int>((bar.width() - 2) * share),
                         bar.height() - 2),
                   pal.highlight());
        p.drawText(QRect(barX + barW + digit, y, digit * 7, line),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
    // Buttons, lit while pressed, then the hat.
    const int by = line * 7;
    const int size = line - 4;
    const int boxWidth = std::max(size, digit * 2 + 4);
    for (int b = 0; b < kButtons; ++b) {
        const QRect box(b * (boxWidth + 3), by, boxWidth, size);
        const bool down = (state_.buttons[b] & 0x80) != 0;
        p.fillRect(box, down ? pal.highlight() : pal.button());
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setPen(down ? pal.highlightedText().color() : pal.buttonText().color());
        p.drawText(box, Qt::AlignCenter, QString::number(b + 1));
        p.setPen(pal.text().color());
    }
    const std::uint32_t pov = state_.pov[0];
    p.drawText(QRect(0, by + line + 2, left, line), Qt::AlignLeft | Qt::AlignVCenter,
               pov == platform::kPovCentred
                   ? QStringLiteral("Hat: centred")
                   : QStringLiteral("Hat: %1\u00b0").arg(pov / 100.0, 0, 'f', 0));
    // The messages sent, newest last.
    p.drawText(QRect(left, 0, width() - left, line), Qt::AlignLeft,
               QStringLiteral("Last messages sent"));
    for (int i = 0; i < sentCount_; ++i) {
        p.drawText(QRect(left, line * (i + 1), width() - left, line), Qt::AlignLeft,
                   QStringLiteral("%1  %2")
                       .arg(sent_[i].timeMs / 1000.0, 8, 'f', 3)
                       .arg(MessageText(sent_[i].message)));
    }
}
