#include <QLabel>
#include <QPushButton>

#include "live_monitor.h"
#include "test_dialog.h"

namespace corvane {
namespace {

using platform::kAxisRX;
using platform::kAxisX;
using platform::kAxisY;
using platform::kAxisZ;

class LearnMonitorTest : public DialogsTest {
  protected:
    MainDialog& Show() {
        joystick.Attach();
        MainDialog& d = Open();
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        return d;
    }
    void ClickLearn() {
        QTest::mouseClick(Find<QPushButton>("learnButton"), Qt::LeftButton);
        EXPECT_TRUE(dialog->Learning());
    }
    // Learns with one move after the noise is measured; the status it ends with.
    QString LearnMove(const std::function<void()>& move) {
        ClickLearn();
        QTest::qWait(200);
        move();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog->Learning(); }, 3000));
        return dialog->LearnStatus();
    }
    int Row() { return Find<QListWidget>("controlList")->currentRow(); }
};

TEST_F(LearnMonitorTest, LearnSelectsTheRowOfTheMovedControlInCorvanesTerms) {
    Show();
    // A trigger pulled from rest at its low end.
    joystick.SetAxis(kAxisZ, -32768);
    EXPECT_EQ(LearnMove([&] { joystick.SetAxis(kAxisZ, 20000); }),
              QStringLiteral("Z Axis: moved towards Max, from rest at its Min end."));
    EXPECT_EQ(Row(), kZAxis);
    EXPECT_TRUE(Find<QComboBox>("typeBox")->hasFocus());
    // The Y axis sends more as the stick goes forward, that is as its position falls.
    EXPECT_EQ(LearnMove([&] { joystick.SetAxis(kAxisY, -30000); }),
              QStringLiteral("Y Axis: moved towards Max."));
    EXPECT_EQ(Row(), kYAxis);
    EXPECT_EQ(LearnMove([&] { joystick.SetButton(2, true); }), QStringLiteral("Button 3."));
    EXPECT_EQ(Row(), kButton3);
    // Controls Corvane does not play are named, and the row stays.
    EXPECT_EQ(LearnMove([&] { joystick.SetAxis(kAxisRX, 30000); }),
              QStringLiteral("The X rotation axis moved: Corvane plays only the X, Y and Z axes."));
    EXPECT_EQ(LearnMove([&] { joystick.SetButton(6, true); }),
              QStringLiteral("Button 7: Corvane plays buttons 1 to 4 only."));
    EXPECT_EQ(Row(), kButton3);
    // Learning changed no assignment.
    EXPECT_FALSE(dialog->AssignmentsUnsaved());
}

TEST_F(LearnMonitorTest, EscapeCancelsLearnWithoutClosingAndANoisyStickAloneIsNoPick) {
    MainDialog& d = Show();
    ClickLearn();
    // Wobbling by a few percent is noise, not a gesture.
    for (int i = 0; i < 30; ++i) {
        joystick.SetAxis(kAxisX, static_cast<std::int16_t>(i % 2 == 0 ? 1500 : -1500));
        QTest::qWait(15);
    }
    EXPECT_TRUE(d.Learning());
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.Learning());
    EXPECT_EQ(d.LearnStatus(), QStringLiteral("Learning cancelled."));
    EXPECT_TRUE(d.isVisible());
    // Once not learning, Escape closes as before.
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
}

TEST_F(LearnMonitorTest, LearnWithoutAControllerSaysSo) {
    Open();
    QTest::mouseClick(Find<QPushButton>("learnButton"), Qt::LeftButton);
    EXPECT_FALSE(dialog->Learning());
    EXPECT_TRUE(dialog->LearnStatus().startsWith(QStringLiteral("No controller")));
}

TEST_F(LearnMonitorTest, TheMonitorShowsSentMessagesOnlyWhileShownAndRestsWhenAllRests) {
    MainDialog& d = Show();
    mapper->Controls()[kXAxis].type = 7;
    LiveMonitor& monitor = d.Monitor();
    EXPECT_FALSE(monitor.isVisible());
    auto* toggle = Find<QPushButton>("monitorButton");
    QTest::mouseClick(toggle, Qt::LeftButton);
    ASSERT_TRUE(monitor.isVisible());
    QTest::qWait(100);
    const int atRest = monitor.Repaints();
    QTest::qWait(200);
    EXPECT_EQ(monitor.Repaints(), atRest) << "repainted while everything rested";

    joystick.SetAxis(kAxisX, 32767);
    mapper->OnTick();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.SentLines().size(), 1, 1000);
    EXPECT_TRUE(monitor.SentLines()[0].endsWith(QStringLiteral("Control   ch 1  7  127")))
        << monitor.SentLines()[0].toStdString();
    EXPECT_GT(monitor.Repaints(), atRest);

    // Hidden, it neither looks nor keeps what is sent.
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(monitor.isVisible());
    const int hidden = monitor.Repaints();
    joystick.SetAxis(kAxisX, -32768);
    mapper->OnTick();
    QTest::qWait(100);
    EXPECT_EQ(monitor.Repaints(), hidden);
    QTest::mouseClick(toggle, Qt::LeftButton);
    ASSERT_TRUE(monitor.isVisible());
    EXPECT_EQ(monitor.SentLines().size(), 1);
    // Reset Controls goes out and is shown too.
    QTest::mouseClick(Find<QPushButton>("resetButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(monitor.SentLines().size(), 2, 1000);
    EXPECT_TRUE(monitor.SentLines()[1].endsWith(QStringLiteral("Control   ch 1  121  0")));
}

}  // namespace
}  // namespace corvane
