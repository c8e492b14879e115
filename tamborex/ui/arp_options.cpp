#include "arp_options.h"

#include <QLabel>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QTimer>

#include "data_exchange.h"
#include "dialog_fit.h"
#include "prompter.h"
#include "ui_arp_options.h"

CArpOptions::CArpOptions(ButtonRecord& record, CPrompter& prompter, QWidget* parent,
                         std::function<bool()> clockArriving)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CArpOptions>()),
      record_(record),
      prompter_(prompter),
      clockArriving_(std::move(clockArriving)) {
    ui_->setupUi(this);
    clockLabel_ = new QLabel(this);
    clockLabel_->setObjectName(QStringLiteral("clockLabel"));
    clockLabel_->setWordWrap(true);
    clockLabel_->setToolTip(
        QStringLiteral("An automatic arpeggio steps with MIDI timing clock coming in on the MIDI "
                       "input chosen in Global options; without clock it holds its first note."));
    ui_->dialogLayout->insertWidget(ui_->dialogLayout->count() - 1, clockLabel_);
    if (clockArriving_) {
        auto* watch = new QTimer(this);
        connect(watch, &QTimer::timeout, this, &CArpOptions::ShowClock);
        watch->start(250);
    }
    noteEdits_ = {ui_->noteEdit0, ui_->noteEdit1, ui_->noteEdit2, ui_->noteEdit3,
                  ui_->noteEdit4, ui_->noteEdit5, ui_->noteEdit6, ui_->noteEdit7};
    velEdits_ = {ui_->velEdit0, ui_->velEdit1, ui_->velEdit2, ui_->velEdit3,
                 ui_->velEdit4, ui_->velEdit5, ui_->velEdit6, ui_->velEdit7};
    timeEdits_ = {ui_->timeEdit0, ui_->timeEdit1, ui_->timeEdit2, ui_->timeEdit3,
                  ui_->timeEdit4, ui_->timeEdit5, ui_->timeEdit6, ui_->timeEdit7};
    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (int k = 0; k < kArpSteps; ++k) {
        for (QLineEdit* edit : {noteEdits_[k], velEdits_[k], timeEdits_[k]}) {
            edit->setValidator(digits);
        }
        SizeForDigits(*noteEdits_[k], 3);
        SizeForDigits(*velEdits_[k], 3);
        SizeForDigits(*timeEdits_[k], 5);
    }
    FitToScreen(*this);
    // The count changes only through the arrows.
    ui_->stepsSpin->findChild<QLineEdit*>()->setReadOnly(true);
    ui_->stepsSpin->setRange(1, 8);

    values_ = record;
    initialised_ = true;
    UpdateSteps(false);

    connect(ui_->stepsSpin, &QSpinBox::valueChanged, this, [this] { UpdateSteps(true); });
    connect(ui_->autoCheck, &QCheckBox::clicked, this, [this] { UpdateSteps(true); });
    ShowClock();
    connect(ui_->okButton, &QPushButton::clicked, this, &CArpOptions::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CArpOptions::~CArpOptions() = default;

bool CArpOptions::ReadFields() {
    CDataExchange dx(prompter_, this);
    values_.stepCount = ui_->stepsSpin->value();
    // Notes and velocities go out as MIDI bytes; a step's length in clock ticks has no such bound.
    for (auto [edits, values] :
         {std::pair{&noteEdits_, &values_.notes}, std::pair{&velEdits_, &values_.velocities}}) {
        for (int k = 0; k < kArpSteps; ++k) {
            if (!dx.Int((*edits)[k], (*values)[k], 0, 127)) {
                return false;
            }
        }
    }
    for (int k = 0; k < kArpSteps; ++k) {
        if (!dx.Int(timeEdits_[k], values_.times[k])) {
            return false;
        }
    }
    return dx.Check(ui_->autoCheck, values_.autoArpeggiation);
}

void CArpOptions::PutFields() {
    const QSignalBlocker block(ui_->stepsSpin);
    ui_->stepsSpin->setValue(values_.stepCount);
    for (int k = 0; k < kArpSteps; ++k) {
        PutInt(noteEdits_[k], values_.notes[k]);
        PutInt(velEdits_[k], values_.velocities[k]);
        PutInt(timeEdits_[k], values_.times[k]);
    }
    ui_->autoCheck->setChecked(values_.autoArpeggiation != 0);
}

void CArpOptions::UpdateSteps(bool reread) {
    if (!initialised_) {
        return;
    }
    if (reread) {
        ReadFields();
    }
    values_.stepCount = std::clamp(values_.stepCount, 1, kArpSteps);
    for (int k = 0; k < kArpSteps; ++k) {
        const bool used = k < values_.stepCount;
        noteEdits_[k]->setEnabled(used);
        velEdits_[k]->setEnabled(used);
        timeEdits_[k]->setEnabled(used && values_.autoArpeggiation != 0);
    }
    PutFields();
    ShowClock();
}

void CArpOptions::ShowClock() {
    if (clockLabel_ == nullptr) {
        return;
    }
    const bool automatic = ui_->autoCheck->isChecked();
    clockLabel_->setVisible(automatic);
    const bool clock = clockArriving_ && clockArriving_();
    clockLabel_->setText(
        clock ? QStringLiteral("MIDI clock is coming in: the arpeggio steps with it.")
              : QStringLiteral("waiting for MIDI clock: it steps only with MIDI "
                               "clock coming in on the MIDI input."));
}

void CArpOptions::accept() {
    if (!ReadFields()) {
        return;
    }
    record_.notes = values_.notes;
    record_.velocities = values_.velocities;
    record_.times = values_.times;
    record_.stepCount = values_.stepCount;
    record_.autoArpeggiation = values_.autoArpeggiation;
    QDialog::accept();
}
