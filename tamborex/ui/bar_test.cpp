#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>

#include "entry_name_edit.h"
#include "joy_options.h"
#include "test_bar.h"

namespace {

using Strings = std::vector<std::string>;

void Click(QWidget* widget, QPoint at = QPoint(5, 5)) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
}

// A mouse event straight to the bar, so a drag does not depend on where the window manager
// (or the offscreen platform) put the pointer.
void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button) {
    const QPointF global = widget->mapToGlobal(QPointF(at));
    QMouseEvent event(type, QPointF(at), global, button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, {});
    QApplication::sendEvent(widget, &event);
}

QString Number(CMainBar& bar) {
    return bar.findChild<QLineEdit*>(QStringLiteral("patchNumber"))->text();
}

TEST_F(BarTest, BareMachineWarnsThreeTimesInOrderThenShowsTheDefaultBank) {
    CMainBar& b = Start();
    const std::string why =
        "\nWhy: in-memory MIDI for tests. Start a JACK server (for example with qjackctl) or load "
        "the ALSA sequencer (modprobe snd-seq), then start Tamborex again.";
    EXPECT_EQ(prompter.warnings,
              (Strings{"No joystick devices installed.", "No MIDI out devices available." + why,
                       "No MIDI in devices available." + why}));
    EXPECT_EQ(b.size(), QSize(458, 50));
    EXPECT_EQ(Number(b), QStringLiteral("0"));
    EXPECT_EQ(Find<QLineEdit>(&b, "patchName")->text(), QStringLiteral("(no patch)"));
    EXPECT_EQ(CSessionTestAccess::Bank(b.Session()).presets,
              (std::array<std::int32_t, 4>{0, 1, 2, 3}));
    EXPECT_EQ(Find<QWidget>(&b, "Pre3")->toolTip(), QStringLiteral("Preset 3"));
    EXPECT_TRUE(b.Tray().Added());

    prompter.warnings.clear();
    Click(b.BarButton(0).Window());  // "Edit" without a joystick
    EXPECT_EQ(prompter.warnings, (Strings{"No available joysticks"}));
}

TEST_F(BarTest, AStoredInputThatIsGoneGivesOneMessage) {
    Equip();
    CBankState state;
    state.midiInDevice = 9;
    WriteBank(state);
    Start();
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(prompter.warnings[0].rfind("Error opening MIDI In Port: CMIDI Error:", 0), 0u);
}

TEST_F(BarTest, PresetsAndSteppingStopAtBothEnds) {
    Equip();
    CBankState state;
    state.presets = {5, 127, 0, 3};
    state.patchNames[127] = "Last";
    WriteBank(state);
    CMainBar& b = Start();
    Click(Find<QWidget>(&b, "Pre1"));
    EXPECT_EQ(Number(b), QStringLiteral("5"));
    Click(Find<QWidget>(&b, "Pre2"));
    Click(Find<QWidget>(&b, "next"));
    EXPECT_EQ(Number(b), QStringLiteral("127"));
    EXPECT_EQ(Find<QLineEdit>(&b, "patchName")->text(), QStringLiteral("Last"));
    Click(Find<QWidget>(&b, "Pre3"));
    Click(Find<QWidget>(&b, "previous"));
    EXPECT_EQ(Number(b), QStringLiteral("0"));
    Click(Find<QWidget>(&b, "next"));
    EXPECT_EQ(Number(b), QStringLiteral("1"));
}

TEST_F(BarTest, QuitKeepsARenamedEntryWhateverTheAnswerAboutTheModifiedPatch) {
    Equip();
    CMainBar& b = Start();
    QLineEdit* name = Find<QLineEdit>(&b, "patchName");
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Strings"));
    b.Session().MarkPatchModified();
    bool bankWrittenFirst = false;
    prompter.onQuestion = [&] { bankWrittenFirst = std::filesystem::exists(BankPath()); };
    prompter.answer = false;
    Click(b.BarButton(5).Window());  // "Quit"
    EXPECT_EQ(prompter.questions, (Strings{"Save changes to current patch?"}));
    EXPECT_TRUE(bankWrittenFirst);
    EXPECT_FALSE(b.isVisible());
    EXPECT_FALSE(b.Tray().Added());
    EXPECT_EQ(ReadBankFile().patchNames[0], "Strings");
}

// Yes to saving, then Cancel in the chooser: the bar stays; Enter in the name field confirms the
// name instead of quitting; a termination request then ends the run without a question.
TEST_F(BarTest, CancelAtQuitAndEnterInTheNameFieldKeepTheBarAndTerminationAsksNothing) {
    Equip();
    CMainBar& b = Start();
    b.Session().MarkPatchModified();
    prompter.answer = true;
    Click(b.BarButton(5).Window());  // "Quit"
    EXPECT_EQ(prompter.questions, (Strings{"Save changes to current patch?"}));
    EXPECT_TRUE(b.isVisible());
    EXPECT_TRUE(b.Tray().Added());
    EXPECT_TRUE(b.Session().Engine().PollTimer().Running() ||
                !b.Session().Engine().patches[0].active);

    QLineEdit* name = Find<QLineEdit>(&b, "patchName");
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Brass"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(b.isVisible());
    EXPECT_EQ(CSessionTestAccess::Bank(b.Session()).patchNames[0], "Brass");
    EXPECT_EQ(prompter.questions.size(), 1u);

    b.RequestTermination();
    EXPECT_FALSE(b.isVisible());
    EXPECT_EQ(prompter.questions.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(b.Session().RecoveryPath()));
    EXPECT_EQ(ReadBankFile().patchNames[0], "Brass");
}

// The Quit question's Cancel returns to the bar with nothing saved or released; a changed note
// left behind by "next" is offered at Quit as its entry's.
TEST_F(BarTest, CancelAtTheQuitQuestionReturnsToTheBarAndKeptEditsAreOffered) {
    Equip();
    CMainBar& b = Start();
    b.Session().PatchForEditing().buttons[0].data1 = 62;
    b.Session().MarkPatchModified();
    Click(Find<QWidget>(&b, "next"));
    EXPECT_TRUE(prompter.questions.empty());  // never asked while playing
    EXPECT_EQ(b.Session().KeptEntries(), (std::vector<std::int32_t>{0}));
    prompter.cancel = true;
    Click(b.BarButton(5).Window());  // "Quit"
    ASSERT_EQ(prompter.questions.size(), 1u);
    EXPECT_EQ(prompter.questions[0].rfind("Save changes to the patch of bank entry 0", 0), 0u);
    EXPECT_TRUE(b.isVisible());
    EXPECT_TRUE(b.Tray().Added());
    EXPECT_FALSE(b.Session().ShutDown());
    Click(Find<QWidget>(&b, "previous"));
    EXPECT_EQ(b.Session().Patch().buttons[0].data1, 62);
    EXPECT_TRUE(b.Session().PatchModified());
}

// The tip says why nothing plays, and the name field marks unsaved edits and an entry that plays
// the patch before it; its text stays the name alone.
TEST_F(BarTest, TheTipSaysWhyItIsSilentAndTheNameFieldWhatPlays) {
    Equip();
    CMainBar& b = Start();
    auto* name = static_cast<CEntryNameEdit*>(Find<QLineEdit>(&b, "patchName"));
    // A first run: no patch, so no output and not active.
    EXPECT_TRUE(b.toolTip().contains(QStringLiteral("Silent: no MIDI output chosen")))
        << b.toolTip().toStdString();
    ASSERT_TRUE(b.Session().SelectOutput(1));
    b.Session().SetActive(true);
    EXPECT_FALSE(b.toolTip().contains(QStringLiteral("Silent")));
    b.Session().SetActive(false);
    EXPECT_TRUE(b.toolTip().contains(QStringLiteral("Silent: patch inactive")));
    b.Session().SetActive(true);

    // Saved as Lead, then to an entry without a file: Lead plays on, and the bar says so.
    prompter.chosenFile = (dir / "Lead.txp").string();
    Click(b.BarButton(3).Window());                   // "Save"
    EXPECT_EQ(name->text(), QStringLiteral("Lead"));  // the file's name, not "(no patch)"
    b.Session().PatchForEditing().buttons[0].data1 = 62;
    b.Session().MarkPatchModified();
    EXPECT_TRUE(name->Mark());
    Click(Find<QWidget>(&b, "next"));
    EXPECT_EQ(name->text(), QStringLiteral("(no patch)"));
    EXPECT_FALSE(name->Mark());
    EXPECT_EQ(name->Note(), QStringLiteral("playing Lead"));
    EXPECT_TRUE(b.toolTip().contains(QStringLiteral("(no patch) \u00b7 playing Lead")));
    EXPECT_TRUE(b.toolTip().contains(QStringLiteral("Unsaved edits kept for entry 0")));
    Click(Find<QWidget>(&b, "previous"));
    EXPECT_EQ(name->text(), QStringLiteral("Lead"));
    EXPECT_TRUE(name->Mark());
    EXPECT_TRUE(name->Note().isEmpty());
}

// On first use every dialog opens beside the bar, on screen, never over its buttons.
TEST_F(BarTest, DialogsWithoutAPlaceOfTheirOwnOpenBesideTheBar) {
    Equip();
    CMainBar& b = Start();
    b.show();
    const QRect screen = b.screen()->availableGeometry();
    auto besideTheBar = [&](const QWidget& dialog) {
        const QRect placed(dialog.pos(), dialog.frameGeometry().size());
        EXPECT_FALSE(placed.intersects(b.frameGeometry())) << placed.y() << " " << b.y();
        EXPECT_TRUE(screen.contains(placed.topLeft())) << placed.x() << "," << placed.y();
    };
    for (const QPoint barAt : {QPoint(0, 0), QPoint(screen.width() - 100, screen.height() - 60)}) {
        b.move(barAt);
        prompter.run = [&](QDialog& dialog) {
            besideTheBar(dialog);
            return 0;
        };
        Click(b.BarButton(1).Window());  // "Global"
        Click(b.BarButton(4).Window());  // "About"
        besideTheBar(b.About());
        b.About().close();
        b.Session().SetJoyOptionsPosition(0, 0);
        Click(b.BarButton(0).Window());  // "Edit"
        besideTheBar(*b.JoyOptions());
        b.JoyOptions()->close();
    }
    b.Session().SetJoyOptionsPosition(30, 20);  // a place of the user's is kept
    Click(b.BarButton(0).Window());
    EXPECT_EQ(b.JoyOptions()->pos(), QPoint(30, 20));
    b.JoyOptions()->close();
    // One that would leave part of the dialog off this screen (made on a larger one, or at
    // another scale) is moved just far enough to show all of it.
    b.Session().SetJoyOptionsPosition(screen.width() - 50, screen.height() - 50);
    Click(b.BarButton(0).Window());
    EXPECT_TRUE(screen.contains(b.JoyOptions()->frameGeometry()))
        << b.JoyOptions()->frameGeometry().x() << "," << b.JoyOptions()->frameGeometry().y();
}

TEST_F(BarTest, ACloseRequestShutsDownButEscapeDoesNothing) {
    Equip();
    CMainBar& b = Start();
    b.Session().Rename("Kept");
    QTest::keyClick(&b, Qt::Key_Escape);
    EXPECT_TRUE(b.isVisible());
    EXPECT_FALSE(std::filesystem::exists(BankPath()));
    b.Tray().available = true;
    b.HideToTray();
    b.close();  // what the window manager, logout and SIGTERM do, also while hidden
    EXPECT_FALSE(b.isVisible());
    EXPECT_EQ(ReadBankFile().patchNames[0], "Kept");
    EXPECT_TRUE(prompter.questions.empty());
}

TEST_F(BarTest, ACloseRequestDuringTheStartUpMessagesQuitsOnceTheStartUpIsDone) {
    prompter.onWarning = [this] {
        if (prompter.warnings.size() == 1) {
            bar->close();  // SIGTERM while the first message shows
        }
    };
    CMainBar& b = Start();
    EXPECT_EQ(prompter.warnings.size(), 3u);  // the start-up went on to its end
    EXPECT_TRUE(WaitFor([&] { return !b.isVisible(); }));
    EXPECT_FALSE(b.Tray().Added());
    EXPECT_TRUE(std::filesystem::exists(BankPath()));
}

TEST_F(BarTest, DraggingSnapsOnlyTheLeftAndTopEdges) {
    Equip();
    CMainBar& b = Start();
    b.move(10, 10);
    SendMouse(&b, QEvent::MouseButtonPress, {270, 40}, Qt::LeftButton);
    SendMouse(&b, QEvent::MouseMove, {170, 20}, Qt::LeftButton);
    EXPECT_EQ(b.pos(), QPoint(-90, -10));
    SendMouse(&b, QEvent::MouseButtonRelease, {170, 20}, Qt::LeftButton);
    EXPECT_EQ(b.pos(), QPoint(0, 0));

    b.move(5000, 4000);
    SendMouse(&b, QEvent::MouseButtonPress, {270, 40}, Qt::LeftButton);
    SendMouse(&b, QEvent::MouseButtonRelease, {270, 40}, Qt::LeftButton);
    EXPECT_EQ(b.pos(), QPoint(5000, 4000));
}

TEST_F(BarTest, RightClickHidesToTheTrayAndTheIconBringsItBackInPlace) {
    Equip();
    CMainBar& b = Start();
    b.Tray().available = true;
    b.move(120, 80);
    SendMouse(&b, QEvent::MouseButtonPress, {270, 40}, Qt::RightButton);
    SendMouse(&b, QEvent::MouseButtonRelease, {270, 40}, Qt::RightButton);
    EXPECT_TRUE(b.HiddenInTray());
    EXPECT_FALSE(b.isVisible());
    EXPECT_EQ(CSessionTestAccess::Bank(b.Session()).barPos, (std::array<std::int32_t, 2>{120, 80}));
    emit b.Tray().LeftButtonDown();
    EXPECT_TRUE(b.isVisible());
    EXPECT_FALSE(b.HiddenInTray());
    EXPECT_EQ(b.pos(), QPoint(120, 80));
    emit b.Tray().LeftButtonDown();  // shown already: only comes to the front
    EXPECT_TRUE(b.isVisible());
}

TEST_F(BarTest, WithoutATrayHidingMinimisesInstead) {
    Equip();
    CBankState state;
    state.loadMinimized = 1;
    WriteBank(state);
    CMainBar& b = Start();
    b.Tray().available = false;
    EXPECT_FALSE(b.isMinimized());
    ASSERT_TRUE(WaitFor([&] { return b.isMinimized(); }, 5000));  // a second after start
    EXPECT_FALSE(b.HiddenInTray());
    EXPECT_TRUE(b.isVisible());
    EXPECT_TRUE(b.isMinimized());
}

TEST_F(BarTest, AboutOpensOneWindowAndOpensAgainAfterClosing) {
    Equip();
    CMainBar& b = Start();
    Click(b.BarButton(4).Window());
    Click(b.BarButton(4).Window());
    EXPECT_TRUE(b.About().isVisible());
    EXPECT_EQ(b.About().windowTitle(), QStringLiteral("About Tamborex II"));
    QTest::keyClick(&b.About(), Qt::Key_Escape);
    EXPECT_FALSE(b.About().IsOpen());
    Click(b.BarButton(4).Window());
    EXPECT_TRUE(b.About().isVisible());
}

struct RecordingListener final : CCtrlListener {
    std::vector<int> values;
    int OnCtrlNotify(int code, int ctrlIndex, int value, int extra) override {
        EXPECT_EQ(code, NOTIFY_CLICK);
        EXPECT_EQ(ctrlIndex, 3);
        EXPECT_EQ(extra, 0);
        values.push_back(value);
        return 0;
    }
};

TEST(ButtonCtrlTest, ReleaseCountsInsideTheFixedClickBoxOnly) {
    QWidget parent;
    CButtonCtrl button;
    ASSERT_TRUE(CButtonCtrl::LoadButtonSkin(QString(), 164, QString(), 165, 0, Qt::black));
    button.CreateButton(0, 0, &parent, 7, QStringLiteral("Edit"), false, 0, false);
    RecordingListener listener;
    button.SetListener(&listener, 3, 40);
    QWidget* window = button.Window();
    ASSERT_EQ(window->size(), QSize(46, 20));
    const auto pressAndRelease = [&](QPoint release) {
        QTest::mousePress(window, Qt::LeftButton, {}, QPoint(10, 10));
        EXPECT_TRUE(button.pressed);
        QTest::mouseRelease(window, Qt::LeftButton, {}, release);
        EXPECT_FALSE(button.pressed);
    };
    pressAndRelease({10, 10});
    pressAndRelease({-1, 10});  // off to the left
    pressAndRelease({59, 19});  // 13 pixels past the right edge: still a click
    pressAndRelease({60, 10});
    EXPECT_EQ(listener.values, (std::vector<int>{40, 40}));

    button.toggle = true;
    listener.values.clear();
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(listener.values, (std::vector<int>{41, 40}));
}

TEST(ButtonCtrlTest, SkinsAndFontLastUntilTheLastButtonGoes) {
    auto first = std::make_unique<CButtonCtrl>();
    auto second = std::make_unique<CButtonCtrl>();
    ASSERT_TRUE(CButtonCtrl::LoadButtonSkin(QString(), 164, QString(), 165, 2, Qt::white));
    first.reset();
    EXPECT_TRUE(CButtonCtrl::Skin(2).loaded);
    EXPECT_NE(CButtonCtrl::Font(), nullptr);
    second.reset();
    EXPECT_FALSE(CButtonCtrl::Skin(2).loaded);
    EXPECT_EQ(CButtonCtrl::Font(), nullptr);
    CButtonCtrl again;
    EXPECT_NE(CButtonCtrl::Font(), nullptr);
    EXPECT_FALSE(CButtonCtrl::Skin(2).loaded);  // loaded anew by whoever needs it
    // A skin without pictures still gives a working button of the bar's size.
    EXPECT_FALSE(CButtonCtrl::LoadButtonSkin(QStringLiteral("/nonexistent.png"), 9999, QString(),
                                             165, 3, Qt::black));
}

}  // namespace
