// Every window of Corvane as a person sees it, on a 1280x800 screen at the scale the run gives
// (QT_SCALE_FACTOR; ctest runs this program once at 1 and once at 2).

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <functional>
#include <set>

#include "configuration_file.h"
#include "fake_joystick.h"
#include "fake_midi.h"
#include "fake_timer.h"
#include "main_dialog.h"
#include "mapper.h"
#include "prompter.h"
#include "window_checks.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

double Scale() {
    bool ok = false;
    const double scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok ? scale : 1.0;
}

struct RunningPrompter final : Prompter {
    std::function<int(QDialog&)> run;
    void Warn(QWidget*, const QString&) override {}
    bool Ask(QWidget*, const QString&, const QString&) override { return false; }
    int Run(QDialog& dialog) override { return run(dialog); }
};

class LayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size() * Scale();
        ASSERT_EQ(screen, QSize(1280, 800)) << "run through ctest, which gives the screen";
        dir = fs::temp_directory_path() / ("corvane-layout-" + std::to_string(getpid()));
        fs::create_directories(dir);
        file = std::make_unique<ConfigurationFile>((dir / "corvane.txt").string());
        midi.SetOutputs({"Corvane", "A synthesizer with a rather long port name"});
        midi.SetInputs({"Corvane", "Keys"});
    }
    void TearDown() override {
        dialog.reset();
        mapper.reset();
        fs::remove_all(dir);
    }

    // The window, then each control's view in it, then Options and About.
    void VisitEveryWindow(const std::function<void(QWidget&)>& look) {
        mapper = std::make_unique<Mapper>(midi, joystick, timer, Settings{});
        dialog = std::make_unique<MainDialog>(*mapper, *file, prompter);
        auto shown = [&](QWidget& window, const char* picture) {
            window.show();
            QApplication::sendPostedEvents();
            QApplication::processEvents();
            SCOPED_TRACE(window.windowTitle().toStdString());
            look(window);
            TakePicture(window, picture);
        };
        prompter.run = [&](QDialog& d) {
            shown(d, d.windowTitle() == QStringLiteral("Options") ? "corvane-options"
                                                                  : "corvane-about");
            d.hide();
            return 0;
        };
        auto* controls = dialog->findChild<QListWidget*>(QStringLiteral("controlList"));
        ASSERT_NE(controls, nullptr);
        for (int row = 0; row < controls->count(); ++row) {
            controls->setCurrentRow(row);  // buttons show more fields than axes
            shown(*dialog, row == 0                       ? "corvane-main"
                           : row == controls->count() - 1 ? "corvane-main-button"
                                                          : nullptr);
        }
        // The window grows to show the live monitor, and still fits on the screen.
        auto* monitor = dialog->findChild<QPushButton*>(QStringLiteral("monitorButton"));
        ASSERT_NE(monitor, nullptr);
        // A stick played a little, so that the picture shows what the monitor shows.
        platform::JoystickCaps caps;
        caps.name = "Gamepad";
        caps.numAxes = 6;
        caps.numButtons = 12;
        caps.numHats = 1;
        joystick.Attach(caps);
        joystick.SetAxis(platform::kAxisX, 16000);
        joystick.SetAxis(platform::kAxisY, -9000);
        joystick.SetButton(1, true);
        mapper->Controls()[kXAxis].type = 1;
        mapper->Controls()[kYAxis].type = 0;
        mapper->Controls()[kButton2].type = 64;
        monitor->click();
        QApplication::processEvents();
        mapper->OnTick();
        joystick.SetAxis(platform::kAxisX, 22000);
        mapper->OnTick();
        QTest::qWait(50);
        // On a short screen it has a window of its own.
        auto* view = dialog->findChild<QWidget*>(QStringLiteral("liveMonitor"));
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->isVisible());
        monitorApart = view->window() != dialog.get();
        shown(*view->window(), "corvane-monitor");
        monitor->click();
        QApplication::processEvents();
        dialog->findChild<QPushButton*>(QStringLiteral("optionsButton"))->click();
        dialog->findChild<QPushButton*>(QStringLiteral("aboutButton"))->click();
    }

    // With TBX_SCREENSHOTS set to a folder, each window is saved there as a picture (the names
    // get "-x2" at scale 2); tools/take-screenshots.sh runs this on an X server of its own.
    static void TakePicture(QWidget& window, const char* name) {
        const QString folder = qEnvironmentVariable("TBX_SCREENSHOTS");
        if (folder.isEmpty() || name == nullptr) {
            return;
        }
        const QString file =
            QStringLiteral("%1/%2%3.png")
                .arg(folder, QLatin1String(name),
                     Scale() == 1.0 ? QString() : QStringLiteral("-x%1").arg(Scale()));
        EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
    }

    fs::path dir;
    platform::FakeMidiService midi;
    platform::FakeJoystickService joystick;
    platform::FakeTimer timer;
    RunningPrompter prompter;
    std::unique_ptr<ConfigurationFile> file;
    std::unique_ptr<Mapper> mapper;
    std::unique_ptr<MainDialog> dialog;
    std::set<std::string> seen;
    bool monitorApart = false;

    std::set<std::string> Expected() const {
        std::set<std::string> titles{"Corvane", "Options", "About Corvane"};
        if (monitorApart) {
            titles.insert("Corvane Monitor");
        }
        return titles;
    }
};

TEST_F(LayoutTest, EveryWindowShowsAllOfItselfOnTheScreen) {
    VisitEveryWindow([&](QWidget& window) {
        seen.insert(window.windowTitle().toStdString());
        for (const std::string& fault : LayoutFaults(window)) {
            ADD_FAILURE() << "at scale " << Scale() << ": " << fault;
        }
        if (Scale() == 1.0) {
            for (const std::string& fault : ScrolledAway(window)) {
                ADD_FAILURE() << fault;
            }
        }
    });
    EXPECT_EQ(seen, Expected());
}

// Every control a person can reach with the keyboard says what it does, and Tab reaches every
// one of them.
TEST_F(LayoutTest, EveryControlHasAToolTipAndTabReachesIt) {
    VisitEveryWindow([&](QWidget& window) {
        seen.insert(window.windowTitle().toStdString());
        for (const std::string& fault : ControlsWithoutToolTip(window)) {
            ADD_FAILURE() << fault;
        }
        for (const std::string& fault : TabFaults(window)) {
            ADD_FAILURE() << fault;
        }
    });
    EXPECT_EQ(seen, Expected());
}

}  // namespace
}  // namespace corvane
