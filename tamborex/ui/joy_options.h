#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <memory>

#include <QElapsedTimer>

#include "platform/joystick.h"
#include "platform/learn.h"
#include "tamborex/model/patch.h"

namespace Ui {
class CJoyOptions;
}
class CJoyResponse;
class CLiveMonitor;
class CMidiLearn;
class CPrompter;
class QLabel;
class QTimer;
class QToolButton;
class CSession;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "Joystick options": the current patch, edited in place. List choices take effect at once,
// typed numbers at Apply or OK. Modeless; the bar keeps one for the whole run.
class CJoyOptions final : public QDialog {
    Q_OBJECT

  public:
    // Edits the session's patch in use through its commands; "View" opens response.
    CJoyOptions(CSession& session, CPrompter& prompter, CJoyResponse& response, QWidget* parent);
    ~CJoyOptions() override;

    // Shows the dialog on the patch in use, at the place the bank keeps. Does nothing while it
    // is open.
    void Open(const platform::JoystickCaps& caps);
    bool IsOpen() const { return open_; }
    // Another patch became current: show it, if the dialog is open.
    void RefreshFromPatch();
    // A controller came or went: list the attached ones again, if the dialog is open.
    void RefreshControllers();
    // The line above OK: why the patch is silent, or that an arpeggio waits for MIDI clock.
    void ShowPlayState();
    // Reads every field with its range check; writes the typed numbers and the active flag
    // into the patch only when all of them are good.
    bool Apply();

    // Esc carries the cancel identifier, which here is Apply: it applies and stays open. While
    // a learn runs, Escape cancels it instead.
    void reject() override;

    // Learning: the control the player moves next picks its row; the next message at the MIDI
    // input fills a button row.
    void StartLearn();
    void StartMidiLearn(int button);
    bool Learning() const;
    CLiveMonitor& Monitor() { return *monitor_; }
    QString LearnStatus() const;
    // OK: Apply, then close, remembering where the dialog was.
    void accept() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // The values the controls exchange with, in their exchange order.
    struct Fields {
        std::array<std::int32_t, kPolledButtons> modes{};
        std::int32_t sensitivity = 0;
        std::int32_t pollCode = 0;
        std::array<std::int32_t, kPolledButtons> data1{};
        std::array<std::int32_t, kPolledButtons> data2{};
        std::int32_t active = 0;
        std::array<std::int32_t, kPolledButtons> channels{};
    };

    // Sizes the dialog for its screen.
    void Fit();
    void LoadFields();
    bool ReadControls();
    void PutControls();
    void SelectOutputDevice();
    void SetRowEnabled(int button);
    void OnAxisController(int axis, int index);
    void OnButtonMode(int button, int index);
    void OnOutputDevice(int index);
    void OnPollTime(int index);
    void OnSensitivity(int index);
    void OnActive(bool checked);
    void OnAxisOptions(int axis);
    void OnArpeggiator(int button);
    void OnSysExEditor();
    void OnJoystickInfo();
    void OnController();

    const CPatch& Patch() const;

    // joy_options_learn.cpp: the Learn button, the rows' MIDI learn and the live monitor.
    void AddLearnAndMonitor();
    void LearnTick();
    void EndLearn(const QString& status);
    void OnMidiLearnt(int button, const platform::MidiLearnClassifier::Result& learnt);

    std::unique_ptr<Ui::CJoyOptions> ui_;
    QString controllerAbout_;  // the controller list's tool tip before the entry is added
    const platform::JoystickCaps* caps_ = nullptr;
    CSession& session_;
    CPrompter& prompter_;
    bool open_ = false;
    QLabel* playState_ = nullptr;
    Fields fields_;
    std::array<QComboBox*, kAxisCount> axisLists_{};
    std::array<QComboBox*, kPolledButtons> modeLists_{};
    std::array<QLineEdit*, kPolledButtons> data1Edits_{};
    std::array<QLineEdit*, kPolledButtons> data2Edits_{};
    std::array<QLineEdit*, kPolledButtons> channelEdits_{};
    std::array<QPushButton*, kPolledButtons> arpButtons_{};
    std::array<QToolButton*, kPolledButtons> midiLearnButtons_{};
    QPushButton* learnButton_ = nullptr;
    QPushButton* monitorButton_ = nullptr;
    QLabel* learnStatus_ = nullptr;
    CLiveMonitor* monitor_ = nullptr;
    CMidiLearn* midiLearn_ = nullptr;
    QTimer* learnTimer_ = nullptr;
    platform::ControlLearner learner_;
    QElapsedTimer learnClock_;
};
