#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class OptionsDialog;
}

namespace corvane {

class Prompter;

// Ports, channel, thru and sample rate. The caller sets the public values, runs the dialog and
// reads them back; Cancel leaves them as they were set.
class OptionsDialog final : public QDialog {
    Q_OBJECT

  public:
    OptionsDialog(std::vector<std::string> inputs, std::vector<std::string> outputs,
                  Prompter& prompter, QWidget* parent = nullptr);
    ~OptionsDialog() override;

    int inputIndex = -1;
    int outputIndex = -1;  // 0 is "MIDI_MAPPER", device d is d + 1
    bool thru = false;
    int channel = 0;  // 1-16
    int sampleRate = -1;
    std::string midiSystem = "auto";  // auto, alsa or jack
    bool lowLatency = true;
    bool gamepadLayout = false;
    std::string oscOut;               // HOST:PORT, empty for off
    std::string oscIn;                // [ADDRESS:]PORT, empty for off
    std::string ownPort = "Corvane";  // the name Corvane's own port has in the lists

    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::unique_ptr<Ui::OptionsDialog> ui_;
    std::vector<std::string> inputs_;
    std::vector<std::string> outputs_;
    Prompter& prompter_;
};

}  // namespace corvane
