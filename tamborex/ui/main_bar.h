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
#include "tamborex/session/session.h"
#include "tray_icon.h"

class QAbstractButton;
class QLabel;
class QLineEdit;
class CJoyOptions;

// Tamborex's main window: the small bar drawn from bitmaps, with the bank entry, the presets,
// the activity light and the six command buttons. It paints, drags and passes its buttons to the
// session it holds; the session's window services are CQtServices'.
class CMainBar final : public QDialog, public CSessionWindow, public CCtrlListener {
    Q_OBJECT

  public:
    static constexpr int kWidth = 458;
    static constexpr int kHeight = 50;

    CMainBar(platform::MidiService& midi, platform::JoystickService& joystick, CPrompter& prompter,
             std::string bankPath = kBankFileName);
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
    void ShowCurrentEntry() override;

    int OnCtrlNotify(int code, int ctrlIndex, int value, int extra) override;

    CSession& Session() { return session_; }
    CPrompter& Prompter() { return prompter_; }
    CTrayIcon& Tray() { return tray_; }
    CJoyOptions* JoyOptions() { return joyOptions_.get(); }
    CJoyResponse& JoyResponse() { return response_; }
    CAboutDlg& About() { return about_; }
    CButtonCtrl& BarButton(int index) { return buttons_[index]; }
    bool TimerActive(int id) const { return services_.TimerActive(id); }
    int TimerInterval(int id) const { return services_.TimerInterval(id); }

    // CSessionWindow
    void SetTimer(int id, unsigned periodMs) override { services_.SetTimer(id, periodMs); }
    void KillTimer(int id) override { services_.KillTimer(id); }
    void MessageBox(std::string_view text) override { services_.Warn(text); }
    void PostToUiThread(std::function<void()> task) override { services_.Post(std::move(task)); }
    bool AskYesNo(std::string_view text) override { return services_.Ask(text); }
    bool ChooseFile(bool save, std::string_view filter, std::string_view defaultExtension,
                    const std::string& initial, std::string& chosen) override {
        return services_.ChooseFile(save, filter, defaultExtension, initial, chosen);
    }
    void ShowActivity(bool lit) override;
    void HideBar() override { HideToTray(); }
    void PatchReloaded() override;
    void PatchSaved() override;
    void ApplyAlwaysOnTop() override;
    std::array<std::int32_t, 2> JoyOptionsPosition() override;
    std::array<std::int32_t, 2> BarPosition() override;
    void MoveBar(std::int32_t x, std::int32_t y) override;
    void AddTrayIcon() override;
    void RemoveTrayIcon() override;
    void ShowController(std::string_view name, bool present) override;
    bool PatchModified() override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateControls();
    void QuitWhenNoDialogRuns();
    // Moves a dialog that has no place of its own next to the bar, on screen.
    void PlaceBesideBar(QWidget& dialog) const;
    QAbstractButton* AddPictureButton(int upId, int downId, QRect rect);

    std::array<CButtonCtrl, 6> buttons_;
    CPrompter& prompter_;
    CQtServices services_;
    CSession session_;
    std::unique_ptr<CJoyOptions> joyOptions_;
    CJoyResponse response_;
    CAboutDlg about_;
    CTrayIcon tray_;
    QLineEdit* nameEdit_ = nullptr;
    QLineEdit* numberEdit_ = nullptr;
    QLabel* light_ = nullptr;
    QPixmap lightOn_;
    QPixmap lightOff_;
    QPixmap lightMissing_;  // the light at rest while the controller is missing
    bool controllerMissing_ = false;
    bool lightLit_ = false;
    QString tip_;  // the bar's and the tray icon's tip: which controller plays
    bool hiddenInTray_ = false;
    bool dragging_ = false;
    QPoint dragStart_;
    bool initialised_ = false;
    bool finished_ = false;
};
