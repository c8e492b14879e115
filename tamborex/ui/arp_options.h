#pragma once

#include <QDialog>
#include <array>
#include <memory>

#include "tamborex/model/patch.h"

namespace Ui {
class CArpOptions;
}
class CPrompter;
class QLineEdit;

// "Arpeggiator Options": one button's eight steps, step count and auto arpeggiation. Works on
// copies; the record changes only on OK.
class CArpOptions final : public QDialog {
    Q_OBJECT

  public:
    CArpOptions(ButtonRecord& record, CPrompter& prompter, QWidget* parent);
    ~CArpOptions() override;

    void accept() override;

  private:
    // Re-reads the fields when asked, limits the step count, enables the steps in use and shows
    // every value again.
    void UpdateSteps(bool reread);
    bool ReadFields();
    void PutFields();

    std::unique_ptr<Ui::CArpOptions> ui_;
    ButtonRecord& record_;
    CPrompter& prompter_;
    std::array<QLineEdit*, kArpSteps> noteEdits_{};
    std::array<QLineEdit*, kArpSteps> velEdits_{};
    std::array<QLineEdit*, kArpSteps> timeEdits_{};
    ButtonRecord values_;  // the dialog's copies; only the steps, count and auto are used
    bool initialised_ = false;
};
