#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "joy_options.h"
#include "live_monitor.h"
#include "test_bar.h"

namespace {

using Call = platform::FakeMidiService::Call;

// A bar on a machine with a synth, a keyboard at the input and a pad, playing a note button.
class LearnMonitorTest : public BarTest {
  protected:
    CMainBar& StartPlaying() {
        Equip();
        CBankState state;
        state.midiInDevice = 1;
        WriteBank(state);
        CMainBar& b = Start();
        EXPECT_TRUE(b.Session().SelectOutput(1));
        CPatch& patch = b.Session().PatchForEditing();
        patch.active = 1;
        patch.buttons[0].mode = MODE_NOTE;
        patch.buttons[0].data1 = 60;
        patch.buttons[0].data2 = 100;
        return b;
    }
    CJoyOptions& OpenJoyOptions(CMainBar& b) {
        QTest::mouseClick(b.BarButton(0).Window(), Qt::LeftButton, {}, QPoint(5, 5));
        auto* dialog = b.findChild<CJoyOptions*>();
        EXPECT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->IsOpen());
        return *dialog;
    }
    std::vector<std::uint32_t> Sent() {
        std::vector<std::uint32_t> sent;
        for (const auto& e : midi.Events()) {
            if (e.call == Call::SendShort) {
                sent.push_back(e.message);
            }
        }
        midi.ClearEvents();
        return sent;
    }
};

TEST_F(LearnMonitorTest, ThePanicButtonAndItsKeyEndTheHeldNoteAndResetTheChannel) {
    CMainBar& b = StartPlaying();
    b.Session().Engine().ProcessButtonDown(0, 0);
    Sent();
    auto* panic = Find<QPushButton>(&b, "panicButton");
    ASSERT_NE(panic, nullptr);
    EXPECT_TRUE(panic->toolTip().contains(QStringLiteral("F12")));
    QTest::mouseClick(panic, Qt::LeftButton);
    const std::vector<std::uint32_t> reset{
        platform::PackShortMessage(0xB0, 64, 0), platform::PackShortMessage(0xB0, 120, 0),
        platform::PackShortMessage(0xB0, 123, 0), platform::PackShortMessage(0xE0, 0, 64)};
    std::vector<std::uint32_t> expected{platform::PackShortMessage(0x80, 60, 0)};
    expected.insert(expected.end(), reset.begin(), reset.end());
    EXPECT_EQ(Sent(), expected);
    // The key works from the Joystick options too; the note is gone, the resets go again.
    CJoyOptions& options = OpenJoyOptions(b);
    options.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&options));
    QTest::keyClick(&options, Qt::Key_F12);
    EXPECT_EQ(Sent(), reset);
    // The released button has nothing left to end.
    b.Session().Engine().ProcessButtonUp(0, 0);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(LearnMonitorTest, LearnPicksTheMovedAxisAndEscapeCancelsWithoutClosing) {
    CMainBar& b = StartPlaying();
    CJoyOptions& options = OpenJoyOptions(b);
    QTest::mouseClick(Find<QPushButton>(&options, "learnButton"), Qt::LeftButton);
    EXPECT_TRUE(options.Learning());
    QTest::qWait(250);  // the noise is measured first
    stick.SetAxis(AXIS_Z, 32767);
    QTRY_VERIFY_WITH_TIMEOUT(!options.Learning(), 3000);
    EXPECT_TRUE(options.LearnStatus().startsWith(QStringLiteral("Z Axis (moved up")))
        << options.LearnStatus().toStdString();

    QTest::mouseClick(Find<QPushButton>(&options, "learnButton"), Qt::LeftButton);
    QTest::keyClick(&options, Qt::Key_Escape);
    EXPECT_FALSE(options.Learning());
    EXPECT_EQ(options.LearnStatus(), QStringLiteral("Learning cancelled."));
    EXPECT_TRUE(options.isVisible());

    // A button pressed picks its row.
    QTest::mouseClick(Find<QPushButton>(&options, "learnButton"), Qt::LeftButton);
    QTest::qWait(30);
    stick.SetButton(2, true);
    QTRY_VERIFY_WITH_TIMEOUT(!options.Learning(), 3000);
    EXPECT_EQ(options.LearnStatus(), QStringLiteral("Button 3."));
}

TEST_F(LearnMonitorTest, AButtonRowLearnsTheNextNoteFromTheMidiInput) {
    CMainBar& b = StartPlaying();
    CJoyOptions& options = OpenJoyOptions(b);
    QTest::mouseClick(Find<QToolButton>(&options, "midiLearn3"), Qt::LeftButton);
    const platform::MidiInHandle keys = midi.InputOnDevice(1);
    ASSERT_NE(keys, platform::kNoHandle);
    ASSERT_TRUE(midi.Inject(keys, platform::PackShortMessage(0x99, 38, 90)));
    QTRY_VERIFY_WITH_TIMEOUT(!options.Learning(), 3000);
    ASSERT_TRUE(options.Apply());
    const ButtonRecord& row = b.Session().Patch().buttons[3];
    EXPECT_EQ(row.mode, MODE_NOTE);
    EXPECT_EQ(row.data1, 38);
    EXPECT_EQ(row.data2, 90);
    EXPECT_EQ(row.channel, 9);
}

TEST_F(LearnMonitorTest, TheMonitorLooksOnlyWhileShownAndRepaintsOnlyOnChange) {
    CMainBar& b = StartPlaying();
    CJoyOptions& options = OpenJoyOptions(b);
    CLiveMonitor& monitor = options.Monitor();
    EXPECT_FALSE(monitor.isVisible());
    QTest::mouseClick(Find<QPushButton>(&options, "monitorButton"), Qt::LeftButton);
    ASSERT_TRUE(monitor.isVisible());
    QTest::qWait(100);
    const int atRest = monitor.Repaints();
    QTest::qWait(200);
    EXPECT_EQ(monitor.Repaints(), atRest) << "repainted while everything rested";
    stick.SetButton(1, true);
    b.Session().Engine().ProcessButtonDown(0, 0);
    QTest::qWait(60);
    EXPECT_GT(monitor.Repaints(), atRest);

    QTest::mouseClick(Find<QPushButton>(&options, "monitorButton"), Qt::LeftButton);
    EXPECT_FALSE(monitor.isVisible());
    const int hidden = monitor.Repaints();
    stick.SetButton(1, false);
    b.Session().Engine().ProcessButtonUp(0, 0);
    QTest::qWait(100);
    EXPECT_EQ(monitor.Repaints(), hidden);
}

}  // namespace
