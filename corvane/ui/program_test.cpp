#include "program.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "fake_joystick.h"
#include "fake_midi.h"
#include "fake_timer.h"
#include "main_dialog.h"
#include "nsm_fake_server.h"
#include "options_dialog.h"
#include "prompter.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("corvane-program-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        setup.places.configurations = (dir / "corvane.txt").string();
        setup.places.profile = QString::fromStdString((dir / "Corvane.ini").string());
        setup.makeServices = [](std::string_view, platform::MidiBackend) {
            auto midi = std::make_unique<platform::FakeMidiService>();
            midi->SetOutputs({"Corvane", "Synth"});
            midi->SetInputs({"Corvane"});
            return Services{std::move(midi), std::make_unique<platform::FakeJoystickService>(),
                            std::make_unique<platform::FakeTimer>()};
        };
    }
    void TearDown() override { fs::remove_all(dir); }

    // Calls step on the user-interface thread, again and again, in whatever loop is running,
    // until the run ends.
    void Drive(const std::function<void()>& step) {
        poller.setInterval(5);
        QObject::connect(&poller, &QTimer::timeout, step);
        poller.start();
    }

    fs::path dir;
    ProgramSetup setup;
    QtPrompter prompter;
    QTimer poller;
};

// Reached from a box that a dialog opened over the window: two loops deep. A signal there used to
// be read only once the user had closed both, or never.
TEST_F(ProgramTest, ATerminationSignalEndsNestedDialogsAndWritesTheProfile) {
    std::ofstream(dir / "Corvane.ini") << "[Options]\nChannel=6\n";
    Program program(setup, prompter);
    bool optionsRun = false;
    bool accepted = false;
    bool signalled = false;
    QString boxText;
    Drive([&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr && !optionsRun && program.Current() != nullptr) {
            optionsRun = true;
            // Its own call, so that this step goes on running inside the dialog's loop.
            QTimer::singleShot(0, [&] { program.Current()->Window().RunOptions(); });
        } else if (auto* options = qobject_cast<OptionsDialog*>(modal); options && !accepted) {
            accepted = true;
            options->findChild<QLineEdit*>("channelEdit")->setText("0");
            QTimer::singleShot(0, options, [options] { options->accept(); });
        } else if (auto* box = qobject_cast<QMessageBox*>(modal); box && !signalled) {
            signalled = true;
            boxText = box->text();
            std::raise(SIGTERM);
        }
    });
    EXPECT_EQ(program.Run(), 0);
    poller.stop();

    EXPECT_TRUE(signalled);
    EXPECT_EQ(boxText, "Please enter an integer between 1 and 16.");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // Cancelled, so the options are those it had.
    EXPECT_EQ(program.Current()->Core().CurrentSettings().channel, 6);
    const std::string ini = ReadText(dir / "Corvane.ini");
    EXPECT_NE(ini.find("Channel=6"), std::string::npos) << ini;
    EXPECT_NE(ini.find("LowLatency=1"), std::string::npos) << ini;  // written, not just kept
}

TEST_F(ProgramTest, ClosingTheWindowEndsTheRunAndWritesTheProfile) {
    Program program(setup, prompter);
    Drive([&] {
        if (program.Current() != nullptr && program.Current()->Window().isVisible()) {
            program.Current()->Window().close();
        }
    });
    EXPECT_EQ(program.Run(), 0);
    poller.stop();
    EXPECT_NE(ReadText(dir / "Corvane.ini").find("[Options]"), std::string::npos);
}

TEST_F(ProgramTest, AProfileThatCannotBeWrittenIsSaidAndTheExitStatusSaysSo) {
    fs::create_directories(dir / "Corvane.ini");  // a folder in its place: never written
    Program program(setup, prompter);
    QStringList said;
    Drive([&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            said << box->text();
            box->reject();
        } else if (program.Current() != nullptr && program.Current()->Window().isVisible()) {
            program.Current()->Window().close();
        }
    });
    EXPECT_EQ(program.Run(), 1);
    poller.stop();
    // Said at the start, and again when it could not be written at the end.
    ASSERT_EQ(said.size(), 2);
    EXPECT_TRUE(said[0].contains("Corvane.ini")) << said[0].toStdString();
    EXPECT_TRUE(said[1].contains("Corvane.ini")) << said[1].toStdString();
}

QMessageBox* ShownBox() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

// Opening a session answers at once: a message start-up has comes after the answer, in a box
// that waits for nobody. The window's Exit only hides it, and the session's end saves it all.
TEST_F(ProgramTest, UnderASessionManagerMessagesFollowTheAnswerAndExitOnlyHides) {
    testsupport::NsmFakeServer nsm;
    ASSERT_TRUE(nsm.Running());
    const fs::path session = dir / "Corvane.nT";
    fs::create_directories(session);
    ASSERT_EQ(mkfifo((session / "corvane.txt").c_str(), 0600), 0);  // refused, and said so
    setup.nsmUrl = nsm.Url();
    Program program(setup, prompter);
    int step = 0;
    bool answeredFirst = false;
    bool boxWaited = true;
    bool hiddenByExit = false;
    Drive([&] {
        if (step == 0 && !nsm.Messages("/nsm/server/announce").empty()) {
            step = 1;
            EXPECT_EQ(program.Current(), nullptr);
            nsm.Open(session.string(), "Corvane", "nT");
        } else if (QMessageBox* box = ShownBox(); step == 1 && box != nullptr) {
            step = 2;
            answeredFirst = nsm.WaitForAnswer("/nsm/client/open").has_value();
            boxWaited = box->isModal() || QApplication::activeModalWidget() != nullptr;
            EXPECT_TRUE(box->text().contains("corvane.txt")) << box->text().toStdString();
            box->close();
        } else if (step == 2) {
            step = 3;
            MainDialog& window = program.Current()->Window();
            EXPECT_TRUE(window.isVisible());
            window.findChild<QPushButton*>("exitButton")->click();
            hiddenByExit = !window.isVisible();
        } else if (step == 3 && !nsm.Messages("/nsm/client/gui_is_hidden").empty()) {
            step = 4;
            std::raise(SIGTERM);
        }
    });
    EXPECT_EQ(program.Run(), 0);
    poller.stop();
    EXPECT_EQ(step, 4);
    EXPECT_TRUE(answeredFirst);
    EXPECT_FALSE(boxWaited);
    EXPECT_TRUE(hiddenByExit);
    EXPECT_EQ(nsm.WaitForAnswer("/nsm/client/open")->path, "/reply");
    EXPECT_NE(ReadText(session / "Corvane.ini").find("[Options]"), std::string::npos);
    EXPECT_EQ(ReadText(session / "corvane-session.txt").rfind("\"Session\" -1 0 50 100 0", 0), 0u);
    EXPECT_TRUE(fs::is_fifo(session / "corvane.txt"));
    EXPECT_FALSE(fs::exists(dir / "Corvane.ini"));  // the places without a session: untouched
}

// A session manager that cannot show a window again: closing it minimises it instead.
TEST_F(ProgramTest, UnderASessionManagerWithoutOptionalGuisTheWindowIsOnlyMinimised) {
    testsupport::NsmFakeServer nsm;
    nsm.AcceptAnnounces("Plain", ":server-control:");
    setup.nsmUrl = nsm.Url();
    Program program(setup, prompter);
    int step = 0;
    bool minimised = false;
    Drive([&] {
        if (step == 0 && !nsm.Messages("/nsm/server/announce").empty()) {
            step = 1;
            nsm.Open((dir / "Corvane.nP").string(), "Corvane", "nP");
        } else if (step == 1 && program.Current() != nullptr &&
                   program.Current()->Window().isVisible()) {
            step = 2;
            program.Current()->Window().close();
            minimised = program.Current()->Window().isVisible() &&
                        program.Current()->Window().isMinimized();
            std::raise(SIGTERM);
        }
    });
    EXPECT_EQ(program.Run(), 0);
    poller.stop();
    EXPECT_TRUE(minimised);
}

TEST(QtPrompterTest, WhereNothingMayWaitATellShowsAfterTheCurrentTaskAndEndAllClosesIt) {
    QtPrompter prompter;
    prompter.SetNothingWaits(true);
    QWidget window;
    prompter.Tell(&window, "The MIDI output port \"Synth\" is missing.");
    // Returned at once, and nothing is up before the task that said it is over.
    auto shown = [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible()) {
                return static_cast<QMessageBox*>(w);
            }
        }
        return static_cast<QMessageBox*>(nullptr);
    };
    EXPECT_EQ(shown(), nullptr);
    QApplication::processEvents();
    QMessageBox* box = shown();
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(box->text().contains("Synth"));

    prompter.EndAll(false);
    QApplication::processEvents();
    EXPECT_EQ(shown(), nullptr);

    prompter.EndAll(true);
    EXPECT_FALSE(prompter.Ask(&window, "Delete Confirmation", "Are you sure?"));
    prompter.Tell(&window, "Not shown any more.");
    QApplication::processEvents();
    EXPECT_EQ(shown(), nullptr);
}

}  // namespace
}  // namespace corvane
