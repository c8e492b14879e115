// Every window of Tamborex as a person sees it, on a 1280x800 screen at the scale the run gives
// (QT_SCALE_FACTOR; ctest runs this program once at 1 and once at 2): everything inside its
// window, no text cut, every window on the screen.

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <algorithm>
#include <functional>
#include <vector>

#include "joy_options.h"
#include "test_bar.h"
#include "window_checks.h"

namespace {

double Scale() {
    bool ok = false;
    const double scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok ? scale : 1.0;
}

class LayoutTest : public BarTest {
  protected:
    void SetUp() override {
        // The checks mean something only on the screen they are made for.
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size() * Scale();
        ASSERT_EQ(screen, QSize(1280, 800)) << "run through ctest, which gives the screen";
    }

    // Opens every window of the program, the way a person does, and hands each to look() while
    // it is shown.
    void VisitEveryWindow(const std::function<void(QWidget&)>& look) {
        Equip();
        Start();
        auto shown = [&](QWidget& window, const char* picture) {
            window.show();
            QApplication::sendPostedEvents();
            QApplication::processEvents();
            SCOPED_TRACE(window.windowTitle().toStdString());
            look(window);
            TakePicture(window, picture);
        };
        // The modal windows, in the order they are opened below.
        std::vector<const char*> pictures = {"tamborex-axis-options", "tamborex-axis-options-nrpn",
                                             "tamborex-arp-options",  "tamborex-sysex-editor",
                                             "tamborex-joy-info",     "tamborex-global-options"};
        prompter.run = [&](QDialog& dialog) {
            shown(dialog, pictures.empty() ? "tamborex-unknown" : pictures.front());
            if (!pictures.empty()) {
                pictures.erase(pictures.begin());
            }
            dialog.hide();
            return 0;
        };
        shown(*bar, "tamborex-bar");

        QTest::mouseClick(bar->BarButton(0).Window(), Qt::LeftButton, {}, {5, 5});  // "Edit"
        CJoyOptions& options = *bar->JoyOptions();
        ASSERT_TRUE(options.IsOpen());
        // A controller with the longest name and an arpeggiating button, so that the widest
        // entries and every button's dialog show.
        auto* axis = Find<QComboBox>(&options, "axisCombo0");
        const int widest = LongestEntry(*axis);
        axis->setCurrentIndex(widest);
        emit axis->activated(widest);
        auto* mode = Find<QComboBox>(&options, "modeCombo0");
        mode->setCurrentIndex(MODE_ARPEGGIATOR);
        emit mode->activated(MODE_ARPEGGIATOR);
        shown(options, "tamborex-joy-options");

        Find<QPushButton>(&options, "axisOptions0")->click();
        // The NRPN choice names its fields at their longest.
        emit axis->activated(kSelectNrpnCoarse);
        Find<QPushButton>(&options, "axisOptions0")->click();
        Find<QPushButton>(&options, "arpButton0")->click();
        Find<QPushButton>(&options, "sysexButton")->click();
        Find<QPushButton>(&options, "infoButton")->click();
        Find<QPushButton>(&options, "viewButton")->click();
        shown(bar->JoyResponse(), "tamborex-joy-response");
        bar->JoyResponse().close();
        options.accept();

        QTest::mouseClick(bar->BarButton(1).Window(), Qt::LeftButton, {}, {5, 5});  // "Global"
        QTest::mouseClick(bar->BarButton(4).Window(), Qt::LeftButton, {}, {5, 5});  // "About"
        shown(bar->About(), "tamborex-about");
        bar->About().close();
    }

    // With TBX_SCREENSHOTS set to a folder, each window is saved there as a picture (the names
    // get "-x2" at scale 2); tools/take-screenshots.sh runs this on an X server of its own. Global
    // options is taken beside the bar, as it opens.
    void TakePicture(QWidget& window, const char* name) {
        const QString folder = qEnvironmentVariable("TBX_SCREENSHOTS");
        if (folder.isEmpty()) {
            return;
        }
        const QString file =
            QStringLiteral("%1/%2%3.png")
                .arg(folder, QLatin1String(name),
                     Scale() == 1.0 ? QString() : QStringLiteral("-x%1").arg(Scale()));
        QPixmap picture;
        if (qstrcmp(name, "tamborex-global-options") == 0) {
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
            QTest::qWait(300);
            const QRect both = window.frameGeometry().united(bar->frameGeometry());
            picture =
                window.screen()->grabWindow(0, both.x(), both.y(), both.width(), both.height());
        } else {
            picture = window.grab();
        }
        EXPECT_TRUE(picture.save(file)) << file.toStdString();
    }

    static int LongestEntry(const QComboBox& list) {
        int longest = 0;
        for (int i = 1; i < list.count(); ++i) {
            if (list.itemText(i).size() > list.itemText(longest).size()) {
                longest = i;
            }
        }
        return longest;
    }

    int windows = 0;
};

TEST_F(LayoutTest, EveryWindowShowsAllOfItselfOnTheScreen) {
    VisitEveryWindow([&](QWidget& window) {
        ++windows;
        for (const std::string& fault : LayoutFaults(window)) {
            ADD_FAILURE() << "at scale " << Scale() << ": " << fault;
        }
        // A window whose content can outgrow the screen can be made larger or smaller.
        const auto areas = window.findChildren<QScrollArea*>();
        if (std::any_of(areas.begin(), areas.end(),
                        [&](const QScrollArea* area) { return area->window() == &window; })) {
            EXPECT_NE(window.minimumSize(), window.maximumSize()) << "a window of fixed size";
        }
        // Where the screen has room, nothing hides behind a scroll bar.
        if (Scale() == 1.0) {
            for (const std::string& fault : ScrolledAway(window)) {
                ADD_FAILURE() << fault;
            }
        }
    });
    // The bar, Joystick options, Axis options twice, Arpeggiator, SysEx, Info, Response, Global,
    // About.
    EXPECT_EQ(windows, 10);
}

// Every control a person can reach with the keyboard says what it does, and Tab reaches every
// one of them, on the bar as in the dialogs.
TEST_F(LayoutTest, EveryControlHasAToolTipAndTabReachesIt) {
    VisitEveryWindow([&](QWidget& window) {
        ++windows;
        for (const std::string& fault : ControlsWithoutToolTip(window)) {
            ADD_FAILURE() << fault;
        }
        for (const std::string& fault : TabFaults(window)) {
            ADD_FAILURE() << fault;
        }
    });
    EXPECT_EQ(windows, 10);
}

TEST_F(LayoutTest, TheBarsButtonsAreReachedWithTabAndPressedWithSpace) {
    Equip();
    CMainBar& b = Start();
    QWidget* name = Find<QWidget>(&b, "patchName");
    name->setFocus(Qt::TabFocusReason);
    std::vector<std::string> order;
    for (QWidget* at = b.focusWidget(); at != nullptr && order.size() < 20; at = b.focusWidget()) {
        order.push_back(at->objectName().toStdString());
        QTest::keyClick(at, Qt::Key_Tab);
        if (b.focusWidget() == name) {
            break;
        }
    }
    // Left to right as the bar shows them: the name, the presets, previous and next, then the
    // six buttons in their pairs, and Panic at the right end.
    EXPECT_EQ(order,
              (std::vector<std::string>{"patchName", "Pre1", "Pre2", "Pre3", "Pre4", "previous",
                                        "next", "ctrl20001", "ctrl20002", "ctrl20003", "ctrl20004",
                                        "ctrl20005", "ctrl20006", "panicButton"}));
    QWidget* edit = b.BarButton(0).Window();
    edit->setFocus(Qt::TabFocusReason);
    QTest::keyClick(edit, Qt::Key_Space);
    EXPECT_TRUE(b.JoyOptions()->IsOpen());
    b.JoyOptions()->accept();
    QWidget* next = Find<QWidget>(&b, "next");
    next->setFocus(Qt::TabFocusReason);
    QTest::keyClick(next, Qt::Key_Space);
    EXPECT_EQ(b.Session().Bank().patchNumber, 1);
}

}  // namespace
