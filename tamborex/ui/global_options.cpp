#include "global_options.h"

#include <QRegularExpressionValidator>

#include "data_exchange.h"
#include "dialog_fit.h"
#include "prompter.h"
#include "tamborex/session/session.h"
#include "ui_global_options.h"

CGlobalOptions::CGlobalOptions(CSession& session, CPrompter& prompter, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CGlobalOptions>()),
      session_(session),
      prompter_(prompter) {
    ui_->setupUi(this);
    SizeForDigits(*ui_->inChanEdit, 2);
    ui_->inChanEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    const CBankState& bank = session_.Bank();
    const CWinMIDIIn& input = session_.MidiIn();
    if (input.DeviceCount() > 0) {
        for (int i = 0; i < static_cast<int>(input.DeviceCount()); ++i) {
            ui_->inPortCombo->addItem(QString::fromStdString(input.GetDevName(i)));
        }
        ui_->inPortCombo->setCurrentIndex(bank.midiInDevice);
    }
    QComboBox* const entryLists[] = {ui_->presetCombo0, ui_->presetCombo1, ui_->presetCombo2,
                                     ui_->presetCombo3, ui_->currentCombo};
    for (QComboBox* list : entryLists) {
        for (int j = 0; j < kBankEntries; ++j) {
            list->addItem(EntryLine(j, bank.patchNames[j]));
        }
    }
    for (int k = 0; k < kPresets; ++k) {
        entryLists[k]->setCurrentIndex(bank.presets[k]);
        connect(entryLists[k], &QComboBox::activated, this, [this, k](int index) {
            ReadFields();
            session_.SetPreset(k, index);
        });
    }
    ui_->currentCombo->setCurrentIndex(bank.patchNumber);
    PutFields();

    connect(ui_->currentCombo, &QComboBox::activated, this, [this](int index) {
        ReadFields();
        session_.SetCurrentEntry(index);
    });
    connect(ui_->inChanEdit, &QLineEdit::textEdited, this,
            [this] { session_.SetMidiInChannel(ReadFields().channel); });
    connect(ui_->programCheck, &QCheckBox::clicked, this,
            [this] { session_.SetRespondToProgramChange(ReadFields().respondToProgramChange); });
    connect(ui_->thruCheck, &QCheckBox::clicked, this,
            [this] { session_.SetMidiThru(ReadFields().midiThru != 0); });
    connect(ui_->topCheck, &QCheckBox::clicked, this,
            [this] { session_.SetAlwaysOnTop(ReadFields().alwaysOnTop != 0); });
    connect(ui_->minimizedCheck, &QCheckBox::clicked, this,
            [this] { session_.SetLoadMinimized(ReadFields().loadMinimized != 0); });
    platform::MidiBackend system = platform::MidiBackend::Automatic;
    (void)platform::ParseMidiBackend(session_.Extra().midiSystem, system);
    ui_->systemCombo->setCurrentIndex(
        system == platform::MidiBackend::None ? 0 : static_cast<int>(system));
    connect(ui_->systemCombo, &QComboBox::activated, this, [this](int index) {
        session_.SetMidiSystem(
            platform::MidiBackendWord(static_cast<platform::MidiBackend>(index)));
    });
    ui_->lowLatencyCheck->setChecked(session_.Extra().lowLatencyInput);
    connect(ui_->lowLatencyCheck, &QCheckBox::clicked, this,
            [this](bool on) { session_.SetLowLatencyInput(on); });
    connect(ui_->inPortCombo, &QComboBox::activated, this, &CGlobalOptions::OnInputPort);
    connect(ui_->browseButton, &QPushButton::clicked, this, &CGlobalOptions::OnBrowse);
    connect(ui_->okButton, &QPushButton::clicked, this, &CGlobalOptions::accept);
    FitToScreen(*this, ui_->bodyScroll);
}

CGlobalOptions::~CGlobalOptions() = default;

QString CGlobalOptions::EntryLine(int entry, const std::string& name) {
    return QStringLiteral("%1:%2")
        .arg(entry, 3, 10, QLatin1Char('0'))
        .arg(QString::fromStdString(name));
}

CGlobalOptions::Fields CGlobalOptions::ReadFields(bool* good) {
    const CBankState& bank = session_.Bank();
    Fields f{session_.MidiInChannel(), bank.respondToProgramChange, bank.alwaysOnTop, bank.midiThru,
             bank.loadMinimized};
    CDataExchange dx(prompter_, this);
    const bool read = dx.Int(ui_->inChanEdit, f.channel, 0, 15) &&
                      dx.Check(ui_->programCheck, f.respondToProgramChange) &&
                      dx.Check(ui_->topCheck, f.alwaysOnTop) &&
                      dx.Check(ui_->thruCheck, f.midiThru) &&
                      dx.Check(ui_->minimizedCheck, f.loadMinimized);
    if (good != nullptr) {
        *good = read;
    }
    return f;
}

void CGlobalOptions::PutFields() {
    const CBankState& bank = session_.Bank();
    PutInt(ui_->inChanEdit, session_.MidiInChannel());
    ui_->programCheck->setChecked(bank.respondToProgramChange != 0);
    ui_->topCheck->setChecked(bank.alwaysOnTop != 0);
    ui_->thruCheck->setChecked(bank.midiThru != 0);
    ui_->minimizedCheck->setChecked(bank.loadMinimized != 0);
}

void CGlobalOptions::OnInputPort(int index) {
    if (!session_.SelectInput(index)) {
        ui_->inPortCombo->setCurrentIndex(-1);
        prompter_.Warn(
            this, QStringLiteral("MIDIInSel: %1")
                      .arg(QString::fromStdString(session_.MidiIn().GetErrorText()).left(127)));
    }
    PutFields();
}

void CGlobalOptions::OnBrowse() {
    session_.LoadCommand();
    const int entry = session_.Bank().patchNumber;
    ui_->currentCombo->setItemText(entry, EntryLine(entry, session_.Bank().patchName));
    ui_->currentCombo->setCurrentIndex(entry);
    PutFields();
}

void CGlobalOptions::accept() {
    bool good = false;
    ReadFields(&good);
    if (good) {
        QDialog::accept();
    }
}
