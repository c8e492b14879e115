#include "options_dialog.h"

#include <QPushButton>
#include <QRegularExpressionValidator>

#include "platform/midi.h"
#include "prompter.h"
#include "ui_options_dialog.h"

namespace corvane {

OptionsDialog::OptionsDialog(std::vector<std::string> inputs, std::vector<std::string> outputs,
                             Prompter& prompter, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::OptionsDialog>()),
      inputs_(std::move(inputs)),
      outputs_(std::move(outputs)),
      prompter_(prompter) {
    ui_->setupUi(this);
    ui_->channelEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), ui_->channelEdit));
    ui_->buttonBox->button(QDialogButtonBox::Ok)
        ->setToolTip(tr("Takes these settings: the ports open again and the joystick is read at "
                        "the chosen rate."));
    ui_->buttonBox->button(QDialogButtonBox::Cancel)
        ->setToolTip(tr("Keeps the settings as they were."));
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::showEvent(QShowEvent* event) {
    ui_->inputBox->clear();
    for (const std::string& name : inputs_) {
        ui_->inputBox->addItem(QString::fromStdString(name));
    }
    ui_->outputBox->clear();
    ui_->outputBox->addItem(QStringLiteral("MIDI_MAPPER"));
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
        // Device 0 is Corvane's own port, where MIDI_MAPPER goes too: said, so that nobody
        // takes the two for different ports.
        const QString name = QString::fromStdString(outputs_[i]);
        ui_->outputBox->addItem(i == 0 && outputs_[i] == ownPort
                                    ? tr("%1 (the same port as MIDI_MAPPER)").arg(name)
                                    : name);
    }
    ui_->inputBox->setCurrentIndex(inputIndex < ui_->inputBox->count() ? inputIndex : -1);
    ui_->outputBox->setCurrentIndex(outputIndex < ui_->outputBox->count() ? outputIndex : -1);
    ui_->thruCheck->setChecked(thru);
    ui_->channelEdit->setText(QString::number(channel));
    ui_->rateBox->setCurrentIndex(sampleRate < ui_->rateBox->count() ? sampleRate : -1);
    platform::MidiBackend system = platform::MidiBackend::Automatic;
    (void)platform::ParseMidiBackend(midiSystem, system);
    ui_->systemBox->setCurrentIndex(
        system == platform::MidiBackend::None ? 0 : static_cast<int>(system));
    ui_->lowLatencyCheck->setChecked(lowLatency);
    ui_->gamepadLayoutCheck->setChecked(gamepadLayout);
    QDialog::showEvent(event);
}

void OptionsDialog::accept() {
    bool isNumber = false;
    const int typed = ui_->channelEdit->text().toInt(&isNumber);
    if (!isNumber || typed < 1 || typed > 16) {
        prompter_.Warn(this, isNumber ? tr("Please enter an integer between 1 and 16.")
                                      : tr("Please enter an integer."));
        ui_->channelEdit->setFocus();
        ui_->channelEdit->selectAll();
        return;
    }
    inputIndex = ui_->inputBox->currentIndex();
    outputIndex = ui_->outputBox->currentIndex();
    thru = ui_->thruCheck->isChecked();
    channel = typed;
    sampleRate = ui_->rateBox->currentIndex();
    midiSystem = platform::MidiBackendWord(
        static_cast<platform::MidiBackend>(std::max(ui_->systemBox->currentIndex(), 0)));
    lowLatency = ui_->lowLatencyCheck->isChecked();
    gamepadLayout = ui_->gamepadLayoutCheck->isChecked();
    QDialog::accept();
}

}  // namespace corvane
