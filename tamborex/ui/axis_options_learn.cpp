// "Learn from MIDI" in the Axis options.

#include <QLabel>
#include <QPushButton>

#include "axis_options.h"
#include "data_exchange.h"
#include "midi_learn.h"
#include "tamborex/devices/joystick.h"
#include "tamborex/model/controller_names.h"
#include "tamborex/model/learned_target.h"
#include "ui_axis_options.h"

void CAxisOptions::EnableMidiLearn(CEngine& engine) {
    if (midiLearn_ != nullptr) {
        return;
    }
    engine_ = &engine;
    midiLearn_ = new CMidiLearn(engine, this);
    learnButton_ = new QPushButton(QStringLiteral("Learn from MIDI"), this);
    learnButton_->setObjectName(QStringLiteral("midiLearnButton"));
    learnButton_->setAutoDefault(false);
    learnButton_->setToolTip(QStringLiteral(
        "Move a knob, fader or wheel of a MIDI controller on the MIDI input: its control change "
        "(a 14-bit pair too), NRPN or pitch bend and its channel become this axis' target. "
        "Escape cancels."));
    learnStatus_ = new QLabel(this);
    learnStatus_->setObjectName(QStringLiteral("midiLearnStatus"));
    learnStatus_->setWordWrap(true);
    ui_->okRow->insertWidget(0, learnButton_);
    ui_->okRow->insertWidget(1, learnStatus_, 1);
    connect(learnButton_, &QPushButton::clicked, this, &CAxisOptions::StartMidiLearn);
}

QString CAxisOptions::LearnStatus() const {
    return learnStatus_ != nullptr ? learnStatus_->text() : QString();
}

void CAxisOptions::reject() {
    if (midiLearn_ != nullptr && midiLearn_->Running()) {
        midiLearn_->Cancel();
        learnStatus_->setText(QStringLiteral("Learning cancelled."));
        return;
    }
    QDialog::reject();
}

void CAxisOptions::StartMidiLearn() {
    learnStatus_->setText(QStringLiteral("Move a control on the MIDI input… (Escape cancels)"));
    midiLearn_->Start([this](const platform::MidiLearnClassifier::Result& learnt) {
        if (learnt.kind == platform::MidiLearnClassifier::Kind::None) {
            learnStatus_->setText(
                QStringLiteral("Nothing arrived at the MIDI input within 10 seconds."));
            return;
        }
        std::string why;
        if (!ApplyLearnedToAxis(learnt, record_, why)) {
            learnStatus_->setText(QString::fromStdString(DescribeLearned(learnt) + ": " + why));
            return;
        }
        changed_ = true;
        values_.controller = record_.controller;
        values_.channel = record_.channel;
        values_.nrpnMsb = record_.nrpnMsb;
        values_.nrpnLsb = record_.nrpnLsb;
        const bool nrpn =
            record_.controller == kSelectNrpnFine || record_.controller == kSelectNrpnCoarse;
        ui_->controllerText->setText(record_.controller == kSelectPitchBend
                                         ? QStringLiteral("Pitch bend")
                                         : QString::fromStdString(ControllerName(
                                               ControllerOfSelection(record_.controller))));
        ui_->nrpnCaption->setText(nrpn ? QStringLiteral("NRPN message")
                                       : QStringLiteral("(Unused)"));
        ui_->nrpn1Label->setText(nrpn ? QStringLiteral("NRPN MSB : ")
                                      : QStringLiteral("data 1 : "));
        ui_->nrpn2Label->setText(nrpn ? QStringLiteral("NRPN LSB : ")
                                      : QStringLiteral("data 2 : "));
        ui_->nrpn1Edit->setEnabled(nrpn);
        ui_->nrpn2Edit->setEnabled(nrpn);
        PutInt(ui_->chanEdit, record_.channel);
        PutInt(ui_->nrpn1Edit, record_.nrpnMsb);
        PutInt(ui_->nrpn2Edit, record_.nrpnLsb);
        learnStatus_->setText(QString::fromStdString(DescribeLearned(learnt)));
    });
}
