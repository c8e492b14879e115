// Corvane's window learning a control and showing the live monitor: "Learn" selects the row of
// the control the player moves, "Monitor" shows what the controller does and what goes out.

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "live_monitor.h"
#include "main_dialog.h"
#include "mapper.h"
#include "ui_main_dialog.h"

namespace corvane {
namespace {

constexpr int kLearnLookMs = 10;
// Every slot the controller has, so that a move of one Corvane does not play is named rather
// than waited for.
constexpr int kLearnAxes = platform::kJoyAxisSlots;
const char* const kOtherAxes[kLearnAxes] = {nullptr,
                                            nullptr,
                                            nullptr,
                                            "The X rotation axis",
                                            "The Y rotation axis",
                                            "The Z rotation axis",
                                            "The first slider",
                                            "The second slider"};

}  // namespace

void MainDialog::AddLearnAndMonitor() {
    learnButton_ = new QPushButton(tr("&Learn"), ui_->controlsGroup);
    learnButton_->setObjectName(QStringLiteral("learnButton"));
    learnButton_->setAutoDefault(false);
    learnButton_->setToolTip(
        tr("Move one control of the controller (an axis well past its noise, or press a button) "
           "and its row is selected for editing. Escape cancels."));
    ui_->controlsLayout->addWidget(learnButton_);

    monitorButton_ = new QPushButton(tr("&Monitor"), this);
    monitorButton_->setObjectName(QStringLiteral("monitorButton"));
    monitorButton_->setAutoDefault(false);
    monitorButton_->setCheckable(true);
    monitorButton_->setToolTip(
        tr("Shows or hides the live monitor: the controller's axes, buttons and hat, and the "
           "last messages Corvane sent."));
    ui_->buttonRow->insertWidget(ui_->buttonRow->indexOf(ui_->resetButton), monitorButton_);

    learnStatus_ = new QLabel(tr("Learn selects the row of the control you move."), this);
    learnStatus_->setObjectName(QStringLiteral("learnStatus"));
    learnStatus_->setWordWrap(true);
    learnStatus_->setToolTip(tr("What the last Learn found."));
    ui_->mainLayout->insertWidget(ui_->mainLayout->indexOf(controllerLabel_) + 1, learnStatus_);

    // Between the assignments and the buttons, shown only on request.
    monitor_ = new LiveMonitor(mapper_, this);
    monitor_->setObjectName(QStringLiteral("liveMonitor"));
    monitor_->hide();
    ui_->mainLayout->insertWidget(ui_->mainLayout->indexOf(ui_->buttonRow), monitor_, 1);

    // After the assignment's fields, so that Tab from the list still reaches Type first; then
    // Monitor before the buttons it sits beside.
    QWidget::setTabOrder(ui_->overrideBox, learnButton_);
    QWidget::setTabOrder(learnButton_, monitorButton_);
    QWidget::setTabOrder(monitorButton_, ui_->resetButton);

    learnTimer_ = new QTimer(this);
    learnTimer_->setInterval(kLearnLookMs);
    connect(learnTimer_, &QTimer::timeout, this, &MainDialog::LearnTick);
    connect(learnButton_, &QPushButton::clicked, this, &MainDialog::StartLearn);
    connect(monitorButton_, &QPushButton::toggled, this, &MainDialog::MonitorToggled);
}

namespace {
// The whole size the window asks for (all 16 messages in sight), as far as its screen allows,
// and moved up where it would reach below the screen. Qt's own adjustSize stops at two thirds
// of the screen.
void FitOnScreen(QWidget& window) {
    const QRect free = window.screen()->availableGeometry();
    const QSize frame = window.frameGeometry().size() - window.size();
    QSize want = window.sizeHint().expandedTo(window.minimumSizeHint());
    want = want.boundedTo(free.size() - frame).expandedTo(window.minimumSizeHint());
    window.resize(want);
    const QRect at = window.frameGeometry();
    if (at.bottom() > free.bottom()) {
        window.move(window.x(), std::max(free.top(), free.bottom() - at.height() + 1));
    }
}
}  // namespace

void MainDialog::MonitorToggled(bool shown) {
    if (!shown) {
        monitor_->hide();
        if (monitorWindow_ != nullptr) {
            monitorWindow_->hide();
        }
        QTimer::singleShot(0, this, [this] { adjustSize(); });
        return;
    }
    // In the window, which grows to show it, where the screen has room below; on a short
    // screen (a small laptop at double scale) in a window of its own beside this one, so that
    // neither reaches past the screen.
    const QRect free = screen()->availableGeometry();
    const int need = frameGeometry().height() + monitor_->minimumSizeHint().height() +
                     ui_->mainLayout->spacing();
    if (need <= free.height()) {
        if (monitor_->parentWidget() != this) {
            ui_->mainLayout->insertWidget(ui_->mainLayout->indexOf(ui_->buttonRow), monitor_, 1);
        }
        monitor_->show();
        QTimer::singleShot(0, this, [this] { FitOnScreen(*this); });
        return;
    }
    if (monitorWindow_ == nullptr) {
        monitorWindow_ = new QWidget(this, Qt::Tool);
        monitorWindow_->setObjectName(QStringLiteral("monitorWindow"));
        monitorWindow_->setWindowTitle(tr("Corvane Monitor"));
        monitorWindow_->installEventFilter(this);
        new QVBoxLayout(monitorWindow_);
    }
    monitorWindow_->layout()->addWidget(monitor_);
    monitor_->show();
    monitorWindow_->move(free.topLeft());
    monitorWindow_->show();
    FitOnScreen(*monitorWindow_);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    // Closing the monitor's own window is pressing Monitor again.
    if (watched == monitorWindow_ && event->type() == QEvent::Close) {
        monitorButton_->setChecked(false);
    }
    return QDialog::eventFilter(watched, event);
}

bool MainDialog::Learning() const {
    return learnTimer_->isActive();
}

QString MainDialog::LearnStatus() const {
    return learnStatus_->text();
}

void MainDialog::StartLearn() {
    std::array<platform::ControlLearner::Range, kLearnAxes> ranges{};
    learnClock_.start();
    learner_.Start(ranges, 0);
    learnStatus_->setText(tr("Move one control\u2026 (Escape cancels)"));
    learnTimer_->start();
    LearnTick();
}

void MainDialog::LearnTick() {
    platform::RawJoyState state{};
    if (mapper_.Joystick().ReadWhole(state) != platform::JoyResult::Ok) {
        EndLearn(tr("No controller to learn from: plug one in and press Learn again."));
        return;
    }
    using State = platform::ControlLearner::State;
    const State s =
        learner_.Feed(static_cast<std::uint64_t>(learnClock_.elapsed()), state, kLearnAxes);
    if (s == State::TimedOut) {
        EndLearn(
            tr("No control moved clearly within 10 seconds; learning stopped. Try again with a "
               "wider move."));
        return;
    }
    if (s != State::Chosen) {
        return;
    }
    using Kind = platform::ControlLearner::Kind;
    using Rest = platform::ControlLearner::Rest;
    const platform::ControlLearner::Choice& c = learner_.Chosen();
    int row = -1;
    QString found;
    if (c.kind == Kind::Axis && c.index <= kZAxis) {
        row = c.index;
        // Said in the terms of the fields: the Y axis sends more as the stick goes forward,
        // that is as its position falls.
        const bool reversed = row == kYAxis;
        const bool towardsMax = (c.direction > 0) != reversed;
        const QString from = c.rest == Rest::Centre ? QString()
                             : ((c.rest == Rest::High) != reversed)
                                 ? tr(", from rest at its Max end")
                                 : tr(", from rest at its Min end");
        found = tr("%1: moved towards %2%3.")
                    .arg(QString::fromLatin1(ControlLabels()[row]),
                         towardsMax ? QStringLiteral("Max") : QStringLiteral("Min"), from);
    } else if (c.kind == Kind::Axis) {
        found = tr("%1 moved: Corvane plays only the X, Y and Z axes.")
                    .arg(QString::fromLatin1(kOtherAxes[c.index]));
    } else if (c.kind == Kind::Button && c.index < 4) {
        row = kButton1 + c.index;
        found = QString::fromLatin1(ControlLabels()[row]) + QLatin1Char('.');
    } else if (c.kind == Kind::Button) {
        found = tr("Button %1: Corvane plays buttons 1 to 4 only.").arg(c.index + 1);
    } else {
        found = tr("The hat: Corvane does not play it.");
    }
    EndLearn(found);
    if (row >= 0) {
        ui_->controlList->setCurrentRow(row);
        ui_->typeBox->setFocus(Qt::OtherFocusReason);
    }
}

void MainDialog::EndLearn(const QString& status) {
    learnTimer_->stop();
    learner_.Cancel();
    learnStatus_->setText(status);
}

}  // namespace corvane
