#include "joy_info.h"

#include "dialog_fit.h"
#include "ui_joy_info.h"

CJoyInfo::CJoyInfo(const platform::JoystickCaps& caps, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CJoyInfo>()) {
    ui_->setupUi(this);
    ui_->maxAxesEdit->setText(QString::number(caps.maxAxes));
    ui_->maxButtonsEdit->setText(QString::number(caps.maxButtons));
    ui_->numAxesEdit->setText(QString::number(caps.numAxes));
    ui_->numButtonsEdit->setText(QString::number(caps.numButtons));
    ui_->regKeyEdit->setText(QString::fromStdString(caps.path));
    ui_->deviceEdit->setText(QString::fromStdString(caps.name));
    ui_->driverEdit->setText(QString::fromStdString(caps.driver));
    // Ours: what the patch remembers the controller by, and how many buttons play.
    ui_->guidEdit->setText(QString::fromStdString(caps.guid));
    // Each field as wide as its text (a path or an identifier can be long), as far as the
    // screen allows.
    for (QLineEdit* field : findChildren<QLineEdit*>()) {
        SizeForText(*field);
    }
    FitToScreen(*this);
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

CJoyInfo::~CJoyInfo() = default;
