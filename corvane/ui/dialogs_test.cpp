#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>

#include "configuration_file.h"
#include "fake_joystick.h"
#include "fake_midi.h"
#include "fake_timer.h"
#include "ini_profile.h"
#include "main_dialog.h"
#include "mapper.h"
#include "options_dialog.h"
#include "prompter.h"
#include "test_dialog.h"

namespace corvane {
namespace {

TEST_F(DialogsTest, OverrideListShowsForButtonsOnlyAndMidFollowsTheOverride) {
    Open();
    auto* overrideBox = Find<QComboBox>("overrideBox");
    auto* mid = Find<QLineEdit>("midEdit");
    EXPECT_TRUE(overrideBox->isHidden());
    EXPECT_TRUE(Find<QWidget>("overrideLabel")->isHidden());
    EXPECT_TRUE(mid->isEnabled());

    SelectControl(kButton2);
    EXPECT_FALSE(overrideBox->isHidden());
    EXPECT_FALSE(Find<QWidget>("overrideLabel")->isHidden());
    EXPECT_FALSE(mid->isEnabled());
    Pick(overrideBox, 1);
    EXPECT_TRUE(mid->isEnabled());
    EXPECT_EQ(mapper->Controls()[kButton2].overrideAxis, 1);

    SelectControl(kButton3);
    EXPECT_FALSE(mid->isEnabled());
    SelectControl(kButton2);
    EXPECT_TRUE(mid->isEnabled());
    SelectControl(kYAxis);
    EXPECT_TRUE(overrideBox->isHidden());
    EXPECT_TRUE(mid->isEnabled());
}

TEST_F(DialogsTest, EditsGoStraightIntoTheControlAndDigitsAreDecimal) {
    Open();
    SelectControl(kZAxis);
    auto* min = Find<QLineEdit>("minEdit");
    min->clear();
    QTest::keyClicks(min, "050");
    EXPECT_EQ(mapper->Controls()[kZAxis].min, 50);
    QTest::keyClick(min, Qt::Key_Backspace);
    QTest::keyClick(min, Qt::Key_Backspace);
    QTest::keyClick(min, Qt::Key_Backspace);
    EXPECT_EQ(mapper->Controls()[kZAxis].min, 0);
    QTest::keyClicks(min, "x7");  // letters are not taken
    EXPECT_EQ(min->text(), "7");
    Pick(Find<QComboBox>("typeBox"), 8);
    EXPECT_EQ(mapper->Controls()[kZAxis].type, 7);
    Pick(Find<QComboBox>("typeBox"), 0);
    EXPECT_EQ(mapper->Controls()[kZAxis].type, kTypeUnassigned);
}

TEST_F(DialogsTest, SaveAndDeleteButtonsFollowTheConfigurationBox) {
    std::ofstream(dir / "corvane.txt") << "\"beta\" 1 0 50 100 0\n\"Alpha\" 2 0 50 100 0\n"
                                          "\"gamma\" 3 0 50 100 0\n";
    Open();
    auto* box = Find<QComboBox>("configurationBox");
    auto* save = Find<QPushButton>("saveButton");
    auto* del = Find<QPushButton>("deleteButton");
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(0), "Alpha");  // sorted without regard to case
    EXPECT_EQ(box->itemText(1), "beta");
    EXPECT_FALSE(save->isEnabled());
    EXPECT_FALSE(del->isEnabled());

    Pick(box, 1);
    EXPECT_TRUE(save->isEnabled());
    EXPECT_TRUE(del->isEnabled());
    EXPECT_EQ(mapper->Controls()[kXAxis].type, 1);
    EXPECT_EQ(Find<QListWidget>("controlList")->currentRow(), kXAxis);

    TypeName("Lead");
    EXPECT_TRUE(save->isEnabled());
    EXPECT_FALSE(del->isEnabled());
    TypeName("");
    EXPECT_FALSE(save->isEnabled());

    TypeName("lead");
    save->click();
    TypeName("lead");
    save->click();
    EXPECT_EQ(box->count(), 4);
    EXPECT_EQ(box->currentText(), "lead");
    EXPECT_TRUE(del->isEnabled());
    EXPECT_EQ(file->ReadNames(), (std::vector<std::string>{"beta", "Alpha", "gamma", "lead"}));
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(DialogsTest, ListIsSortedAtStartAndNewNamesGoWhereTheyBelong) {
    // Equal names without regard to case: the one read last comes first.
    std::ofstream(dir / "corvane.txt") << "\"b\" 1\n\"C\" 1\n\"B\" 1\n\"a\" 1\n\"\"\n\"d\" 1\n";
    Open();
    auto* box = Find<QComboBox>("configurationBox");
    auto items = [&] {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i) {
            texts << box->itemText(i);
        }
        return texts.join(' ');
    };
    EXPECT_EQ(items(), "a B b C d");
    for (const char* name : {"c", "A0", "e", "0"}) {
        TypeName(name);
        Find<QPushButton>("saveButton")->click();
    }
    EXPECT_EQ(items(), "0 a A0 B b c C d e");
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(DialogsTest, UnreadableConfigurationFileIsSaidAtStartAndKept) {
    ASSERT_EQ(mkfifo((dir / "corvane.txt").c_str(), 0600), 0);  // reading would block for good
    Open();
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_TRUE(prompter.warnings[0].contains("corvane.txt")) << prompter.warnings[0].toStdString();
    EXPECT_TRUE(prompter.warnings[0].contains("not a regular file"));
    TypeName("Lead");
    Find<QPushButton>("saveButton")->click();
    EXPECT_EQ(prompter.warnings.size(), 2u);
    EXPECT_TRUE(fs::is_fifo(dir / "corvane.txt"));
}

TEST_F(DialogsTest, TheWindowHasItsIconAndKeepsItsLayoutBetweenAxesAndButtons) {
    MainDialog& main = Open();
    EXPECT_FALSE(main.windowIcon().isNull());
    main.show();
    SelectControl(kXAxis);
    QApplication::processEvents();
    const QRect list = Find<QListWidget>("controlList")->geometry();
    const QRect type = Find<QComboBox>("typeBox")->geometry();
    SelectControl(kButton1);
    QApplication::processEvents();
    EXPECT_EQ(Find<QListWidget>("controlList")->geometry(), list);
    EXPECT_EQ(Find<QComboBox>("typeBox")->geometry(), type);
}

TEST_F(DialogsTest, WithoutAnyMidiDeviceTheTitleSaysSoAndNoBoxIsShown) {
    EXPECT_EQ(Open().windowTitle(), "Corvane");
    dialog.reset();
    midi.SetOutputs({});
    midi.SetInputs({});
    MainDialog& bare = Open();
    EXPECT_EQ(bare.windowTitle(), "Corvane - no MIDI devices");
    EXPECT_TRUE(bare.toolTip().contains("JACK server"));
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(DialogsTest, DeleteAsksAndOnlyYesRemoves) {
    std::ofstream(dir / "corvane.txt") << "\"Pad\" 1 0 50 100 0\n";
    Open();
    auto* box = Find<QComboBox>("configurationBox");
    Pick(box, 0);
    prompter.answer = false;
    Find<QPushButton>("deleteButton")->click();
    EXPECT_EQ(prompter.questions, (std::vector<QString>{"Delete Confirmation: Are you sure?"}));
    EXPECT_EQ(file->ReadNames().size(), 1u);
    EXPECT_EQ(box->count(), 1);

    prompter.answer = true;
    Find<QPushButton>("deleteButton")->click();
    EXPECT_TRUE(file->ReadNames().empty());
    EXPECT_EQ(box->count(), 0);
    EXPECT_FALSE(Find<QPushButton>("deleteButton")->isEnabled());
    EXPECT_EQ(mapper->Controls()[kXAxis].type, 1);  // the assignments outlive their file entry
}

TEST_F(DialogsTest, RefusedNamesAndFailedWritesAreReportedAndChangeNothing) {
    Open();
    TypeName("say \"hi\"");
    Find<QPushButton>("saveButton")->click();
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_TRUE(prompter.warnings[0].contains("double quote"));
    EXPECT_FALSE(fs::exists(dir / "corvane.txt"));

    fs::create_directories(dir / "corvane.txt");  // unreadable as a file, even for root
    TypeName("Lead");
    Find<QPushButton>("saveButton")->click();
    ASSERT_EQ(prompter.warnings.size(), 2u);
    EXPECT_TRUE(prompter.warnings[1].contains("nothing was changed"));
    EXPECT_EQ(Find<QComboBox>("configurationBox")->count(), 0);
}

TEST_F(DialogsTest, ProfileIsAnIniFileWithAnOptionsSection) {
    const QString path = QString::fromStdString((dir / "Corvane.ini").string());
    std::ofstream(dir / "Corvane.ini") << "[Options]\nDevOut=3\nChannel=abc\n";
    {
        IniProfile profile(path);
        Settings s = ReadSettings(profile);
        EXPECT_EQ(s.outputDevice, 3);
        EXPECT_EQ(s.channel, 0);  // not a number: the default
        s.channel = 9;
        WriteSettings(profile, s);
        QString why;
        EXPECT_TRUE(profile.Flush(why));
    }
    std::ifstream in(dir / "Corvane.ini");
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("[Options]"), std::string::npos);
    EXPECT_NE(text.find("Channel=9"), std::string::npos);
    EXPECT_NE(text.find("Thru=1"), std::string::npos);
    EXPECT_NE(text.find("SampleRate=1"), std::string::npos);
}

TEST_F(DialogsTest, ProfileThatIsNotARegularFileOrTooLargeIsNeitherReadNorWritten) {
    const fs::path path = dir / "Corvane.ini";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    {
        IniProfile profile(QString::fromStdString(path.string()));
        EXPECT_TRUE(profile.Problem().contains("not a regular file"));
        EXPECT_EQ(ReadSettings(profile).channel, Settings{}.channel);
        WriteSettings(profile, Settings{});
        QString why;
        EXPECT_FALSE(profile.Flush(why));
        EXPECT_TRUE(why.contains("Corvane.ini"));
    }
    EXPECT_TRUE(fs::is_fifo(path));
    fs::remove(path);
    std::ofstream(path) << "[Options]\nChannel=5\n";
    fs::resize_file(path, IniProfile::kMaxFileSize + 1);
    IniProfile big(QString::fromStdString(path.string()));
    EXPECT_TRUE(big.Problem().contains("larger than 1 MB"));
    EXPECT_EQ(ReadSettings(big).channel, Settings{}.channel);
}

TEST_F(DialogsTest, OptionsOkAndCancelBothRestartTheTimerAndReopenThePorts) {
    Open({true, 1, kMidiMapper, 0, 1});
    using Call = platform::FakeMidiService::Call;
    auto reopened = [&] {
        int closes = 0, opens = 0;
        for (const auto& e : midi.Events()) {
            closes += e.call == Call::CloseOutput;
            opens += e.call == Call::OpenOutput;
        }
        return std::make_pair(closes, opens);
    };
    midi.ClearEvents();
    prompter.run = [](QDialog& d) {
        d.show();
        d.findChild<QLineEdit*>("channelEdit")->setText("9");  // cancelled: not taken
        d.reject();
        return d.result();
    };
    dialog->RunOptions();
    EXPECT_EQ(timer.Starts(), (std::vector<unsigned>{30, 30}));
    EXPECT_EQ(reopened(), std::make_pair(1, 1));
    EXPECT_EQ(mapper->CurrentSettings(), (Settings{true, 1, kMidiMapper, 0, 1}));

    prompter.run = [](QDialog& d) {
        d.show();
        auto* outputs = d.findChild<QComboBox*>("outputBox");
        EXPECT_EQ(outputs->itemText(0), "MIDI_MAPPER");
        EXPECT_EQ(outputs->itemText(2), "Synth");
        EXPECT_EQ(outputs->currentIndex(), 0);
        EXPECT_EQ(d.findChild<QLineEdit*>("channelEdit")->text(), "1");
        outputs->setCurrentIndex(2);
        d.findChild<QComboBox*>("inputBox")->setCurrentIndex(0);
        d.findChild<QCheckBox*>("thruCheck")->setChecked(false);
        d.findChild<QLineEdit*>("channelEdit")->setText("16");
        d.findChild<QComboBox*>("rateBox")->setCurrentIndex(2);
        d.accept();
        return d.result();
    };
    dialog->RunOptions();
    EXPECT_EQ(timer.Starts(), (std::vector<unsigned>{30, 30, 10}));
    EXPECT_EQ(reopened(), std::make_pair(2, 2));
    EXPECT_EQ(mapper->CurrentSettings(), (Settings{false, 0, 1, 15, 2}));
    EXPECT_EQ(midi.DeviceOf(midi.Events().back().handle), 1);
}

TEST_F(DialogsTest, ChannelMustBeOneToSixteen) {
    Open();
    OptionsDialog options({}, {}, prompter);
    options.channel = 1;
    options.sampleRate = 1;
    options.show();
    auto* channel = options.findChild<QLineEdit*>("channelEdit");
    channel->setText("17");
    options.accept();
    channel->setText("0");
    options.accept();
    channel->setText("");
    options.accept();
    EXPECT_EQ(prompter.warnings, (std::vector<QString>{"Please enter an integer between 1 and 16.",
                                                       "Please enter an integer between 1 and 16.",
                                                       "Please enter an integer."}));
    EXPECT_TRUE(options.isVisible());
    EXPECT_EQ(options.channel, 1);
    channel->setText("16");
    options.accept();
    EXPECT_FALSE(options.isVisible());
    EXPECT_EQ(options.result(), QDialog::Accepted);
    EXPECT_EQ(options.channel, 16);
    // With no MIDI devices at all the output list still offers the default.
    EXPECT_EQ(options.findChild<QComboBox*>("outputBox")->count(), 1);
    EXPECT_EQ(options.findChild<QComboBox*>("inputBox")->count(), 0);
}

TEST_F(DialogsTest, EnterDoesNothingAndEscapeCloses) {
    Open();
    dialog->show();
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(Find<QComboBox>("configurationBox")->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
}

// Max 150 % typed and then Exit: Cancel stays, Save saves under the name shown and exits, Discard
// exits; with nothing changed since the last load or save nothing is asked.
TEST_F(DialogsTest, ExitOffersUnsavedAssignmentsForSaving) {
    std::ofstream(dir / "corvane.txt") << "\"Lead\" 1 0 50 100 0\n";
    Open();
    dialog->show();
    Find<QPushButton>("exitButton")->click();
    EXPECT_TRUE(prompter.saveQuestions.empty());
    EXPECT_FALSE(dialog->isVisible());

    dialog->show();
    Pick(Find<QComboBox>("configurationBox"), 0);
    auto* max = Find<QLineEdit>("maxEdit");
    max->clear();
    QTest::keyClicks(max, "150");
    EXPECT_TRUE(dialog->AssignmentsUnsaved());
    Find<QPushButton>("exitButton")->click();
    ASSERT_EQ(prompter.saveQuestions.size(), 1u);
    EXPECT_TRUE(prompter.saveQuestions[0].contains("\"Lead\""))
        << prompter.saveQuestions[0].toStdString();
    EXPECT_TRUE(dialog->isVisible());  // Cancel
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(prompter.saveQuestions.size(), 2u);
    EXPECT_TRUE(dialog->isVisible());

    prompter.saveAnswer = QMessageBox::Save;
    Find<QPushButton>("exitButton")->click();
    EXPECT_FALSE(dialog->isVisible());
    ControlTable read;
    ASSERT_TRUE(file->LoadConfiguration("Lead", read));
    EXPECT_EQ(read[kXAxis].max, 150);
    EXPECT_FALSE(dialog->AssignmentsUnsaved());

    // Without a name, Save says what is missing and the window stays; Discard exits.
    dialog->show();
    TypeName("");
    QTest::keyClicks(max, "9");
    Find<QPushButton>("exitButton")->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(prompter.warnings,
              (std::vector<QString>{"Please type a name for the configuration."}));
    prompter.saveAnswer = QMessageBox::Discard;
    Find<QPushButton>("exitButton")->click();
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_TRUE(file->LoadConfiguration("Lead", read));
    EXPECT_EQ(read[kXAxis].max, 150);
}

// The window says whether a controller is attached, following plugs, and what Reset Controls
// sends.
TEST_F(DialogsTest, TheWindowShowsTheControllerAndWhatResetSends) {
    Open({true, 1, 1, 5, 1});
    auto* line = Find<QLabel>("controllerLabel");
    EXPECT_EQ(line->text(), "No controller attached: nothing is sent");
    platform::JoystickCaps caps;
    caps.name = "Test Pad";
    joystick.Attach(caps);
    for (int i = 0; i < 200 && line->text() != "Controller: Test Pad"; ++i) {
        QTest::qWait(5);
    }
    EXPECT_EQ(line->text(), "Controller: Test Pad");
    joystick.Unplug();
    for (int i = 0; i < 200 && line->text() == "Controller: Test Pad"; ++i) {
        QTest::qWait(5);
    }
    EXPECT_EQ(line->text(), "No controller attached: nothing is sent");
    EXPECT_TRUE(Find<QLabel>("resetLabel")->text().contains("CC 121"));
    EXPECT_TRUE(Find<QLabel>("resetLabel")->text().contains("channel 1"));
}

TEST_F(DialogsTest, ResetControlsSendsTheResetWhateverTheChannel) {
    Open({true, 1, 1, 5, 1});
    midi.ClearEvents();
    Find<QPushButton>("resetButton")->click();
    EXPECT_EQ(midi.SentBytes(), (std::vector<std::vector<std::uint8_t>>{{0xB0, 0x79, 0x00}}));
}

}  // namespace
}  // namespace corvane
