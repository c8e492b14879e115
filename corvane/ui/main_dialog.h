#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <memory>

#include "control_assignment.h"
#include "platform/learn.h"

class QLabel;
class QPushButton;
class QTimer;

namespace Ui {
class MainDialog;
}

namespace corvane {

class ConfigurationFile;
class LiveMonitor;
class Mapper;
class Prompter;

// Corvane's window: the control list, the selected control's assignment, the configurations and
// the buttons. It edits the mapper's controls in memory; the tick picks changes up on its next
// period.
class MainDialog final : public QDialog {
    Q_OBJECT

  public:
    MainDialog(Mapper& mapper, ConfigurationFile& file, Prompter& prompter,
               QWidget* parent = nullptr);
    ~MainDialog() override;

    // The Options sequence: fill the dialog from the settings, run it, take its values (after
    // Cancel they are the old ones), restart the timer and reopen the ports.
    void RunOptions();
    void RunAbout();

    // The name Corvane's own port has in the lists (the MIDI client's name).
    void SetOwnPortName(const QString& name) { ownPortName_ = name; }
    // Under a session manager the program lives as long as the session: "Exit" hides the window.
    void HideInsteadOfExit();
    // The assignments differ from the configuration last loaded or saved (or, before any, from
    // those the window opened with).
    bool AssignmentsUnsaved() const;

    // Exit, Escape and closing the window: assignments that are not saved are offered for
    // saving first (Save, Discard, Cancel).
    void reject() override;

    // "Learn": the player moves one control of the controller and its row is selected for
    // editing; what it found is said under the buttons.
    void StartLearn();
    bool Learning() const;
    QString LearnStatus() const;
    LiveMonitor& Monitor() { return *monitor_; }
    // The monitor's own window, where the screen had no room for it in this one; null until
    // then.
    QWidget* MonitorWindow() const { return monitorWindow_; }

  signals:
    // The user changed a control's assignment or closed the Options dialog: there may be
    // something new to save.
    void Edited();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int SelectedControl() const;
    void RefreshControlView();
    void StorePercent(int field, const QString& text);
    void ConfigurationPicked(int index);
    // False when the assignments could not be saved (the reason was said).
    bool SaveConfiguration();
    void DeleteConfiguration();
    void LoadNames();
    void InsertName(const QString& name);
    // The line under the buttons: whether a controller is attached, and what Reset Controls
    // sends.
    void ShowController();
    void AddLearnAndMonitor();
    void LearnTick();
    void EndLearn(const QString& status);
    // The monitor was shown or hidden: the window takes the size it needs.
    void MonitorToggled(bool shown);

    std::unique_ptr<Ui::MainDialog> ui_;
    Mapper& mapper_;
    ConfigurationFile& file_;
    Prompter& prompter_;
    QString ownPortName_ = QStringLiteral("Corvane");
    ControlTable stored_;  // what the last load or save of a configuration held
    bool hideOnly_ = false;
    QLabel* controllerLabel_ = nullptr;
    QPushButton* learnButton_ = nullptr;
    QPushButton* monitorButton_ = nullptr;
    QLabel* learnStatus_ = nullptr;
    LiveMonitor* monitor_ = nullptr;
    QWidget* monitorWindow_ = nullptr;
    QTimer* learnTimer_ = nullptr;
    QElapsedTimer learnClock_;
    platform::ControlLearner learner_;
};

}  // namespace corvane
