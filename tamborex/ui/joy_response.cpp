#include "joy_response.h"

#include "dialog_fit.h"
#include "tamborex/devices/joystick.h"
#include "ui_joy_response.h"

CJoyResponse::CJoyResponse(CJoystick& joystick, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CJoyResponse>()), joystick_(joystick) {
    ui_->setupUi(this);
    for (QLineEdit* edit : {ui_->axisEdit0, ui_->axisEdit1, ui_->axisEdit2, ui_->axisEdit3,
                            ui_->axisEdit4, ui_->axisEdit5}) {
        SizeForDigits(*edit, 6);
    }
    FitToScreen(*this);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &CJoyResponse::OnTick);
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

CJoyResponse::~CJoyResponse() = default;

void CJoyResponse::Open() {
    if (shown_) {
        return;
    }
    show();
    timer_.start(kRefreshMs);
    shown_ = true;
}

void CJoyResponse::done(int result) {
    shown_ = false;
    timer_.stop();
    QDialog::done(result);
}

void CJoyResponse::OnTick() {
    if (!joystick_.active) {
        return;  // keeps showing what it showed last
    }
    const JoyState& state = joystick_.state;
    QAbstractButton* const boxes[] = {ui_->buttonBox0, ui_->buttonBox1, ui_->buttonBox2,
                                      ui_->buttonBox3, ui_->buttonBox4, ui_->buttonBox5,
                                      ui_->buttonBox6, ui_->buttonBox7};
    for (int i = 0; i < 8; ++i) {
        boxes[i]->setChecked((state.buttons[i] & 0x80) != 0);
    }
    QLineEdit* const edits[] = {ui_->axisEdit0, ui_->axisEdit1, ui_->axisEdit2,
                                ui_->axisEdit3, ui_->axisEdit4, ui_->axisEdit5};
    for (int i = 0; i < 6; ++i) {
        edits[i]->setText(QString::number(state.axes[i]));
    }
}
