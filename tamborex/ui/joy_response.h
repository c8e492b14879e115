#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

namespace Ui {
class CJoyResponse;
}
class CJoystick;

// "Joystick Response": the six axes and the first eight buttons as the poll cycle last read
// them, every 50 ms while the joystick is active. It never reads the joystick itself.
class CJoyResponse final : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kRefreshMs = 50;

    CJoyResponse(CJoystick& joystick, QWidget* parent);
    ~CJoyResponse() override;

    // Shows the window unless it is showing already.
    void Open();
    bool IsShown() const { return shown_; }
    // OK, the close box and Escape.
    void done(int result) override;

  private:
    void OnTick();

    std::unique_ptr<Ui::CJoyResponse> ui_;
    CJoystick& joystick_;
    QTimer timer_;
    bool shown_ = false;
};
