#pragma once

#include <QDialog>
#include <QPixmap>
#include <QPoint>
#include <array>
#include <memory>
#include <string>

#include "about_dlg.h"
#include "button_ctrl.h"
#include "joy_response.h"
#include "prompter.h"
#include "qt_services.h"
#include "tamborex/app/core.h"
#include "tray_icon.h"

class QAbstractButton;
class QLabel;
class QLineEdit;
class CEntryNameEdit;
class CJoyOptions;

// Tamborex's main window: the small bar drawn from bitmaps, with the bank entry, the presets,
// the activity light and the six command buttons. A view over the core: it paints, drags, passes
// its buttons to the session's commands and shows what the session tells it; it answers the
// session's questions with the prompter.
class CMainBar final : public QDialog,
                       public CSessionObserver,
                       public CSessionAsker,
                       public CCtrlListener {
    Q_OBJECT

  public:
    static constexpr int kWidth = 458;
    static constexpr int kHeight = 50;
    // The key for Panic, in every Tamborex window: far from the keys typing uses, and one key.
    static constexpr int kPanicKey = Qt::Key_F12;

    CMainBar(CTamborexCore& core, CPrompter& prompter);
    ~CMainBar() override;

    // The start-up sequence, once, before the bar is first shown.
    void Initialise();
    // Initialise, then the program's whole life; returns when the bar has shut down.
    int Run();
    // Quit: saves the bank, asks about a modified patch, releases the devices, ends the run.
    // Cancelling the save of a modified patch returns to the bar.
    void OnOK();
    // A signal or a logout: ends the run like Quit without asking anyone anything.
    void RequestTermination();

    void HideToTray();
    void RestoreFromTray();
    bool HiddenInTray() const { return hiddenInTray_; }
    // Opens the Joystick options dialog ("Edit").
    void OpenJoyOptions();
    // Copies the current entry's number and name into the two fields.
    void ShowCurrentEntry();
    // Under a session manager nothing waits for a person: message boxes do not block, and
    // questions take their safe answers.
    void SetNobodyWaits(bool on) { nobodyWaits_ = on; }
    // What "Quit" and closing the window from the desktop do instead of ending the run (under a
    // session manager the window is only hidden); empty: Quit.
    void SetCloseAction(std::function<void()> action) { closeAction_ = std::move(action); }

    int OnCtrlNotify(int code, int ctrlIndex, int value, int extra) override;

    CSession& Session() { return session_; }
    CPrompter& Prompter() { return prompter_; }
    CTrayIcon& Tray() { return tray_; }
    CJoyOptions* JoyOptions() { return joyOptions_.get(); }
    CJoyResponse& JoyResponse() { return response_; }
    CAboutDlg& About() { return about_; }
    CButtonCtrl& BarButton(int index) { return buttons_[index]; }
    void MessageBox(std::string_view text);
    void ShowActivity(bool lit);

    // CSessionObserver
    void OnMessage(std::string_view text) override { MessageBox(text); }
    void OnActivity(bool lit) override { ShowActivity(lit); }
    void OnBankRead() override;
    void OnEntrySelected() override { ShowCurrentEntry(); }
    void OnPatchLoaded() override;
    void OnPatchModified(bool) override { ShowPlayState(); }
    void OnPlayStateChanged() override { ShowPlayState(); }
    void OnControllerChanged(std::string_view name, bool present) override;
    void OnAlwaysOnTopChanged(bool) override { ApplyAlwaysOnTop(); }
    void OnHideRequested() override { HideToTray(); }
    void OnStarted() override;
    void OnShutDown() override { tray_.Remove(); }

    // CSessionAsker
    std::optional<bool> Ask(std::string_view question) override;
    std::optional<CSaveAnswer> AskWithCancel(std::string_view question) override;
    bool ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                    const std::string& initial, std::string& chosen) override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateControls();
    // The light at rest, the name field's marks and the tips: what plays, why nothing does, and
    // which entries hold unsaved edits.
    void ShowPlayState();
    void QuitCommand();
    void ApplyAlwaysOnTop();
    // The session keeps where the bar is, for the bank.
    void RecordPosition();
    void QuitWhenNoDialogRuns();
    // Moves a dialog that has no place of its own next to the bar, on screen.
    void PlaceBesideBar(QWidget& dialog) const;
    QAbstractButton* AddPictureButton(int upId, int downId, QRect rect);

    std::array<CButtonCtrl, 6> buttons_;
    CPrompter& prompter_;
    CQtServices services_;
    CSession& session_;
    std::unique_ptr<CJoyOptions> joyOptions_;
    CJoyResponse response_;
    CAboutDlg about_;
    CTrayIcon tray_;
    CEntryNameEdit* nameEdit_ = nullptr;
    QLineEdit* numberEdit_ = nullptr;
    QLabel* light_ = nullptr;
    QPixmap lightOn_;
    QPixmap lightOff_;
    QPixmap lightMissing_;  // the light at rest while nothing can play (no controller, ...)
    QPixmap lightWaiting_;  // the light at rest while an arpeggio waits for MIDI clock
    bool lightLit_ = false;
    // Kept from the last ShowPlayState: the light's flashes must not work them out again.
    bool silent_ = false;
    bool waiting_ = false;
    bool nobodyWaits_ = false;
    std::function<void()> closeAction_;
    QString controllerTip_;  // which controller plays
    QString tip_;            // the bar's and the tray icon's tip
    bool hiddenInTray_ = false;
    bool dragging_ = false;
    QPoint dragStart_;
    bool initialised_ = false;
    bool finished_ = false;
};
