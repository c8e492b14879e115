// The Joystick options' learning and live monitor: "Learn" picks the row of the control the
// player moves, a row's "MIDI" button fills it from the next message at the MIDI input, and
// "Monitor" shows what the controller does and what goes out.

#include <QGridLayout>
#include <QLabel>
#include <QTimer>
#include <QToolButton>

#include "joy_options.h"
#include "live_monitor.h"
#include "midi_learn.h"
#include "tamborex/model/learned_target.h"
#include "tamborex/session/session.h"
#include "ui_joy_options.h"

namespace {
constexpr int kLearnLookMs = 10;
}  // namespace

void CJoyOptions::AddLearnAndMonitor() {
    learnButton_ = new QPushButton(QStringLiteral("&Learn"), this);
    learnButton_->setObjectName(QStringLiteral("learnButton"));
    learnButton_->setAutoDefault(false);
    learnButton_->setToolTip(QStringLiteral(
        "Move one control of the controller: its row is picked. An axis must travel well past "
        "its noise; a button or the hat is picked by its first press. Escape cancels."));
    monitorButton_ = new QPushButton(QStringLiteral("&Monitor"), this);
    monitorButton_->setObjectName(QStringLiteral("monitorButton"));
    monitorButton_->setAutoDefault(false);
    monitorButton_->setCheckable(true);
    monitorButton_->setToolTip(
        QStringLiteral("Shows or hides the live monitor: the controller's axes, buttons and hat, "
                       "and the last messages sent."));
    learnStatus_ = new QLabel(this);
    learnStatus_->setObjectName(QStringLiteral("learnStatus"));
    learnStatus_->setWordWrap(true);
    learnStatus_->setToolTip(QStringLiteral("What the last learn found."));
    ui_->okRow->insertWidget(0, learnButton_);
    ui_->okRow->insertWidget(1, monitorButton_);
    ui_->okRow->insertWidget(2, learnStatus_, 1);
    // The monitor goes between the fields and the buttons, shown only on request.
    monitor_ = new CLiveMonitor(session_.JoystickService(), session_.Engine(), this);
    monitor_->setObjectName(QStringLiteral("liveMonitor"));
    monitor_->hide();
    ui_->dialogLayout->insertWidget(ui_->dialogLayout->indexOf(ui_->bodyScroll) + 1, monitor_);
    connect(monitorButton_, &QPushButton::toggled, monitor_, &QWidget::setVisible);
    connect(learnButton_, &QPushButton::clicked, this, &CJoyOptions::StartLearn);

    auto* grid = qobject_cast<QGridLayout*>(ui_->buttonGrid);
    for (int b = 0; b < kPolledButtons; ++b) {
        auto* learn = new QToolButton(this);
        learn->setObjectName(QStringLiteral("midiLearn%1").arg(b));
        learn->setText(QStringLiteral("MIDI"));
        learn->setToolTip(QStringLiteral(
            "Learn from MIDI: the next note, pedal (controllers 64 to 67) or program change "
            "arriving at the MIDI input fills this row's mode, data and channel."));
        grid->addWidget(learn, b + 1, grid->columnCount() > 6 ? grid->columnCount() - 1 : 6);
        QWidget::setTabOrder(arpButtons_[b], learn);
        connect(learn, &QToolButton::clicked, this, [this, b] { StartMidiLearn(b); });
        midiLearnButtons_[b] = learn;
    }
    midiLearn_ = new CMidiLearn(session_.Engine(), this);
    learnTimer_ = new QTimer(this);
    learnTimer_->setInterval(kLearnLookMs);
    connect(learnTimer_, &QTimer::timeout, this, &CJoyOptions::LearnTick);
}

bool CJoyOptions::Learning() const {
    return learnTimer_->isActive() || midiLearn_->Running();
}

QString CJoyOptions::LearnStatus() const {
    return learnStatus_->text();
}

void CJoyOptions::StartLearn() {
    midiLearn_->Cancel();
    std::array<platform::ControlLearner::Range, kAxisCount> ranges{};
    for (int a = 0; a < kAxisCount; ++a) {
        const AxisRecord& axis = Patch().axes[a];
        ranges[a] = axis.fullRange ? platform::ControlLearner::Range{0, 127}
                                   : platform::ControlLearner::Range{axis.min, axis.max};
    }
    learnClock_.start();
    learner_.Start(ranges, 0);
    learnStatus_->setText(QStringLiteral("Move one control… (Escape cancels)"));
    learnTimer_->start();
    LearnTick();
}

void CJoyOptions::LearnTick() {
    platform::JoystickService& service = session_.JoystickService();
    platform::RawJoyState state{};
    if (!ReadController(service, state)) {
        EndLearn(QStringLiteral("No controller to learn from."));
        return;
    }
    using State = platform::ControlLearner::State;
    const State s =
        learner_.Feed(static_cast<std::uint64_t>(learnClock_.elapsed()), state, kAxisCount);
    if (s == State::TimedOut) {
        EndLearn(QStringLiteral(
            "No control moved clearly within 10 seconds; learning stopped. Try again with a "
            "wider move."));
        return;
    }
    if (s != State::Chosen) {
        return;
    }
    const auto& c = learner_.Chosen();
    using Kind = platform::ControlLearner::Kind;
    if (c.kind == Kind::Axis) {
        axisLists_[c.index]->setFocus();
        const char* rest =
            c.rest == platform::ControlLearner::Rest::Low    ? ", resting at its low end"
            : c.rest == platform::ControlLearner::Rest::High ? ", resting at its high end"
                                                             : "";
        EndLearn(QStringLiteral("%1 (moved %2%3).")
                     .arg(QString::fromLatin1(AxisLabel(c.index)),
                          c.direction > 0 ? QStringLiteral("up") : QStringLiteral("down"),
                          QString::fromLatin1(rest)));
    } else if (c.kind == Kind::Button && c.index < kPolledButtons) {
        modeLists_[c.index]->setFocus();
        EndLearn(QStringLiteral("Button %1.").arg(c.index + 1));
    } else if (c.kind == Kind::Button) {
        EndLearn(QStringLiteral("Button %1: a patch plays buttons 1 to %2 only.")
                     .arg(c.index + 1)
                     .arg(kPolledButtons));
    } else {
        EndLearn(QStringLiteral("The hat: a patch does not play it."));
    }
}

void CJoyOptions::EndLearn(const QString& status) {
    learnTimer_->stop();
    learner_.Cancel();
    midiLearn_->Cancel();
    learnStatus_->setText(status);
}

void CJoyOptions::StartMidiLearn(int button) {
    learnTimer_->stop();
    if (session_.MidiIn().CurrentDevice() < 0) {
        learnStatus_->setText(
            QStringLiteral("No MIDI input is open: choose one in Global options first."));
        return;
    }
    learnStatus_->setText(
        QStringLiteral("Button %1: play a note, a pedal or a program change… (Escape cancels)")
            .arg(button + 1));
    midiLearn_->Start([this, button](const platform::MidiLearnClassifier::Result& learnt) {
        OnMidiLearnt(button, learnt);
    });
}

void CJoyOptions::OnMidiLearnt(int button, const platform::MidiLearnClassifier::Result& learnt) {
    if (learnt.kind == platform::MidiLearnClassifier::Kind::None) {
        learnStatus_->setText(
            QStringLiteral("Nothing arrived at the MIDI input within 10 seconds."));
        return;
    }
    ReadControls();
    ButtonRecord row = Patch().buttons[button];
    std::string why;
    if (!ApplyLearnedToButton(learnt, row, why)) {
        learnStatus_->setText(QString::fromStdString(DescribeLearned(learnt) + ": " + why));
        return;
    }
    session_.SetButtonMode(button, row.mode);
    fields_.modes[button] = row.mode;
    fields_.data1[button] = row.data1;
    fields_.data2[button] = row.data2;
    fields_.channels[button] = row.channel;
    SetRowEnabled(button);
    PutControls();
    learnStatus_->setText(QStringLiteral("Button %1: %2 (Apply keeps it).")
                              .arg(button + 1)
                              .arg(QString::fromStdString(DescribeLearned(learnt))));
}
