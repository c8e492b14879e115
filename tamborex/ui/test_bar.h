#pragma once

// For the window tests: a bar on fake devices in a folder of its own, and a prompter that
// answers as the test says and keeps everything it was asked to show.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDialog>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "main_bar.h"
#include "platform/file_io.h"
#include "prompter.h"
#include "tamborex/app/qt_ui_thread.h"
#include "tamborex/testing/test_window.h"

// Runs the event loop until done() holds or timeoutMs pass; false on the timeout. (Qt's own
// QTRY macros return silently on failure outside a QTest test function.)
template <typename Done>
bool WaitFor(Done done, int timeoutMs = 3000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

struct RecordingPrompter final : CPrompter {
    std::vector<std::string> warnings;
    std::vector<std::string> questions;
    bool answer = false;
    bool cancel = false;     // a question that offers Cancel is answered Cancel
    std::string chosenFile;  // empty: the chooser is cancelled
    std::function<void()> onQuestion;
    std::function<void()> onWarning;
    // What a modal dialog does while it runs; by default it is closed at once.
    std::function<int(QDialog&)> run = [](QDialog& dialog) { return dialog.result(); };

    void Warn(QWidget*, const QString& text) override {
        warnings.push_back(text.toStdString());
        if (onWarning) {
            onWarning();
        }
    }
    bool Ask(QWidget*, const QString& text) override {
        questions.push_back(text.toStdString());
        if (onQuestion) {
            onQuestion();
        }
        return answer;
    }
    std::optional<bool> AskOrCancel(QWidget* parent, const QString& text) override {
        const bool yes = Ask(parent, text);
        return cancel ? std::nullopt : std::optional<bool>(yes);
    }
    bool ChooseFile(QWidget*, bool, std::string_view, std::string_view, const std::string&,
                    std::string& chosen) override {
        chosen = chosenFile;
        return !chosen.empty();
    }
    int Run(QDialog& dialog) override { return run(dialog); }
};

class BarTest : public ::testing::Test {
  protected:
    BarTest() {
        dir = std::filesystem::temp_directory_path() /
              ("tamborex-gui-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~BarTest() override {
        bar.reset();
        core.reset();
        std::filesystem::remove_all(dir);
    }

    // A machine with an output "Synth", an input "Keys" and one joystick.
    void Equip() {
        midi.SetOutputs({"Tamborex", "Synth"});
        midi.SetInputs({"Tamborex", "Keys"});
        platform::JoystickCaps caps;
        caps.name = "Test Pad";
        caps.guid = "030000005e0400008e02000014010000";
        caps.numButtons = 12;
        caps.numAxes = 6;
        stick.Attach(caps);
    }
    CMainBar& Start() {
        core = std::make_unique<CTamborexCore>(ui, midi, stick, BankPath());
        bar = std::make_unique<CMainBar>(*core, prompter);
        bar->Initialise();
        bar->show();
        return *bar;
    }
    std::string BankPath() const { return (dir / "Tamborex.bnk").string(); }
    void WriteBank(const CBankState& state) {
        int cause = 0;
        platform::WriteStage failedAt{};
        ASSERT_TRUE(platform::WriteFileAtomically(BankPath(), FormatBank(state), cause, failedAt));
    }
    CBankState ReadBankFile() const {
        CBankState state;
        std::vector<std::uint8_t> bytes;
        std::vector<std::string> messages;
        int cause = 0;
        EXPECT_TRUE(platform::ReadWholeFile(BankPath(), bytes, cause));
        ReadBank(bytes, state, messages);
        return state;
    }
    template <typename T>
    T* Find(QWidget* parent, const char* name) {
        T* widget = parent->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    std::filesystem::path dir;
    platform::FakeMidiService midi;
    platform::FakeJoystickService stick;
    RecordingPrompter prompter;
    CQtUiThread ui;
    std::unique_ptr<CTamborexCore> core;
    std::unique_ptr<CMainBar> bar;
};
