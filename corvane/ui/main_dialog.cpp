#include "main_dialog.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <algorithm>

#include "about_dialog.h"
#include "configuration_file.h"
#include "mapper.h"
#include "options_dialog.h"
#include "prompter.h"
#include "ui_main_dialog.h"

// The icon lives in a static library, so the linker does not register it by itself.
static void RegisterResources() {
    Q_INIT_RESOURCE(corvane);
}

namespace corvane {
namespace {
enum PercentField { kMin, kMid, kMax };
}

MainDialog::MainDialog(Mapper& mapper, ConfigurationFile& file, Prompter& prompter, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::MainDialog>()),
      mapper_(mapper),
      file_(file),
      prompter_(prompter) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowMinimizeButtonHint);
    RegisterResources();
    setWindowIcon(QIcon(QStringLiteral(":/corvane/corvane.png")));
    // The override row keeps its room while hidden, so the window does not jump sideways
    // between an axis and a button.
    for (QWidget* widget :
         {static_cast<QWidget*>(ui_->overrideBox), static_cast<QWidget*>(ui_->overrideLabel)}) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    }

    for (QLineEdit* edit : {ui_->minEdit, ui_->midEdit, ui_->maxEdit}) {
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    }
    for (const char* label : ControlLabels()) {
        ui_->controlList->addItem(QString::fromLatin1(label));
    }
    for (const std::string& label : TypeListLabels()) {
        ui_->typeBox->addItem(QString::fromStdString(label));
    }
    LoadNames();
    ui_->configurationBox->setCurrentIndex(-1);
    ui_->configurationBox->clearEditText();

    connect(ui_->controlList, &QListWidget::currentRowChanged, this,
            &MainDialog::RefreshControlView);
    connect(ui_->typeBox, &QComboBox::activated, this, [this](int index) {
        mapper_.Controls()[SelectedControl()].type = index - 1;
        emit Edited();
    });
    connect(ui_->minEdit, &QLineEdit::textEdited, this,
            [this](const QString& text) { StorePercent(kMin, text); });
    connect(ui_->midEdit, &QLineEdit::textEdited, this,
            [this](const QString& text) { StorePercent(kMid, text); });
    connect(ui_->maxEdit, &QLineEdit::textEdited, this,
            [this](const QString& text) { StorePercent(kMax, text); });
    connect(ui_->overrideBox, &QComboBox::activated, this, [this](int index) {
        mapper_.Controls()[SelectedControl()].overrideAxis = index;
        ui_->midEdit->setEnabled(index > 0);
        emit Edited();
    });
    connect(ui_->configurationBox, &QComboBox::editTextChanged, this, [this](const QString& text) {
        ui_->saveButton->setEnabled(!text.isEmpty());
        ui_->deleteButton->setEnabled(false);
    });
    connect(ui_->configurationBox, &QComboBox::activated, this, &MainDialog::ConfigurationPicked);
    connect(ui_->saveButton, &QPushButton::clicked, this, &MainDialog::SaveConfiguration);
    connect(ui_->deleteButton, &QPushButton::clicked, this, &MainDialog::DeleteConfiguration);
    connect(ui_->resetButton, &QPushButton::clicked, this, [this] { mapper_.ResetControllers(); });
    connect(ui_->optionsButton, &QPushButton::clicked, this, &MainDialog::RunOptions);
    connect(ui_->aboutButton, &QPushButton::clicked, this, &MainDialog::RunAbout);
    connect(ui_->exitButton, &QPushButton::clicked, this, &MainDialog::close);

    ui_->controlList->setCurrentRow(kXAxis);
    RefreshControlView();
    stored_ = mapper_.Controls();

    controllerLabel_ = new QLabel(this);
    controllerLabel_->setObjectName(QStringLiteral("controllerLabel"));
    controllerLabel_->setToolTip(
        tr("The game controller Corvane reads. Plug one in at any time: it is picked up without a "
           "restart."));
    auto* resetLabel = new QLabel(tr("Reset Controls sends CC 121 (Reset All Controllers) on "
                                     "channel 1"),
                                  this);
    resetLabel->setObjectName(QStringLiteral("resetLabel"));
    resetLabel->setWordWrap(true);
    resetLabel->setToolTip(
        tr("Control change 121, value 0, always on MIDI channel 1, whatever the channel chosen in "
           "Options..."));
    ui_->resetButton->setToolTip(
        tr("Sends Reset All Controllers (control change 121, value 0) on MIDI channel 1"));
    ui_->mainLayout->addWidget(controllerLabel_);
    ui_->mainLayout->addWidget(resetLabel);
    AddLearnAndMonitor();
    // Plugged in or pulled out, on the joystick's thread: shown from this window's own.
    mapper_.SetControllersListener([this] {
        QMetaObject::invokeMethod(this, &MainDialog::ShowController, Qt::QueuedConnection);
    });
    ShowController();
    // Said once where it stays in sight and asks for no click: the title bar, with the reason
    // and what to do as the window's tool tip.
    if (mapper_.Midi().ListOutputs().empty() && mapper_.Midi().ListInputs().empty()) {
        setWindowTitle(windowTitle() + " - no MIDI devices");
        setToolTip(
            QString::fromStdString(platform::NoMidiDevicesAdvice(mapper_.Midi(), "Corvane")));
    }
    mapper_.Start();
    if (const std::string problem = mapper_.PortProblem() + mapper_.JoystickProblem();
        !problem.empty()) {
        // Once the window is up, so that the message stands in front of it.
        const QString text = QString::fromStdString(problem).trimmed();
        QTimer::singleShot(0, this, [this, text] { prompter_.Tell(this, text); });
    }
}

MainDialog::~MainDialog() {
    mapper_.SetControllersListener({});
}

void MainDialog::ShowController() {
    const std::string name = mapper_.AttachedController();
    controllerLabel_->setText(name.empty()
                                  ? tr("No controller attached: nothing is sent")
                                  : tr("Controller: %1").arg(QString::fromStdString(name)));
}

int MainDialog::SelectedControl() const {
    return std::clamp(ui_->controlList->currentRow(), 0, kControlCount - 1);
}

void MainDialog::RefreshControlView() {
    const int control = SelectedControl();
    const ControlAssignment& c = mapper_.Controls()[control];
    ui_->minEdit->setText(QString::number(c.min));
    ui_->midEdit->setText(QString::number(c.mid));
    ui_->maxEdit->setText(QString::number(c.max));
    // A type with no entry in the list (a hand-edited file) shows no selection.
    const int typeIndex = c.type + 1;
    ui_->typeBox->setCurrentIndex(typeIndex < ui_->typeBox->count() ? typeIndex : -1);
    const int axis = c.overrideAxis;
    ui_->overrideBox->setCurrentIndex(axis >= 0 && axis < ui_->overrideBox->count() ? axis : -1);
    const bool button = IsButton(control);
    // A button without override sends only its min and max.
    ui_->midEdit->setEnabled(!button || axis > 0);
    ui_->overrideBox->setVisible(button);
    ui_->overrideLabel->setVisible(button);
}

void MainDialog::StorePercent(int field, const QString& text) {
    // Digits typed here are decimal: 050 is fifty. (Hand-edited files keep their octal.)
    const long long typed = text.isEmpty() ? 0 : text.toLongLong();
    const auto value = static_cast<std::int32_t>(std::clamp<long long>(typed, 0, INT32_MAX));
    ControlAssignment& c = mapper_.Controls()[SelectedControl()];
    (field == kMin ? c.min : field == kMid ? c.mid : c.max) = value;
    emit Edited();
}

namespace {
bool NameBefore(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}
}  // namespace

void MainDialog::LoadNames() {
    const std::vector<std::string> read = file_.ReadNames();
    if (!file_.LastError().empty()) {
        prompter_.Tell(this, QString::fromStdString(file_.LastError()));
    }
    // Sorted once without regard to case; of equal names the one read last comes first, as if
    // each had been inserted in front of its equals in file order.
    QStringList names;
    names.reserve(static_cast<qsizetype>(read.size()));
    for (auto name = read.rbegin(); name != read.rend(); ++name) {
        names.push_back(QString::fromStdString(*name));
    }
    std::stable_sort(names.begin(), names.end(), NameBefore);
    ui_->configurationBox->addItems(names);
}

void MainDialog::InsertName(const QString& name) {
    // In front of the first name that does not sort before it.
    QComboBox* box = ui_->configurationBox;
    int low = 0;
    int high = box->count();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (NameBefore(box->itemText(middle), name)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    box->insertItem(low, name);
}

void MainDialog::ConfigurationPicked(int index) {
    ui_->saveButton->setEnabled(true);
    ui_->deleteButton->setEnabled(true);
    const std::string name = ui_->configurationBox->itemText(index).toStdString();
    if (file_.LoadConfiguration(name, mapper_.Controls())) {
        stored_ = mapper_.Controls();
        ui_->controlList->setCurrentRow(kXAxis);
        RefreshControlView();
        emit Edited();
    }
}

bool MainDialog::SaveConfiguration() {
    const QString name = ui_->configurationBox->currentText();
    const std::string problem = CheckConfigurationName(name.toStdString(), mapper_.Controls());
    if (!problem.empty()) {
        prompter_.Warn(this, QString::fromStdString(problem));
        return false;
    }
    if (!file_.SaveConfiguration(name.toStdString(), mapper_.Controls())) {
        prompter_.Warn(this, QString::fromStdString(file_.LastError()));
        return false;
    }
    stored_ = mapper_.Controls();
    QComboBox* box = ui_->configurationBox;
    if (box->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        InsertName(name);
    }
    box->setCurrentIndex(box->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
    ui_->deleteButton->setEnabled(true);
    return true;
}

bool MainDialog::AssignmentsUnsaved() const {
    return !(mapper_.Controls() == stored_);
}

void MainDialog::reject() {
    if (Learning()) {
        EndLearn(tr("Learning cancelled."));
    }
    // Hidden under a session manager, the session keeps what plays: nothing is lost.
    if (!hideOnly_ && isVisible() && AssignmentsUnsaved()) {
        const QString name = ui_->configurationBox->currentText();
        const QString text =
            name.isEmpty()
                ? tr("The assignments were changed and are not saved in a configuration.\n"
                     "Type a name under Configuration and Save, or exit without them.")
                : tr("The assignments were changed since the configuration was last loaded or "
                     "saved.\nSave them as \"%1\" before exiting?")
                      .arg(name);
        switch (prompter_.AskSave(this, text)) {
            case QMessageBox::Save:
                if (!SaveConfiguration()) {
                    return;  // the reason was said; the window stays
                }
                break;
            case QMessageBox::Discard:
                break;
            default:
                return;
        }
    }
    // The monitor goes with the window, its own window too.
    monitorButton_->setChecked(false);
    QDialog::reject();
}

void MainDialog::DeleteConfiguration() {
    if (!prompter_.Ask(this, tr("Delete Confirmation"), tr("Are you sure?"))) {
        return;
    }
    QComboBox* box = ui_->configurationBox;
    const QString name = box->currentText();
    if (!file_.RemoveConfiguration(name.toStdString())) {
        prompter_.Warn(this, QString::fromStdString(file_.LastError()));
        return;
    }
    const int index = box->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        box->removeItem(index);
    }
    box->setCurrentIndex(-1);
    box->setEditText(name);
    ui_->deleteButton->setEnabled(false);
}

void MainDialog::RunOptions() {
    const Settings& s = mapper_.CurrentSettings();
    OptionsDialog options(mapper_.Midi().ListInputs(), mapper_.Midi().ListOutputs(), prompter_,
                          this);
    options.ownPort = ownPortName_.toStdString();
    options.inputIndex = s.inputDevice;
    options.outputIndex = s.outputDevice == kMidiMapper ? 0 : s.outputDevice + 1;
    options.thru = s.thru;
    options.channel = s.channel + 1;
    options.sampleRate = s.sampleRate;
    options.midiSystem = mapper_.CurrentExtraSettings().midiSystem;
    options.lowLatency = mapper_.CurrentExtraSettings().lowLatency;
    options.gamepadLayout = mapper_.CurrentExtraSettings().gamepadLayout;
    options.oscOut = mapper_.CurrentExtraSettings().oscOut;
    options.oscIn = mapper_.CurrentExtraSettings().oscIn;
    prompter_.Run(options);
    Settings chosen;
    chosen.inputDevice = options.inputIndex;
    chosen.outputDevice = options.outputIndex <= 0 ? kMidiMapper : options.outputIndex - 1;
    chosen.thru = options.thru;
    chosen.channel = options.channel - 1;
    chosen.sampleRate = options.sampleRate;
    mapper_.SetMidiSystem(options.midiSystem);
    mapper_.SetLowLatency(options.lowLatency);
    mapper_.SetGamepadLayout(options.gamepadLayout);
    mapper_.ApplySettings(chosen);
    if (options.oscOut != mapper_.CurrentExtraSettings().oscOut ||
        options.oscIn != mapper_.CurrentExtraSettings().oscIn) {
        if (const std::string problem = mapper_.SetOscSettings(options.oscOut, options.oscIn);
            !problem.empty()) {
            prompter_.Warn(this, QString::fromStdString(problem));
        }
    }
    emit Edited();
}

void MainDialog::HideInsteadOfExit() {
    hideOnly_ = true;
    ui_->exitButton->setText(tr("Hide"));
    ui_->exitButton->setToolTip(
        tr("Hides the window; Corvane plays on and ends with the session."));
}

void MainDialog::RunAbout() {
    AboutDialog about(this);
    prompter_.Run(about);
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    // Enter does nothing here; a musician reaching for the keyboard must not close the window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    // Escape while learning gives the learn up and leaves the window open.
    if (event->key() == Qt::Key_Escape && Learning()) {
        EndLearn(tr("Learning cancelled."));
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    // Linux windows have no system menu to add the About item to; the window's own menu has it.
    QMenu menu(this);
    menu.addAction(tr("&About Corvane..."), this, &MainDialog::RunAbout);
    menu.exec(event->globalPos());
}

}  // namespace corvane
