#include "axis_options.h"

#include <QRegularExpressionValidator>

#include "data_exchange.h"
#include "dialog_fit.h"
#include "prompter.h"
#include "tamborex/devices/joystick.h"
#include "tamborex/engine/axis_shaper.h"
#include "tamborex/model/controller_names.h"
#include "ui_axis_options.h"

namespace {

QString ControllerText(std::int32_t selection) {
    if (selection == kSelectNone) {
        return QStringLiteral("None");
    }
    if (selection == kSelectPitchBend) {
        return QStringLiteral("Pitch bend");
    }
    return QString::fromStdString(ControllerName(ControllerOfSelection(selection)));
}

}  // namespace

CAxisOptions::CAxisOptions(AxisRecord& record, int axis, const QString& label, CJoystick& joystick,
                           CPrompter& prompter, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CAxisOptions>()),
      record_(record),
      axis_(axis),
      joystick_(joystick),
      prompter_(prompter),
      values_(record) {
    ui_->setupUi(this);
    SizeForDigits(*ui_->chanEdit, 2);
    for (QLineEdit* edit : {ui_->minEdit, ui_->maxEdit, ui_->nrpn1Edit, ui_->nrpn2Edit}) {
        SizeForDigits(*edit, 3);
    }
    SizeForDigits(*ui_->moveEdit, 5);
    ui_->chanEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    ui_->axisText->setText(label);
    ui_->controllerText->setText(ControllerText(record.controller));
    const bool nrpn =
        record.controller == kSelectNrpnFine || record.controller == kSelectNrpnCoarse;
    ui_->nrpnCaption->setText(nrpn ? QStringLiteral("NRPN message") : QStringLiteral("(Unused)"));
    ui_->nrpn1Label->setText(nrpn ? QStringLiteral("NRPN MSB : ") : QStringLiteral("data 1 : "));
    ui_->nrpn2Label->setText(nrpn ? QStringLiteral("NRPN LSB : ") : QStringLiteral("data 2 : "));
    ui_->nrpn1Edit->setEnabled(nrpn);
    ui_->nrpn2Edit->setEnabled(nrpn);
    SetRangeFieldsEnabled(record.fullRange == 0);

    ui_->polarityCheck->setChecked(record.reversePolarity != 0);
    PutInt(ui_->chanEdit, record.channel);
    PutInt(ui_->maxEdit, record.max);
    PutInt(ui_->minEdit, record.min);
    ui_->partialRadio->setChecked(record.fullRange == 0);
    ui_->fullRadio->setChecked(record.fullRange != 0);
    PutInt(ui_->nrpn1Edit, record.nrpnMsb);
    PutInt(ui_->nrpn2Edit, record.nrpnLsb);
    PutInt(ui_->moveEdit, record.minimumMovement);

    // Only what the user does counts as a change, not the values shown on opening.
    connect(ui_->polarityCheck, &QCheckBox::clicked, this, [this] {
        Touch();
        record_.reversePolarity = values_.reversePolarity;
    });
    connect(ui_->fullRadio, &QRadioButton::clicked, this, [this] {
        Touch();
        record_.fullRange = 1;
        // A shaped axis is read at 16 bits whatever its range; the engine scales it.
        if (!IsShaped(record_)) {
            (void)joystick_.SetAxisRange(axis_, 0, 127);
        }
        SetRangeFieldsEnabled(false);
    });
    connect(ui_->partialRadio, &QRadioButton::clicked, this, [this] {
        Touch();
        record_.fullRange = 0;
        ApplyRange();
        SetRangeFieldsEnabled(true);
    });
    connect(ui_->minEdit, &QLineEdit::textEdited, this, [this] {
        Touch();
        record_.min = values_.min;
        ApplyRange();
    });
    connect(ui_->maxEdit, &QLineEdit::textEdited, this, [this] {
        Touch();
        record_.max = values_.max;
        ApplyRange();
    });
    connect(ui_->chanEdit, &QLineEdit::textEdited, this, [this] {
        Touch();
        record_.channel = values_.channel;
    });
    connect(ui_->nrpn1Edit, &QLineEdit::textEdited, this, [this] {
        Touch();
        record_.nrpnMsb = values_.nrpnMsb;
    });
    connect(ui_->nrpn2Edit, &QLineEdit::textEdited, this, [this] {
        Touch();
        record_.nrpnLsb = values_.nrpnLsb;
    });
    connect(ui_->moveEdit, &QLineEdit::textEdited, this, [this] {
        Touch();
        record_.minimumMovement = values_.minimumMovement;
    });
    connect(ui_->okButton, &QPushButton::clicked, this, &CAxisOptions::accept);
    FitToScreen(*this, ui_->bodyScroll);
}

CAxisOptions::~CAxisOptions() = default;

void CAxisOptions::Touch() {
    changed_ = true;
    CDataExchange dx(prompter_, this);
    // The range choice, read between "Chan" and "Max", cannot fail and the handlers of its two
    // buttons set the record themselves.
    // Every value that goes out as a MIDI byte is held to its range: a channel of 16 would send
    // another kind of message, a Max of 200 another value.
    (void)(dx.Int(ui_->nrpn1Edit, values_.nrpnMsb, 0, 127) &&
           dx.Int(ui_->nrpn2Edit, values_.nrpnLsb, 0, 127) &&
           dx.Int(ui_->chanEdit, values_.channel, 0, 15) &&
           dx.Int(ui_->maxEdit, values_.max, 0, 127) && dx.Int(ui_->minEdit, values_.min, 0, 127) &&
           dx.Check(ui_->polarityCheck, values_.reversePolarity) &&
           dx.Int(ui_->moveEdit, values_.minimumMovement));
}

void CAxisOptions::ApplyRange() {
    // A refused range is not reported: the axis keeps reading in its old one.
    const DeviceRange range = DeviceRangeOf(record_);
    (void)joystick_.SetAxisRange(axis_, range.min, range.max);
}

void CAxisOptions::SetRangeFieldsEnabled(bool enabled) {
    ui_->minEdit->setEnabled(enabled);
    ui_->maxEdit->setEnabled(enabled);
}

void CAxisOptions::accept() {
    if (values_.max < values_.min) {
        prompter_.Warn(this, QStringLiteral("Axis range error: MIN > MAX"));
        return;
    }
    QDialog::accept();
}
