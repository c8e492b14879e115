#pragma once

// The main dialog on fake devices, with a prompter that answers as a test says: shared by
// Corvane's window tests.

#include <gtest/gtest.h>

#include <unistd.h>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "configuration_file.h"
#include "fake_joystick.h"
#include "fake_midi.h"
#include "fake_timer.h"
#include "main_dialog.h"
#include "mapper.h"
#include "prompter.h"

namespace corvane {

namespace fs = std::filesystem;

// Answers every prompt the way the test says and keeps what was shown.
struct RecordingPrompter final : Prompter {
    std::vector<QString> warnings;
    std::vector<QString> questions;
    bool answer = true;
    std::function<int(QDialog&)> run = [](QDialog& d) { return d.result(); };

    void Warn(QWidget*, const QString& text) override { warnings.push_back(text); }
    bool Ask(QWidget*, const QString& title, const QString& text) override {
        questions.push_back(title + ": " + text);
        return answer;
    }
    int Run(QDialog& dialog) override { return run(dialog); }
    std::vector<QString> saveQuestions;
    QMessageBox::StandardButton saveAnswer = QMessageBox::Cancel;
    QMessageBox::StandardButton AskSave(QWidget*, const QString& text) override {
        saveQuestions.push_back(text);
        return saveAnswer;
    }
};

class DialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("corvane-gui-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = std::make_unique<ConfigurationFile>((dir / "corvane.txt").string());
        midi.SetOutputs({"Corvane", "Synth"});
        midi.SetInputs({"Corvane", "Keys"});
    }
    void TearDown() override {
        dialog.reset();
        mapper.reset();
        fs::remove_all(dir);
    }

    MainDialog& Open(Settings settings = {}) {
        mapper = std::make_unique<Mapper>(midi, joystick, timer, settings);
        dialog = std::make_unique<MainDialog>(*mapper, *file, prompter);
        return *dialog;
    }
    template <typename T>
    T* Find(const char* name) const {
        T* widget = dialog->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void SelectControl(int control) { Find<QListWidget>("controlList")->setCurrentRow(control); }
    void Pick(QComboBox* box, int index) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    void TypeName(const QString& name) {
        QLineEdit* edit = Find<QComboBox>("configurationBox")->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, name);
    }

    fs::path dir;
    platform::FakeMidiService midi;
    platform::FakeJoystickService joystick;
    platform::FakeTimer timer;
    RecordingPrompter prompter;
    std::unique_ptr<ConfigurationFile> file;
    std::unique_ptr<Mapper> mapper;
    std::unique_ptr<MainDialog> dialog;
};

}  // namespace corvane
