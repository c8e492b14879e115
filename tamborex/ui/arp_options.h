#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <memory>

#include "tamborex/model/patch.h"

namespace Ui {
class CArpOptions;
}
class CPrompter;
class QLabel;
class QLineEdit;

// "Arpeggiator Options": one button's eight steps, step count and auto arpeggiation. Works on
// copies; the record changes only on OK.
class CArpOptions final : public QDialog {
    Q_OBJECT

  public:
    // clockArriving, when given, tells whether MIDI clock comes in now: the dialog then says when
    // an automatic arpeggio would be waiting for it.
    CArpOptions(ButtonRecord& record, CPrompter& prompter, QWidget* parent,
                std::function<bool()> clockArriving = {});
    ~CArpOptions() override;

    void accept() override;

  private:
    // Re-reads the fields when asked, limits the step count, enables the steps in use and shows
    // every value again.
    void UpdateSteps(bool reread);
    bool ReadFields();
    void PutFields();
    // The line above OK: whether the automatic arpeggio has MIDI clock to step with.
    void ShowClock();

    std::unique_ptr<Ui::CArpOptions> ui_;
    ButtonRecord& record_;
    CPrompter& prompter_;
    std::array<QLineEdit*, kArpSteps> noteEdits_{};
    std::array<QLineEdit*, kArpSteps> velEdits_{};
    std::array<QLineEdit*, kArpSteps> timeEdits_{};
    ButtonRecord values_;  // the dialog's copies; only the steps, count and auto are used
    bool initialised_ = false;
    std::function<bool()> clockArriving_;
    QLabel* clockLabel_ = nullptr;
};
