#pragma once

#include <QDialog>
#include <memory>

#include "platform/joystick.h"

namespace Ui {
class CJoyInfo;
}

// "Joystick Info": what the platform reported about the first joystick at start-up.
class CJoyInfo final : public QDialog {
    Q_OBJECT

  public:
    CJoyInfo(const platform::JoystickCaps& caps, QWidget* parent);
    ~CJoyInfo() override;

  private:
    std::unique_ptr<Ui::CJoyInfo> ui_;
};
