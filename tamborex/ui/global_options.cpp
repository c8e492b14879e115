#include "global_options.h"

#include <QRegularExpressionValidator>

#include "data_exchange.h"
#include "main_bar.h"
#include "ui_global_options.h"

CGlobalOptions::CGlobalOptions(CMainBar& bar)
    : QDialog(&bar), ui_(std::make_unique<Ui::CGlobalOptions>()), bar_(bar) {
    ui_->setupUi(this);
    setFixedSize(size());
    ui_->inChanEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    CBank& bank = bar_.Core().bank;
    CWinMIDIIn& input = bar_.Core().midiIn;
    if (input.DeviceCount() > 0) {
        for (int i = 0; i < static_cast<int>(input.DeviceCount()); ++i) {
            ui_->inPortCombo->addItem(QString::fromStdString(input.GetDevName(i)));
        }
        ui_->inPortCombo->setCurrentIndex(bank.state.midiInDevice);
    }
    QComboBox* const entryLists[] = {ui_->presetCombo0, ui_->presetCombo1, ui_->presetCombo2,
                                     ui_->presetCombo3, ui_->currentCombo};
    for (QComboBox* list : entryLists) {
        for (int j = 0; j < kBankEntries; ++j) {
            list->addItem(EntryLine(j, bank.state.patchNames[j]));
        }
    }
    for (int k = 0; k < kPresets; ++k) {
        entryLists[k]->setCurrentIndex(bank.state.presets[k]);
        connect(entryLists[k], &QComboBox::activated, this, [this, k](int index) {
            ReadFields();
            bar_.Core().bank.state.presets[k] = index;
        });
    }
    ui_->currentCombo->setCurrentIndex(bank.state.patchNumber);
    channel_ = bank.midiInChannel;
    respondToProgramChange_ = bank.state.respondToProgramChange;
    alwaysOnTop_ = bank.state.alwaysOnTop;
    midiThru_ = bank.state.midiThru;
    loadMinimized_ = bank.state.loadMinimized;
    PutFields();

    connect(ui_->currentCombo, &QComboBox::activated, this, [this](int index) {
        ReadFields();
        CBankState& state = bar_.Core().bank.state;
        state.patchNumber = index;
        state.patchName = state.patchNames[index];
    });
    connect(ui_->inChanEdit, &QLineEdit::textEdited, this, [this] {
        ReadFields();
        bar_.Core().bank.midiInChannel = channel_;
    });
    connect(ui_->programCheck, &QCheckBox::clicked, this, [this] {
        ReadFields();
        bar_.Core().bank.state.respondToProgramChange = respondToProgramChange_;
    });
    connect(ui_->thruCheck, &QCheckBox::clicked, this, [this] {
        ReadFields();
        bar_.Core().bank.state.midiThru = midiThru_;
    });
    connect(ui_->topCheck, &QCheckBox::clicked, this, [this] {
        ReadFields();
        bar_.Core().bank.state.alwaysOnTop = alwaysOnTop_;
        bar_.ApplyAlwaysOnTop();
    });
    connect(ui_->minimizedCheck, &QCheckBox::clicked, this, [this] {
        ReadFields();
        bar_.Core().bank.state.loadMinimized = loadMinimized_;
    });
    connect(ui_->inPortCombo, &QComboBox::activated, this, &CGlobalOptions::OnInputPort);
    connect(ui_->browseButton, &QPushButton::clicked, this, &CGlobalOptions::OnBrowse);
    connect(ui_->okButton, &QPushButton::clicked, this, &CGlobalOptions::accept);
}

CGlobalOptions::~CGlobalOptions() = default;

QString CGlobalOptions::EntryLine(int entry, const std::string& name) {
    return QStringLiteral("%1:%2")
        .arg(entry, 3, 10, QLatin1Char('0'))
        .arg(QString::fromStdString(name));
}

bool CGlobalOptions::ReadFields() {
    CDataExchange dx(bar_.Prompter(), this);
    return dx.Int(ui_->inChanEdit, channel_, 0, 15) &&
           dx.Check(ui_->programCheck, respondToProgramChange_) &&
           dx.Check(ui_->topCheck, alwaysOnTop_) && dx.Check(ui_->thruCheck, midiThru_) &&
           dx.Check(ui_->minimizedCheck, loadMinimized_);
}

void CGlobalOptions::PutFields() {
    PutInt(ui_->inChanEdit, channel_);
    ui_->programCheck->setChecked(respondToProgramChange_ != 0);
    ui_->topCheck->setChecked(alwaysOnTop_ != 0);
    ui_->thruCheck->setChecked(midiThru_ != 0);
    ui_->minimizedCheck->setChecked(loadMinimized_ != 0);
}

void CGlobalOptions::OnInputPort(int index) {
    CWinMIDIIn& input = bar_.Core().midiIn;
    CBankState& state = bar_.Core().bank.state;
    if (input.Open(static_cast<std::int16_t>(index))) {
        state.midiInDevice = index;
    } else {
        state.midiInDevice = -1;
        ui_->inPortCombo->setCurrentIndex(-1);
        bar_.Prompter().Warn(this,
                             QStringLiteral("MIDIInSel: %1")
                                 .arg(QString::fromStdString(input.GetErrorText()).left(127)));
    }
    PutFields();
}

void CGlobalOptions::OnBrowse() {
    CBank& bank = bar_.Core().bank;
    bar_.LoadCommand();
    const int entry = bank.state.patchNumber;
    ui_->currentCombo->setItemText(entry, EntryLine(entry, bank.state.patchName));
    ui_->currentCombo->setCurrentIndex(entry);
    PutFields();
}

void CGlobalOptions::accept() {
    if (ReadFields()) {
        QDialog::accept();
    }
}
