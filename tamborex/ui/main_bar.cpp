#include "main_bar.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include "entry_name_edit.h"
#include "global_options.h"
#include "joy_options.h"

namespace {

// Dialog units of the bar's 8-point font, in pixels.
QRect Dlu(int x, int y, int w, int h) {
    return QRect((x * 3 + 1) / 2, (y * 13 + 4) / 8, (w * 3 + 1) / 2, (h * 13 + 4) / 8);
}

// Where the strip with "PRESET" and the preset numbers sits.
const QPoint kLabelsAt = Dlu(52, 21, 0, 0).topLeft();

// The bar's pictures: loaded once, kept until the process ends.
struct BarBitmaps {
    QPixmap rightEnd = LoadBitmapResource(138);
    QPixmap leftEnd = LoadBitmapResource(139);
    QPixmap grip = LoadBitmapResource(140);
    QPixmap emblem = LoadBitmapResource(152);
    QPixmap logoPanel = LoadBitmapResource(163);
};

const BarBitmaps& Bitmaps() {
    static const BarBitmaps bitmaps;
    return bitmaps;
}

// A push button drawn as one picture while up and another while held. Tab reaches it and Space
// presses it; a click leaves the focus where it was.
class CPictureButton final : public QAbstractButton {
  public:
    CPictureButton(int upId, int downId, QWidget* parent)
        : QAbstractButton(parent),
          up_(LoadBitmapResource(upId)),
          down_(LoadBitmapResource(downId)) {
        setFocusPolicy(Qt::TabFocus);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawPixmap(0, 0, isDown() ? down_ : up_, 0, 0, width(), height());
        if (hasFocus()) {
            DrawFocusFrame(painter, rect());
        }
    }

  private:
    QPixmap up_;
    QPixmap down_;
};

constexpr const char* kCaptions[] = {"Edit", "Global", "Load", "Save", "About", "Quit"};
constexpr const char* kButtonTips[] = {
    "Opens Joystick options: what each axis and button of the patch in use plays.",
    "Opens Global options: the presets, the bank entry, the MIDI input and how Tamborex starts.",
    "Loads a patch file into the current bank entry.",
    "Saves the patch in use to a patch file.",
    "Shows the version of Tamborex.",
    "Quits Tamborex, offering first to save an edited patch."};
constexpr QPoint kButtonPlaces[] = {{290, 3}, {290, 25}, {337, 3}, {337, 25}, {384, 3}, {384, 25}};

}  // namespace

CMainBar::CMainBar(CTamborexCore& core, CPrompter& prompter)
    : prompter_(prompter),
      services_(*this, prompter),
      session_(core.Session()),
      response_(session_.Joystick(), this),
      about_(this),
      tray_(this) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QString::fromLatin1(kProgramName));
    if (!CButtonCtrl::LoadButtonSkin(QString(), 164, QString(), 165, 0, Qt::black)) {
        MessageBox("Error loading button bitmaps!");
    }
    lightOn_ = LoadBitmapResource(141);
    lightOff_ = LoadBitmapResource(142);
    lightMissing_ = lightOff_;
    {
        QPainter tint(&lightMissing_);
        tint.fillRect(lightMissing_.rect(), QColor(220, 30, 30, 150));
    }
    lightWaiting_ = lightOff_;
    {
        QPainter tint(&lightWaiting_);
        tint.fillRect(lightWaiting_.rect(), QColor(230, 160, 20, 150));
    }
    tip_ = controllerTip_ = QString::fromLatin1(kProgramName);
    connect(&tray_, &CTrayIcon::LeftButtonDown, this, [this] {
        if (hiddenInTray_) {
            RestoreFromTray();
        } else {
            raise();
            activateWindow();
        }
    });
    CreateControls();
    session_.AddObserver(*this);
    session_.SetAsker(this);
}

CMainBar::~CMainBar() {
    session_.SetAsker(nullptr);
    session_.RemoveObserver(*this);
}

void CMainBar::MessageBox(std::string_view text) {
    if (!nobodyWaits_) {
        services_.Warn(text);
        return;
    }
    // Shown without a loop of its own, so the session manager's request goes on at once.
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kProgramName),
                                QString::fromUtf8(text.data(), qsizetype(text.size())),
                                QMessageBox::Ok, isVisible() ? this : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

std::optional<bool> CMainBar::Ask(std::string_view question) {
    if (nobodyWaits_) {
        return std::nullopt;
    }
    return services_.Ask(question);
}

std::optional<CSaveAnswer> CMainBar::AskWithCancel(std::string_view question) {
    if (nobodyWaits_) {
        return std::nullopt;
    }
    const std::optional<bool> answer = services_.AskOrCancel(question);
    return !answer ? CSaveAnswer::Cancel : *answer ? CSaveAnswer::Yes : CSaveAnswer::No;
}

bool CMainBar::ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                          const std::string& initial, std::string& chosen) {
    return services_.ChooseFile(save, filter, defaultExtension, initial, chosen);
}

void CMainBar::RecordPosition() {
    session_.SetBarPosition(pos().x(), pos().y());
}

void CMainBar::CreateControls() {
    numberEdit_ = new QLineEdit(this);
    numberEdit_->setObjectName(QStringLiteral("patchNumber"));
    numberEdit_->setGeometry(Dlu(50, 1, 16, 12));
    numberEdit_->setReadOnly(true);
    numberEdit_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    numberEdit_->setFocusPolicy(Qt::NoFocus);
    nameEdit_ = new CEntryNameEdit(this);
    nameEdit_->setObjectName(QStringLiteral("patchName"));
    nameEdit_->setGeometry(Dlu(67, 1, 95, 12));
    nameEdit_->setMaxLength(36);
    nameEdit_->setToolTip(
        QStringLiteral("The name of the patch in use, up to 36 characters: type to rename it."));
    const QString lcd = QStringLiteral(
        "QLineEdit { background: #14110c; color: #ffb43c; border: 1px solid #000;"
        " border-top-color: #050505; border-bottom-color: #3a3a40; padding: 0 2px;"
        " selection-background-color: #ffb43c; selection-color: #14110c;"
        " font: bold 11px 'DejaVu Sans Mono'; }");
    numberEdit_->setStyleSheet(lcd);
    nameEdit_->setStyleSheet(lcd);
    connect(nameEdit_, &QLineEdit::textEdited, this,
            [this](const QString& text) { session_.Rename(text.toStdString()); });

    for (int i = 0; i < kPresets; ++i) {
        QAbstractButton* preset = AddPictureButton(143, 144, Dlu(77 + 20 * i, 15, 16, 6));
        preset->setObjectName(QStringLiteral("Pre%1").arg(i + 1));
        preset->setToolTip(QStringLiteral("Preset %1").arg(i + 1));
        connect(preset, &QAbstractButton::clicked, this, [this, i] { session_.Preset(i); });
    }
    QAbstractButton* previous = AddPictureButton(146, 147, Dlu(163, 2, 10, 10));
    previous->setObjectName(QStringLiteral("previous"));
    previous->setToolTip(QStringLiteral("Switches to the previous bank entry."));
    connect(previous, &QAbstractButton::clicked, this, [this] { session_.Previous(); });
    QAbstractButton* next = AddPictureButton(148, 149, Dlu(174, 2, 10, 10));
    next->setObjectName(QStringLiteral("next"));
    next->setToolTip(QStringLiteral("Switches to the next bank entry."));
    connect(next, &QAbstractButton::clicked, this, [this] { session_.Next(); });

    // Panic, in the strip right of the command buttons; its key works in every Tamborex window.
    auto* panic = new QPushButton(QStringLiteral("Panic"), this);
    panic->setObjectName(QStringLiteral("panicButton"));
    panic->setGeometry(431, 3, 25, 44);
    panic->setFocusPolicy(Qt::TabFocus);
    panic->setStyleSheet(
        QStringLiteral("QPushButton { background: #8c1a14; color: #fff; border: 1px solid #000;"
                       " border-radius: 2px; padding: 0; font: bold 7px 'DejaVu Sans'; }"
                       " QPushButton:pressed { background: #d9302a; }"
                       " QPushButton:focus { border-color: #ffb43c; }"));
    panic->setToolTip(
        QStringLiteral(
            "Panic (%1): ends every note Tamborex holds, then sends sustain off, All Sound Off, "
            "All Notes Off and pitch bend centre on every channel it has used. Buttons still held "
            "play again when pressed anew.")
            .arg(QKeySequence(kPanicKey).toString(QKeySequence::NativeText)));
    connect(panic, &QPushButton::clicked, this, [this] { session_.Panic(); });
    auto* panicKey = new QShortcut(QKeySequence(kPanicKey), this);
    panicKey->setContext(Qt::ApplicationShortcut);
    connect(panicKey, &QShortcut::activated, this, [this] { session_.Panic(); });

    // The two pictures let clicks through, so the bar can be dragged by them too.
    light_ = new QLabel(this);
    light_->setObjectName(QStringLiteral("activityLight"));
    light_->setPixmap(lightOff_);
    light_->setGeometry(QRect(Dlu(166, 22, 0, 0).topLeft(), lightOff_.size()));
    light_->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* labels = new QLabel(this);
    const QPixmap strip = LoadBitmapResource(145);
    labels->setPixmap(strip);
    labels->setGeometry(QRect(kLabelsAt, strip.size()));
    labels->setAttribute(Qt::WA_TransparentForMouseEvents);
    labels->lower();
}

QAbstractButton* CMainBar::AddPictureButton(int upId, int downId, QRect rect) {
    auto* button = new CPictureButton(upId, downId, this);
    button->setGeometry(rect);
    return button;
}

void CMainBar::Initialise() {
    if (initialised_) {
        return;
    }
    (void)Bitmaps();
    const QIcon icon(LoadBitmapResource(128));
    setWindowIcon(icon);
    // Where the bar is now is its place until the bank says otherwise.
    RecordPosition();
    session_.Startup();
    joyOptions_ = std::make_unique<CJoyOptions>(session_, prompter_, response_, this);
    ShowCurrentEntry();
    setFixedSize(kWidth, kHeight);
    for (int i = 0; i < static_cast<int>(buttons_.size()); ++i) {
        buttons_[i].CreateButton(kButtonPlaces[i].x(), kButtonPlaces[i].y(), this, 20001 + i,
                                 QString::fromLatin1(kCaptions[i]), false, 0, false);
        buttons_[i].SetListener(this, i, 0);
        buttons_[i].Window()->setToolTip(QString::fromLatin1(kButtonTips[i]));
    }
    // Tab runs left to right: Panic, at the right end, comes after the six buttons.
    setTabOrder(buttons_.back().Window(), findChild<QWidget*>(QStringLiteral("panicButton")));
    initialised_ = true;
}

int CMainBar::Run() {
    Initialise();
    return exec();
}

void CMainBar::OnOK() {
    if (!initialised_ || finished_) {
        return;
    }
    finished_ = true;
    RecordPosition();
    if (!session_.Shutdown()) {
        finished_ = false;  // the user cancelled saving the patch: the bar stays
        return;
    }
    // The Joystick options dialog goes with the bar, not here: Quit may come from a loop it runs
    // itself (a close request while one of its modal dialogs is open).
    if (joyOptions_) {
        joyOptions_->hide();
    }
    response_.close();
    about_.close();
    accept();
}

int CMainBar::OnCtrlNotify(int code, int ctrlIndex, int, int) {
    if (code != NOTIFY_CLICK) {
        return 0;
    }
    switch (ctrlIndex) {
        case 0:
            OpenJoyOptions();
            break;
        case 1: {
            CGlobalOptions dialog(session_, prompter_, this);
            PlaceBesideBar(dialog);
            prompter_.Run(dialog);
            ShowCurrentEntry();
            break;
        }
        case 2:
            session_.LoadCommand();
            break;
        case 3:
            session_.SaveCommand();
            break;
        case 4:
            if (!about_.IsOpen()) {
                PlaceBesideBar(about_);
            }
            about_.Open();
            break;
        case 5:
            QuitCommand();
            break;
        default:
            break;
    }
    return 0;
}

void CMainBar::OpenJoyOptions() {
    if (session_.JoystickCaps().empty() || !session_.Joystick().initialised || !joyOptions_) {
        MessageBox("No available joysticks");
        return;
    }
    if (joyOptions_->IsOpen()) {
        return;
    }
    // The bank stores (0, 0) until the dialog has been moved: that is no place of the user's.
    const bool placed = session_.Bank().joyOptionsPos != std::array<std::int32_t, 2>{0, 0};
    joyOptions_->Open(session_.ControllerCaps());
    if (!placed) {
        PlaceBesideBar(*joyOptions_);
    }
}

void CMainBar::PlaceBesideBar(QWidget& dialog) const {
    // Below the bar, or above it when the screen has no room below; never over it and never
    // off the screen, so the bar's buttons stay in reach.
    constexpr int kGap = 8;
    const QRect bar = frameGeometry();
    const QRect screen = (this->screen() != nullptr ? this->screen()->availableGeometry() : bar);
    const QSize size = dialog.frameGeometry().size();
    int y = bar.bottom() + 1 + kGap;
    if (y + size.height() > screen.bottom() + 1) {
        y = std::max(screen.top(), bar.top() - kGap - size.height());
    }
    const int x = std::clamp(bar.left(), screen.left(),
                             std::max(screen.left(), screen.right() + 1 - size.width()));
    dialog.move(x, y);
}

void CMainBar::ShowCurrentEntry() {
    const CBankState& state = session_.Bank();
    numberEdit_->setText(QString::number(state.patchNumber));
    nameEdit_->setText(QString::fromStdString(state.patchName));
    nameEdit_->setCursorPosition(0);
    ShowPlayState();
}

void CMainBar::ShowPlayState() {
    const std::string playing = session_.PlayingPatchName();
    const QString playingName = QString::fromStdString(playing);
    nameEdit_->SetDecoration(
        session_.PatchModified(),
        playing.empty() ? QString() : QStringLiteral("playing ") + playingName);
    QStringList lines{controllerTip_};
    const QString why = QString::fromStdString(session_.SilenceReason());
    waiting_ = session_.ArpeggioWaitsForClock();
    silent_ = !why.isEmpty();
    if (session_.ArpeggioWaitsForClock() && why == QStringLiteral("waiting for MIDI clock")) {
        lines << QStringLiteral("Arpeggio waiting for MIDI clock");
    } else if (!why.isEmpty()) {
        lines << QStringLiteral("Silent: ") + why;
    }
    if (!playing.empty()) {
        lines << QString::fromStdString(session_.Bank().patchName) +
                     QStringLiteral(" \u00b7 playing ") + playingName;
    }
    if (session_.PatchModified()) {
        lines << QStringLiteral("* this entry's patch has unsaved edits");
    }
    const std::vector<std::int32_t> kept = session_.KeptEntries();
    if (!kept.empty()) {
        QStringList entries;
        for (const std::int32_t entry : kept) {
            entries << QString::number(entry);
        }
        lines << QStringLiteral("Unsaved edits kept for entr%1 %2 (offered at Quit)")
                     .arg(kept.size() == 1 ? QStringLiteral("y") : QStringLiteral("ies"),
                          entries.join(QStringLiteral(", ")));
    }
    tip_ = lines.join(QLatin1Char('\n'));
    setToolTip(tip_);
    tray_.SetTip(tip_);
    if (joyOptions_) {
        joyOptions_->ShowPlayState();
    }
    ShowActivity(lightLit_);
}

void CMainBar::HideToTray() {
    if (!tray_.available) {
        // With nowhere to come back from, hiding would lose the bar: minimise it instead.
        showMinimized();
        return;
    }
    hiddenInTray_ = true;
    RecordPosition();
    hide();
}

void CMainBar::RestoreFromTray() {
    move(session_.Bank().barPos[0], session_.Bank().barPos[1]);
    show();
    hiddenInTray_ = false;
}

void CMainBar::ShowActivity(bool lit) {
    lightLit_ = lit;
    light_->setPixmap(lit        ? lightOn_
                      : waiting_ ? lightWaiting_
                      : silent_  ? lightMissing_
                                 : lightOff_);
    // Drawn now rather than at the next idle moment, so a busy loop cannot swallow the flash.
    light_->repaint();
}

void CMainBar::OnPatchLoaded() {
    if (joyOptions_) {
        joyOptions_->RefreshFromPatch();
    }
}

void CMainBar::OnBankRead() {
    ApplyAlwaysOnTop();
    move(session_.Bank().barPos[0], session_.Bank().barPos[1]);
}

void CMainBar::ApplyAlwaysOnTop() {
    const bool onTop = session_.Bank().alwaysOnTop != 0;
    if (onTop == windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        return;
    }
    const bool visible = isVisible();
    const QPoint place = pos();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    move(place);
    if (visible) {
        show();
    }
}

void CMainBar::OnStarted() {
    tray_.Add(windowIcon(), tip_);
}

void CMainBar::OnControllerChanged(std::string_view name, bool present) {
    const QString controller = QString::fromUtf8(name.data(), static_cast<int>(name.size()));
    controllerTip_ = QString::fromLatin1(kProgramName) + QStringLiteral(": ") +
                     (present                ? controller
                      : controller.isEmpty() ? QStringLiteral("no controller attached")
                                             : controller + QStringLiteral(" is missing"));
    ShowPlayState();
    if (joyOptions_) {
        joyOptions_->RefreshControllers();
    }
}

void CMainBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (isMinimized()) {
        const QPixmap icon = windowIcon().pixmap(32, 32);
        painter.drawPixmap((width() - icon.width()) / 2, (height() - icon.height()) / 2, icon);
        return;
    }
    const BarBitmaps& b = Bitmaps();
    const int right = width();
    const int bottom = height();
    painter.fillRect(rect(), Qt::black);
    painter.drawPixmap(12, 0, b.grip, 0, 0, 12, 48);
    constexpr int kPanelLeft = 24;
    constexpr int kPanelWidth = 75;
    painter.drawPixmap(kPanelLeft, 0, b.logoPanel, 0, 0, kPanelWidth, 48);
    // The panel's corner under the labels strip is ground, so "PRESET" sits on one background
    // all along, like the preset numbers beside it.
    painter.fillRect(QRect(kLabelsAt, QPoint(kPanelLeft + kPanelWidth - 1, 47)), Qt::black);
    painter.drawPixmap(32, 8, b.emblem, 0, 0, 32, 32);
    painter.setPen(QColor(187, 187, 187));
    painter.drawLine(0, 0, right, 0);
    painter.setPen(QColor(85, 85, 85));
    painter.drawLine(0, bottom - 1, right, bottom - 1);
    painter.drawPixmap(0, 0, b.leftEnd, 0, 0, 12, 48);
    painter.drawPixmap(right - 12, 0, b.rightEnd, 0, 0, 12, 48);
}

void CMainBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragStart_ = event->position().toPoint();
        dragging_ = true;
    }
    QDialog::mousePressEvent(event);
}

void CMainBar::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        move(pos() + event->position().toPoint() - dragStart_);
    }
    QDialog::mouseMoveEvent(event);
}

void CMainBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        // Snap back an edge dragged off the top or the left of the screen; right and bottom
        // stay where the bar was dropped.
        move(std::max(0, x()), std::max(0, y()));
    } else if (event->button() == Qt::RightButton) {
        HideToTray();
    }
    QDialog::mouseReleaseEvent(event);
}

void CMainBar::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            // The bar has nothing to cancel: Escape must not end the program.
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter in the name field confirms the name and stays there; elsewhere it is Quit.
            if (focusWidget() == nameEdit_) {
                session_.Rename(nameEdit_->text().toStdString());
            } else {
                QuitCommand();
            }
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CMainBar::closeEvent(QCloseEvent* event) {
    // A close from the window manager, the session or SIGTERM ends the run like "Quit", so a
    // renamed entry or a modified patch is never lost.
    event->ignore();
    if (closeAction_) {
        closeAction_();
        return;
    }
    QuitWhenNoDialogRuns();
}

void CMainBar::QuitCommand() {
    // Under a session manager the manager ends the program; "Quit" puts the bar away.
    if (closeAction_) {
        closeAction_();
    } else {
        OnOK();
    }
}

void CMainBar::RequestTermination() {
    session_.RequestTermination();
    QuitWhenNoDialogRuns();
}

void CMainBar::QuitWhenNoDialogRuns() {
    // A modal dialog (a message, a file chooser, an editing dialog) runs its own loop with its
    // caller's objects on the stack: close it first, and quit once its loop has returned.
    // The start-up, with its messages, must also have finished, or it would go on after the
    // shutdown.
    QWidget* modal = QApplication::activeModalWidget();
    const bool dialogRuns = modal != nullptr && modal != this;
    if (dialogRuns) {
        modal->close();
    }
    if (dialogRuns || !initialised_) {
        // With finished_ set, the shutdown waiting on that dialog goes on by itself.
        if (!finished_) {
            QTimer::singleShot(0, this, &CMainBar::QuitWhenNoDialogRuns);
        }
        return;
    }
    OnOK();
}
