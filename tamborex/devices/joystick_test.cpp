#include "tamborex/devices/joystick.h"

#include <gtest/gtest.h>

#include "fake_joystick.h"
#include "tamborex/model/controller_names.h"

namespace {

using Call = platform::FakeJoystickService::Call;
using platform::JoyResult;

class JoystickTest : public ::testing::Test {
  protected:
    platform::FakeJoystickService service;
    std::vector<std::string> messages;
    CJoystick joy{service, [this](std::string_view text) { messages.emplace_back(text); }};
    const std::string kLost = "Access to the input device has been lost. It must be reacquired.";
};

TEST_F(JoystickTest, InitWithoutAJoystickFailsQuietlyAndNothingElseWorks) {
    EXPECT_FALSE(joy.Init());
    EXPECT_EQ(joy.errorText, "");
    EXPECT_FALSE(joy.SetAxisRange(0, 0, 127));
    EXPECT_TRUE(joy.ApplyActive());  // no device: nothing to follow
    EXPECT_FALSE(joy.Poll());
    EXPECT_EQ(joy.errorText, kLost);
}

TEST_F(JoystickTest, AfterInitEveryAxisReadsWithinZeroTo127) {
    service.Attach();
    for (int axis = 0; axis < 6; ++axis) {
        service.SetAxis(axis, axis % 2 ? 32767 : -32768);
    }
    ASSERT_TRUE(joy.Init());
    joy.active = 1;
    ASSERT_TRUE(joy.ApplyActive());
    ASSERT_TRUE(joy.ApplyActive());  // already acquired is fine
    ASSERT_TRUE(joy.Poll());
    for (int axis = 0; axis < 6; ++axis) {
        EXPECT_EQ(joy.state.axes[axis], axis % 2 ? 127 : 0);
    }
    joy.Release();
    EXPECT_FALSE(joy.Poll());
    EXPECT_EQ(joy.errorText, kLost);
}

TEST_F(JoystickTest, ALostJoystickComesBackInsidePollWithoutAMessage) {
    service.Attach();
    ASSERT_TRUE(joy.Init());
    joy.active = 1;
    ASSERT_TRUE(joy.ApplyActive());
    service.FailNext(Call::Poll, JoyResult::InputLost);
    service.SetButton(3, true);
    EXPECT_TRUE(joy.Poll());  // re-acquired on this tick
    EXPECT_TRUE(joy.Poll());
    EXPECT_EQ(joy.state.buttons[3], 0x80);
    EXPECT_TRUE(messages.empty());
}

TEST_F(JoystickTest, AnUnpluggedJoystickDoesNotHangPoll) {
    service.Attach();
    ASSERT_TRUE(joy.Init());
    joy.active = 1;
    ASSERT_TRUE(joy.ApplyActive());
    service.Unplug();
    EXPECT_TRUE(joy.Poll());
    EXPECT_EQ(joy.errorText, kLost);
    EXPECT_LE(service.CallCount(Call::Acquire), 1 + CJoystick::kAcquireAttemptsPerPoll);
    EXPECT_TRUE(messages.empty());
    service.Attach();
    service.SetButton(0, true);
    EXPECT_TRUE(joy.Poll());
    EXPECT_TRUE(joy.Poll());
    EXPECT_EQ(joy.state.buttons[0], 0x80);
}

TEST_F(JoystickTest, NotInitialisedShowsItsMessageAndAFailedAcquireClearsActive) {
    service.Attach();
    ASSERT_TRUE(joy.Init());
    service.FailNext(Call::Poll, JoyResult::NotInitialized);
    EXPECT_TRUE(joy.Poll());
    EXPECT_EQ(messages, (std::vector<std::string>{"Joystick not initialized!"}));
    joy.active = 1;
    service.FailNext(Call::Acquire, JoyResult::Other);
    EXPECT_FALSE(joy.ApplyActive());
    EXPECT_EQ(joy.active, 0);
}

TEST_F(JoystickTest, SetErrorTextsAndResults) {
    EXPECT_TRUE(joy.SetError(DiResult::Ok));
    EXPECT_EQ(joy.errorText, "No Error");
    EXPECT_FALSE(joy.SetError(DiResult::DownloadSkipped));
    EXPECT_EQ(joy.errorText, "DI Err: Download skipped");
    EXPECT_FALSE(joy.SetError(DiResult::AlreadyInitialized));
    EXPECT_EQ(joy.errorText, "This object is already initialized");
    EXPECT_TRUE(joy.SetError(DiResult::Unlisted));  // no text: kept, and counted as no failure
    EXPECT_EQ(joy.errorText, "This object is already initialized");
    EXPECT_FALSE(joy.SetError(DiResult::NotAttached));
    EXPECT_NE(joy.errorText.find("S_FALSE"), std::string::npos);
}

TEST(ControllerNames, RuleAndExceptions) {
    EXPECT_EQ(ControllerName(7), "Volume (coarse)");
    EXPECT_EQ(ControllerName(3), "Controller 3");
    EXPECT_EQ(ControllerName(127), "Poly Operation");
    EXPECT_EQ(ControllerName(92), "Tremulo Level");
    EXPECT_EQ(ControllerName(102), "Controller 102");
    int generic = 0;
    for (int n = 0; n < 128; ++n) {
        generic += ControllerName(n).rfind("Controller ", 0) == 0;
    }
    EXPECT_EQ(generic, 61);
}

}  // namespace
