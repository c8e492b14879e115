#include "joy_options.h"

#include <QAbstractItemView>
#include <QBoxLayout>
#include <QStyle>

#include <QCloseEvent>
#include <QLabel>

#include "arp_options.h"
#include "axis_options.h"
#include "data_exchange.h"
#include "dialog_fit.h"
#include "joy_info.h"
#include "joy_response.h"
#include "prompter.h"
#include "sysex_editor.h"
#include "tamborex/model/controller_names.h"
#include "tamborex/session/session.h"
#include "ui_joy_options.h"

namespace {
// What a list is for, from the form, followed by the entry it holds now.
void ShowEntryInToolTip(QComboBox& list, const QString& about) {
    list.setToolTip(list.currentText().isEmpty()
                        ? about
                        : QStringLiteral("%1\nNow: %2").arg(about, list.currentText()));
}

// A list shows every entry whole when it opens ("Modulation Wheel (coarse)", "Tamborex Prog
// change"), and its tool tip names the entry it holds.
void WidenPopup(QComboBox& list) {
    QAbstractItemView* view = list.view();
    view->setMinimumWidth(view->sizeHintForColumn(0) +
                          view->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8);
    QObject::connect(&list, &QComboBox::currentTextChanged, &list,
                     [&list, about = list.toolTip()] { ShowEntryInToolTip(list, about); });
}

// What a button newly set to "Note On/Off" plays: middle C, clearly heard.
constexpr std::int32_t kNewNote = 60;
constexpr std::int32_t kNewVelocity = 100;
}  // namespace

CJoyOptions::CJoyOptions(CSession& session, CPrompter& prompter, CJoyResponse& response,
                         QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CJoyOptions>()),
      session_(session),
      prompter_(prompter) {
    ui_->setupUi(this);
    controllerAbout_ = ui_->controllerCombo->toolTip();
    axisLists_ = {ui_->axisCombo0, ui_->axisCombo1, ui_->axisCombo2,
                  ui_->axisCombo3, ui_->axisCombo4, ui_->axisCombo5};
    modeLists_ = {ui_->modeCombo0, ui_->modeCombo1, ui_->modeCombo2, ui_->modeCombo3,
                  ui_->modeCombo4, ui_->modeCombo5, ui_->modeCombo6, ui_->modeCombo7};
    data1Edits_ = {ui_->data1Edit0, ui_->data1Edit1, ui_->data1Edit2, ui_->data1Edit3,
                   ui_->data1Edit4, ui_->data1Edit5, ui_->data1Edit6, ui_->data1Edit7};
    data2Edits_ = {ui_->data2Edit0, ui_->data2Edit1, ui_->data2Edit2, ui_->data2Edit3,
                   ui_->data2Edit4, ui_->data2Edit5, ui_->data2Edit6, ui_->data2Edit7};
    channelEdits_ = {ui_->chanEdit0, ui_->chanEdit1, ui_->chanEdit2, ui_->chanEdit3,
                     ui_->chanEdit4, ui_->chanEdit5, ui_->chanEdit6, ui_->chanEdit7};
    arpButtons_ = {ui_->arpButton0, ui_->arpButton1, ui_->arpButton2, ui_->arpButton3,
                   ui_->arpButton4, ui_->arpButton5, ui_->arpButton6, ui_->arpButton7};
    QPushButton* const axisButtons[] = {ui_->axisOptions0, ui_->axisOptions1, ui_->axisOptions2,
                                        ui_->axisOptions3, ui_->axisOptions4, ui_->axisOptions5};

    QStringList controllers = {QStringLiteral("None"), QStringLiteral("Pitch bend")};
    for (int c = 0; c < 128; ++c) {
        controllers.append(QString::fromStdString(ControllerName(c)));
    }
    for (int a = 0; a < kAxisCount; ++a) {
        axisLists_[a]->addItems(controllers);
        WidenPopup(*axisLists_[a]);
        connect(axisLists_[a], &QComboBox::activated, this,
                [this, a](int index) { OnAxisController(a, index); });
        connect(axisButtons[a], &QPushButton::clicked, this, [this, a] { OnAxisOptions(a); });
    }
    for (int b = 0; b < kPolledButtons; ++b) {
        for (int mode = 0; mode < kButtonModeCount; ++mode) {
            modeLists_[b]->addItem(QString::fromLatin1(GetButtonModeName(mode)));
        }
        WidenPopup(*modeLists_[b]);
        connect(modeLists_[b], &QComboBox::activated, this,
                [this, b](int index) { OnButtonMode(b, index); });
        connect(arpButtons_[b], &QPushButton::clicked, this, [this, b] { OnArpeggiator(b); });
        SizeForDigits(*data1Edits_[b], 3);
        SizeForDigits(*data2Edits_[b], 3);
        SizeForDigits(*channelEdits_[b], 2);
    }
    connect(ui_->outputCombo, &QComboBox::activated, this, &CJoyOptions::OnOutputDevice);
    connect(ui_->pollCombo, &QComboBox::activated, this, &CJoyOptions::OnPollTime);
    connect(ui_->sensCombo, &QComboBox::activated, this, &CJoyOptions::OnSensitivity);
    connect(ui_->activeCheck, &QCheckBox::clicked, this, &CJoyOptions::OnActive);
    connect(ui_->viewButton, &QPushButton::clicked, &response, &CJoyResponse::Open);
    connect(ui_->sysexButton, &QPushButton::clicked, this, &CJoyOptions::OnSysExEditor);
    connect(ui_->infoButton, &QPushButton::clicked, this, &CJoyOptions::OnJoystickInfo);
    connect(ui_->controllerCombo, &QComboBox::activated, this, &CJoyOptions::OnController);
    connect(ui_->gamepadCheck, &QCheckBox::clicked, this, &CJoyOptions::OnController);
    connect(ui_->applyButton, &QPushButton::clicked, this, &CJoyOptions::Apply);
    connect(ui_->okButton, &QPushButton::clicked, this, &CJoyOptions::accept);
    // Above OK, outside the scrolled part, so it is in sight whatever the screen.
    playState_ = new QLabel(this);
    playState_->setObjectName(QStringLiteral("playStateLabel"));
    playState_->setWordWrap(true);
    playState_->setStyleSheet(QStringLiteral("QLabel { color: #b03020; }"));
    playState_->setToolTip(
        QStringLiteral("Why this patch sends nothing now: pick a MIDI output, tick Joystick "
                       "Active, plug a controller in; an automatic arpeggio needs MIDI clock."));
    ui_->dialogLayout->insertWidget(ui_->dialogLayout->count() - 1, playState_);
    ShowPlayState();
    AddLearnAndMonitor();
    LoadFields();
    Fit();
}

void CJoyOptions::ShowPlayState() {
    const std::string why = session_.SilenceReason();
    playState_->setText(why.empty() ? QString()
                        : why == "waiting for MIDI clock"
                            ? QStringLiteral("Arpeggio waiting for MIDI clock")
                            : QStringLiteral("Silent: ") + QString::fromStdString(why));
    playState_->setVisible(!why.empty());
}

CJoyOptions::~CJoyOptions() = default;

void CJoyOptions::Fit() {
    // Each axis list beside its options button where the screen is wide enough, above it where
    // it is not (twice the scale on a laptop), so the dialog needs no sideways scrolling.
    QBoxLayout* const axes[] = {ui_->axisLayout0, ui_->axisLayout1, ui_->axisLayout2,
                                ui_->axisLayout3, ui_->axisLayout4, ui_->axisLayout5};
    for (QBoxLayout* axis : axes) {
        axis->setDirection(QBoxLayout::LeftToRight);
    }
    if (WantedSize(*this, ui_->bodyScroll).width() > ScreenRoom(*this).width()) {
        for (QBoxLayout* axis : axes) {
            axis->setDirection(QBoxLayout::TopToBottom);
        }
    }
    FitToScreen(*this, ui_->bodyScroll);
}

const CPatch& CJoyOptions::Patch() const {
    return session_.Patch();
}

void CJoyOptions::Open(const platform::JoystickCaps& caps) {
    if (open_) {
        return;
    }
    caps_ = &caps;
    ui_->outputCombo->clear();
    const CWinMIDIOut& output = session_.MidiOut();
    for (int i = 0; i < static_cast<int>(output.DeviceCount()); ++i) {
        ui_->outputCombo->addItem(QString::fromStdString(output.GetDevName(i)));
    }
    // The port names may have grown the lists: the dialog takes the room they need, as far as
    // the screen has it, and stands wholly on the screen.
    Fit();
    move(session_.Bank().joyOptionsPos[0], session_.Bank().joyOptionsPos[1]);
    KeepOnScreen(*this);
    SelectOutputDevice();
    for (int a = 0; a < kAxisCount; ++a) {
        axisLists_[a]->setCurrentIndex(Patch().axes[a].controller);
    }
    LoadFields();
    PutControls();
    for (int b = 0; b < kPolledButtons; ++b) {
        SetRowEnabled(b);
    }
    open_ = true;
    RefreshControllers();
    show();
}

void CJoyOptions::RefreshControllers() {
    if (!open_) {
        return;
    }
    ui_->controllerCombo->clear();
    for (const platform::JoystickCaps& caps : session_.JoystickCaps()) {
        ui_->controllerCombo->addItem(
            QStringLiteral("%1: %2").arg(caps.number).arg(QString::fromStdString(caps.name)));
    }
    const bool present = session_.ControllerPresent();
    ui_->controllerCombo->setCurrentIndex(present ? session_.ControllerCaps().number : -1);
    ShowEntryInToolTip(*ui_->controllerCombo, controllerAbout_);
    ui_->gamepadCheck->setChecked(session_.GamepadLayout());
    ui_->gamepadCheck->setEnabled(present && session_.ControllerCaps().gamepad);
}

void CJoyOptions::OnController() {
    const int number = ui_->controllerCombo->currentIndex();
    if (number < 0) {
        return;
    }
    session_.ChooseController(number, ui_->gamepadCheck->isChecked());
    session_.MarkPatchModified();
    RefreshControllers();
}

void CJoyOptions::RefreshFromPatch() {
    if (!open_) {
        return;
    }
    for (int a = 0; a < kAxisCount; ++a) {
        axisLists_[a]->setCurrentIndex(Patch().axes[a].controller);
    }
    SelectOutputDevice();
    LoadFields();
    PutControls();
}

void CJoyOptions::SelectOutputDevice() {
    const std::int32_t device = Patch().outputDevice;
    ui_->outputCombo->setCurrentIndex(device >= 0 && device < ui_->outputCombo->count() ? device
                                                                                        : -1);
}

void CJoyOptions::LoadFields() {
    for (int b = 0; b < kPolledButtons; ++b) {
        const ButtonRecord& record = Patch().buttons[b];
        fields_.modes[b] = record.mode;
        fields_.data1[b] = record.data1;
        fields_.data2[b] = record.data2;
        fields_.channels[b] = record.channel;
    }
    fields_.sensitivity = Patch().joystickSensitivity;
    fields_.pollCode = Patch().pollIntervalCode;
    fields_.active = Patch().active;
}

bool CJoyOptions::ReadControls() {
    CDataExchange dx(prompter_, this);
    for (int b = 0; b < kPolledButtons; ++b) {
        fields_.modes[b] = modeLists_[b]->currentIndex();
    }
    fields_.sensitivity = ui_->sensCombo->currentIndex();
    fields_.pollCode = ui_->pollCombo->currentIndex();
    for (int b = 0; b < kPolledButtons; ++b) {
        if (!dx.Int(data1Edits_[b], fields_.data1[b], 0, 127) ||
            !dx.Int(data2Edits_[b], fields_.data2[b], 0, 127)) {
            return false;
        }
    }
    if (!dx.Check(ui_->activeCheck, fields_.active)) {
        return false;
    }
    for (int b = 0; b < kPolledButtons; ++b) {
        if (!dx.Int(channelEdits_[b], fields_.channels[b], 0, 15)) {
            return false;
        }
    }
    return true;
}

void CJoyOptions::PutControls() {
    for (int b = 0; b < kPolledButtons; ++b) {
        modeLists_[b]->setCurrentIndex(fields_.modes[b]);
        PutInt(data1Edits_[b], fields_.data1[b]);
        PutInt(data2Edits_[b], fields_.data2[b]);
        PutInt(channelEdits_[b], fields_.channels[b]);
    }
    ui_->sensCombo->setCurrentIndex(fields_.sensitivity);
    ui_->pollCombo->setCurrentIndex(fields_.pollCode);
    ui_->activeCheck->setChecked(fields_.active != 0);
}

void CJoyOptions::SetRowEnabled(int button) {
    const ButtonModeInfo& mode = ButtonModeOf(Patch().buttons[button].mode);
    data1Edits_[button]->setEnabled(mode.usesData1);
    data2Edits_[button]->setEnabled(mode.usesData2);
    arpButtons_[button]->setEnabled(mode.kind == ButtonKind::Arpeggiator);
}

void CJoyOptions::OnAxisController(int axis, int index) {
    ReadControls();
    session_.SetAxisController(axis, index);
}

void CJoyOptions::OnButtonMode(int button, int index) {
    ReadControls();
    session_.SetButtonMode(button, index);
    // A new note row would otherwise send note 0 at velocity 0, which is a note off. The row's
    // fields take the new values; Apply or OK stores them.
    if (ButtonModeOf(index).kind == ButtonKind::Note && fields_.data2[button] == 0) {
        fields_.data1[button] = fields_.data1[button] == 0 ? kNewNote : fields_.data1[button];
        fields_.data2[button] = kNewVelocity;
    }
    SetRowEnabled(button);
    PutControls();
}

void CJoyOptions::OnOutputDevice(int index) {
    session_.MarkPatchModified();
    LoadFields();
    if (session_.SelectOutput(index)) {
        return;
    }
    prompter_.Warn(this, QStringLiteral("SelOutPort: %1")
                             .arg(QString::fromStdString(session_.MidiOut().GetErrorText())));
    ui_->outputCombo->setCurrentIndex(-1);
    PutControls();
}

void CJoyOptions::OnPollTime(int index) {
    session_.MarkPatchModified();
    ReadControls();
    session_.SetPollInterval(index);
}

void CJoyOptions::OnSensitivity(int index) {
    ReadControls();
    session_.SetSensitivity(index);
}

void CJoyOptions::OnActive(bool checked) {
    session_.MarkPatchModified();
    ReadControls();
    session_.SetActive(checked);
}

bool CJoyOptions::Apply() {
    if (!ReadControls()) {
        return false;
    }
    session_.ApplyPatchFields(fields_.active, fields_.data1, fields_.data2, fields_.channels);
    return true;
}

void CJoyOptions::reject() {
    if (Learning()) {
        EndLearn(QStringLiteral("Learning cancelled."));
        return;
    }
    Apply();
}

void CJoyOptions::accept() {
    if (!Apply()) {
        return;
    }
    open_ = false;
    session_.SetJoyOptionsPosition(pos().x(), pos().y());
    QDialog::accept();
}

void CJoyOptions::closeEvent(QCloseEvent* event) {
    accept();
    if (open_) {
        event->ignore();
    }
}

void CJoyOptions::OnAxisOptions(int axis) {
    CAxisOptions dialog(session_.PatchForEditing().axes[axis], axis,
                        QString::fromLatin1(AxisLabel(axis)), session_.Joystick(), prompter_, this,
                        &session_.Engine());
    dialog.EnableMidiLearn(session_.Engine());
    prompter_.Run(dialog);
    if (dialog.Changed()) {
        session_.MarkPatchModified();
        axisLists_[axis]->setCurrentIndex(Patch().axes[axis].controller);  // learnt from MIDI
    }
}

void CJoyOptions::OnArpeggiator(int button) {
    CArpOptions dialog(session_.PatchForEditing().buttons[button], prompter_, this,
                       [this] { return session_.ClockArriving(); });
    prompter_.Run(dialog);
}

void CJoyOptions::OnSysExEditor() {
    CPatch& patch = session_.PatchForEditing();
    if (!patch.sysEx) {
        patch.sysEx.emplace();
    }
    CSysExEditor dialog(*patch.sysEx, prompter_, this);
    prompter_.Run(dialog);
}

void CJoyOptions::OnJoystickInfo() {
    if (!caps_) {
        return;
    }
    CJoyInfo dialog(*caps_, this);
    prompter_.Run(dialog);
}
