#include "platform/live_monitor_view.h"

#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cstring>

namespace platform {
namespace {
constexpr int kFrameMs = 16;  // 60 looks a second: every change is shown within a frame
const char* const kAxisNames[LiveMonitorView::kAxes] = {"X", "Y", "Z", "XR", "YR", "ZR"};
}  // namespace

QString LiveMonitorView::MessageText(std::uint32_t m) {
    const int status = static_cast<int>(m & 0xFF);
    const int d1 = static_cast<int>((m >> 8) & 0x7F);
    const int d2 = static_cast<int>((m >> 16) & 0x7F);
    const int ch = (status & 0x0F) + 1;  // as musicians count channels
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

LiveMonitorView::LiveMonitorView(const QString& program, QWidget* parent)
    : QWidget(parent), timer_(new QTimer(this)) {
    setToolTip(QStringLiteral("What the controller does and what %1 sends: each axis as read, "
                              "the buttons lit while pressed, the hat, and the last 16 messages "
                              "sent with the time in seconds. It updates only while shown.")
                   .arg(program));
    timer_->setInterval(kFrameMs);
    connect(timer_, &QTimer::timeout, this, &LiveMonitorView::Look);
}

LiveMonitorView::~LiveMonitorView() = default;

LiveMonitorView::Span LiveMonitorView::AxisSpan(int) const {
    return {};
}

QSize LiveMonitorView::sizeHint() const {
    const int line = fontMetrics().height();
    return {fontMetrics().horizontalAdvance(QLatin1Char('0')) * 72,
            line * (MidiSentLog::kEntries + 1)};
}

QSize LiveMonitorView::minimumSizeHint() const {
    // The controller whole (axes, two rows of buttons, the hat) and the newest messages beside.
    const int line = fontMetrics().height();
    return {fontMetrics().horizontalAdvance(QLatin1Char('0')) * 50, line * (kAxes + 5)};
}

QStringList LiveMonitorView::SentLines() const {
    QStringList lines;
    for (int i = 0; i < sentCount_; ++i) {
        lines.push_back(QStringLiteral("%1  %2")
                            .arg(sent_[i].timeMs / 1000.0, 8, 'f', 3)
                            .arg(MessageText(sent_[i].message)));
    }
    return lines;
}

void LiveMonitorView::showEvent(QShowEvent* event) {
    AttachLog(&log_);
    timer_->start();
    Look();
    QWidget::showEvent(event);
}

void LiveMonitorView::hideEvent(QHideEvent* event) {
    timer_->stop();
    AttachLog(nullptr);
    QWidget::hideEvent(event);
}

void LiveMonitorView::Look() {
    RawJoyState now{};
    const bool have = ReadController(now);
    bool changed = have != haveState_ || (have && std::memcmp(&now, &state_, sizeof now) != 0);
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

void LiveMonitorView::paintEvent(QPaintEvent*) {
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
        const Span span = AxisSpan(a);
        const std::int32_t v = state_.axes[a];
        const double share = span.high > span.low
                                 ? std::clamp((v - span.low) / (span.high - span.low), 0.0, 1.0)
                                 : 0.0;
        p.fillRect(QRect(bar.x() + 1, bar.y() + 1, static_cast<int>((bar.width() - 2) * share),
                         bar.height() - 2),
                   pal.highlight());
        p.drawText(QRect(barX + barW + digit, y, digit * 7, line),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
    // Buttons, lit while pressed, in as many rows as the left side needs; then the hat.
    const int size = line - 4;
    const int boxWidth = std::max(size, digit * 2 + 4);
    const int perRow = std::max(1, (left + 3) / (boxWidth + 3));
    const int top = line * (kAxes + (haveState_ ? 1 : 2));
    for (int b = 0; b < kButtons; ++b) {
        const QRect box((b % perRow) * (boxWidth + 3), top + (b / perRow) * line, boxWidth, size);
        const bool down = (state_.buttons[b] & 0x80) != 0;
        p.fillRect(box, down ? pal.highlight() : pal.button());
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setPen(down ? pal.highlightedText().color() : pal.buttonText().color());
        p.drawText(box, Qt::AlignCenter, QString::number(b + 1));
        p.setPen(pal.text().color());
    }
    const int rows = (kButtons + perRow - 1) / perRow;
    const std::uint32_t pov = state_.pov[0];
    p.drawText(QRect(0, top + rows * line + 2, left, line), Qt::AlignLeft | Qt::AlignVCenter,
               pov == kPovCentred ? QStringLiteral("Hat: centred")
                                  : QStringLiteral("Hat: %1\u00b0").arg(pov / 100.0, 0, 'f', 0));
    // The messages sent, newest last, clear of the axes' values.
    const int messagesX = left + digit * 2;
    p.drawText(QRect(messagesX, 0, width() - messagesX, line), Qt::AlignLeft,
               QStringLiteral("Last messages sent"));
    // Where the window left less room than all of them need, the newest that fit.
    const QStringList lines = SentLines();
    const int room = std::max(1, height() / line - 1);
    const int first = std::max(0, static_cast<int>(lines.size()) - room);
    for (int i = first; i < lines.size(); ++i) {
        p.drawText(QRect(messagesX, line * (i - first + 1), width() - messagesX, line),
                   Qt::AlignLeft, lines[i]);
    }
}

}  // namespace platform
