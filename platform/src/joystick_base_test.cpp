#include "joystick_base.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_joystick.h"

namespace platform {
namespace {

using Call = FakeJoystickService::Call;

TEST(AxisScaling, EndsAndMiddleLandWhereARangePropertyPutsThem) {
    EXPECT_EQ(ScaleAxis(-32768, 0, 127), 0);
    EXPECT_EQ(ScaleAxis(32767, 0, 127), 127);
    EXPECT_EQ(ScaleAxis(0, 0, 127), 64);
    EXPECT_EQ(ScaleAxis(-32768, -1000, 1000), -1000);
    EXPECT_EQ(ScaleAxis(32767, -1000, 1000), 1000);
    EXPECT_EQ(ScaleAxis(32767, 0, 65535), 65535);
    EXPECT_EQ(ScaleAxis(5, 20, 20), 20);  // an empty range pins the axis
    // Whole int32 range must not overflow.
    EXPECT_EQ(ScaleAxis(32767, INT32_MIN, INT32_MAX), INT32_MAX);
}

TEST(AxisScaling, HatBecomesPointOfViewAngle) {
    EXPECT_EQ(HatToPov(0), kPovCentred);
    EXPECT_EQ(HatToPov(1), 0u);
    EXPECT_EQ(HatToPov(2 | 4), 13500u);
    EXPECT_EQ(HatToPov(8 | 1), 31500u);
    EXPECT_EQ(HatToPov(1 | 4), kPovCentred);  // impossible combination
}

JoystickCaps Stick(const char* name, const char* guid, const char* path) {
    JoystickCaps caps;
    caps.name = name;
    caps.guid = guid;
    caps.path = path;
    return caps;
}

TEST(JoystickPick, IdentityComesFirstThenTheNumberThenTheFirst) {
    // Already in the service's order.
    const std::vector<JoystickCaps> attached = {
        Stick("Flight Stick", "03000000aa", "/dev/input/event3"),
        Stick("Pad", "03000000bb", "/dev/input/event4"),
        Stick("Pad", "03000000bb", "/dev/input/event5"),
        Stick("Pedals", "03000000cc", "/dev/input/event6")};
    EXPECT_EQ(PickJoystick({}, {}), -1);
    EXPECT_EQ(PickJoystick(attached, {}), 0);
    EXPECT_EQ(PickJoystick(attached, {"03000000cc", "Pedals", 0, false}), 3);
    // The GUID holds over a name that changed (another driver) and over the number.
    EXPECT_EQ(PickJoystick(attached, {"03000000cc", "Old Name", 1, false}), 3);
    // Two alike: the number says which, when it points at one of them; else the first of them.
    EXPECT_EQ(PickJoystick(attached, {"03000000bb", "Pad", 2, false}), 2);
    EXPECT_EQ(PickJoystick(attached, {"03000000bb", "Pad", 3, false}), 1);
    // The name when the GUID is not there (the same pad on another connection).
    EXPECT_EQ(PickJoystick(attached, {"05000000ff", "Pedals", 0, false}), 3);
    // Neither there: the number, then the first.
    EXPECT_EQ(PickJoystick(attached, {"05000000ff", "Gone", 2, false}), 2);
    EXPECT_EQ(PickJoystick(attached, {"05000000ff", "Gone", 9, false}), 0);
    EXPECT_EQ(PickJoystick(attached, {"", "", -1, false}), 0);
}

TEST(JoystickPick, NumbersDoNotDependOnPluggingOrder) {
    std::vector<JoystickCaps> one = {Stick("Pad", "bb", "/dev/input/event9"),
                                     Stick("Flight Stick", "aa", "/dev/input/event3")};
    std::vector<JoystickCaps> other = {one[1], one[0]};
    std::sort(one.begin(), one.end(), JoystickOrder);
    std::sort(other.begin(), other.end(), JoystickOrder);
    EXPECT_EQ(one[0].name, "Flight Stick");
    EXPECT_EQ(other[0].name, "Flight Stick");
}

TEST(JoystickAccess, AdviceNamesTheNodesTheGroupAndTheRule) {
    EXPECT_EQ(JoystickAccessAdvice({}, "Tamborex"), "");
    const std::string advice =
        JoystickAccessAdvice({"/dev/input/event5", "/dev/input/event7"}, "Corvane");
    EXPECT_NE(advice.find("Corvane may not read it (/dev/input/event5, /dev/input/event7)"),
              std::string::npos);
    EXPECT_NE(advice.find("\"input\" group"), std::string::npos);
    EXPECT_NE(advice.find("udev rule"), std::string::npos);
    // A folder without event nodes, or one that is not there, finds nothing.
    EXPECT_TRUE(UnreadableJoysticks("/nonexistent", "/nonexistent").empty());
}

class FakeJoystickTest : public ::testing::Test {
  protected:
    FakeJoystickService joy;
};

TEST_F(FakeJoystickTest, CallsBeforeOpenOrAcquireSayWhy) {
    RawJoyState state;
    EXPECT_EQ(joy.Poll(), JoyResult::NotInitialized);
    EXPECT_EQ(joy.SetAxisRange(0, 0, 127), JoyResult::NotInitialized);
    EXPECT_EQ(joy.Open(), JoyResult::NoDevice);
    joy.Attach();
    ASSERT_EQ(joy.Open(), JoyResult::Ok);
    EXPECT_EQ(joy.Poll(), JoyResult::NotAcquired);
    EXPECT_EQ(joy.GetState(state), JoyResult::NotAcquired);
    EXPECT_EQ(joy.Unacquire(), JoyResult::AlreadyDone);
    EXPECT_EQ(joy.Acquire(), JoyResult::Ok);
    EXPECT_EQ(joy.Acquire(), JoyResult::AlreadyDone);
    EXPECT_EQ(joy.Poll(), JoyResult::Ok);
    joy.Close();
    EXPECT_EQ(joy.Poll(), JoyResult::NotInitialized);
}

TEST_F(FakeJoystickTest, StateCarriesScaledAxesButtonsAndHat) {
    joy.Attach();
    ASSERT_EQ(joy.Open(), JoyResult::Ok);
    EXPECT_EQ(joy.SetAxisRange(kAxisX, 0, 127), JoyResult::Ok);
    EXPECT_EQ(joy.SetAxisRange(kAxisZ, 0, 127), JoyResult::Ok);
    EXPECT_EQ(joy.SetAxisRange(8, 0, 127), JoyResult::InvalidParam);
    EXPECT_EQ(joy.SetAxisRange(kAxisY, 10, 5), JoyResult::InvalidParam);
    ASSERT_EQ(joy.Acquire(), JoyResult::Ok);
    joy.SetAxis(kAxisX, 32767);
    joy.SetAxis(kAxisY, 32767);  // still the default 0..65535
    joy.SetAxis(kAxisZ, -32768);
    joy.SetButton(0, true);
    joy.SetButton(11, true);
    joy.SetHat(2);
    RawJoyState state;
    ASSERT_EQ(joy.Poll(), JoyResult::Ok);
    ASSERT_EQ(joy.GetState(state), JoyResult::Ok);
    EXPECT_EQ(state.axes[kAxisX], 127);
    EXPECT_EQ(state.axes[kAxisY], 65535);
    EXPECT_EQ(state.axes[kAxisZ], 0);
    EXPECT_EQ(state.buttons[0], 0x80);
    EXPECT_EQ(state.buttons[1], 0);
    EXPECT_EQ(state.buttons[11], 0x80);
    EXPECT_EQ(state.pov[0], 9000u);
    EXPECT_EQ(state.pov[1], kPovCentred);
}

TEST_F(FakeJoystickTest, UnplugIsInputLostAndReplugIsReacquiredWithItsRanges) {
    joy.Attach();
    ASSERT_EQ(joy.Open(), JoyResult::Ok);
    ASSERT_EQ(joy.SetAxisRange(kAxisX, 0, 127), JoyResult::Ok);
    ASSERT_EQ(joy.Acquire(), JoyResult::Ok);
    joy.Unplug();
    EXPECT_EQ(joy.Poll(), JoyResult::InputLost);
    EXPECT_EQ(joy.Poll(), JoyResult::NotAcquired);
    EXPECT_EQ(joy.Acquire(), JoyResult::InputLost);  // still gone
    joy.Attach();
    joy.SetAxis(kAxisX, 32767);
    EXPECT_EQ(joy.Acquire(), JoyResult::Ok);
    RawJoyState state;
    ASSERT_EQ(joy.Poll(), JoyResult::Ok);
    ASSERT_EQ(joy.GetState(state), JoyResult::Ok);
    EXPECT_EQ(state.axes[kAxisX], 127);
}

TEST_F(FakeJoystickTest, SimpleReadOpensByItselfAndLeavesStateAloneWithoutJoystick) {
    SimpleJoyState simple{1, 2, 3, 4};
    EXPECT_EQ(joy.ReadSimple(simple), JoyResult::NoDevice);
    EXPECT_EQ(simple.x, 1u);
    EXPECT_EQ(simple.buttons, 4u);
    joy.Attach();
    joy.SetAxis(kAxisX, -32768);
    joy.SetAxis(kAxisY, 32767);
    joy.SetAxis(kAxisZ, 0);
    joy.SetButton(1, true);
    joy.SetButton(3, true);
    joy.SetButton(4, true);  // beyond the four the simple read carries
    ASSERT_EQ(joy.ReadSimple(simple), JoyResult::Ok);
    EXPECT_EQ(simple.x, 0u);
    EXPECT_EQ(simple.y, 65535u);
    EXPECT_EQ(simple.z, 32768u);
    EXPECT_EQ(simple.buttons, 0b1010u);
    joy.Unplug();
    EXPECT_EQ(joy.ReadSimple(simple), JoyResult::NoDevice);
    joy.Attach();
    EXPECT_EQ(joy.ReadSimple(simple), JoyResult::Ok);
}

// The whole read is for a view beside the simple read: it opens by itself, carries what the
// simple read leaves out, and leaves that read and an acquired one as they were.
TEST_F(FakeJoystickTest, WholeReadSeesEveryControlBesideTheSimpleRead) {
    RawJoyState state;
    EXPECT_EQ(joy.ReadWhole(state), JoyResult::NoDevice);
    joy.Attach();
    joy.SetAxis(kAxisX, -32768);
    joy.SetAxis(kAxisRZ, 32767);
    joy.SetButton(9, true);
    joy.SetHat(4);
    ASSERT_EQ(joy.ReadWhole(state), JoyResult::Ok);
    EXPECT_EQ(state.axes[kAxisX], 0);
    EXPECT_EQ(state.axes[kAxisRZ], 65535);
    EXPECT_EQ(state.buttons[9], 0x80);
    EXPECT_EQ(state.pov[0], 18000u);
    SimpleJoyState simple;
    ASSERT_EQ(joy.ReadSimple(simple), JoyResult::Ok);
    EXPECT_EQ(simple.x, 0u);
    // An acquired reader keeps its acquisition and its ranges.
    ASSERT_EQ(joy.Open(), JoyResult::Ok);
    ASSERT_EQ(joy.SetAxisRange(kAxisX, 0, 127), JoyResult::Ok);
    ASSERT_EQ(joy.Acquire(), JoyResult::Ok);
    joy.SetAxis(kAxisX, 32767);
    ASSERT_EQ(joy.ReadWhole(state), JoyResult::Ok);
    EXPECT_EQ(state.axes[kAxisX], 127);
    EXPECT_EQ(joy.Poll(), JoyResult::Ok);
    joy.Unplug();
    EXPECT_EQ(joy.ReadWhole(state), JoyResult::NoDevice);
}

TEST_F(FakeJoystickTest, ReselectTakesAStickPluggedInAfterStartAndLetsGoOfAPulledOne) {
    EXPECT_EQ(joy.Open(), JoyResult::NoDevice);
    EXPECT_EQ(joy.Reselect(), JoyResult::NoDevice);
    EXPECT_FALSE(joy.Current().has_value());
    joy.Attach();
    ASSERT_EQ(joy.Reselect(), JoyResult::Ok);
    ASSERT_TRUE(joy.Current().has_value());
    EXPECT_EQ(joy.Current()->number, 0);
    // Opened unacquired, ready for ranges and acquiring like after Open.
    RawJoyState state;
    EXPECT_EQ(joy.Poll(), JoyResult::NotAcquired);
    ASSERT_EQ(joy.SetAxisRange(kAxisX, 0, 127), JoyResult::Ok);
    ASSERT_EQ(joy.Acquire(), JoyResult::Ok);
    joy.SetAxis(kAxisX, 32767);
    ASSERT_EQ(joy.Poll(), JoyResult::Ok);
    ASSERT_EQ(joy.GetState(state), JoyResult::Ok);
    EXPECT_EQ(state.axes[kAxisX], 127);
    // The same one held: nothing changes, it stays acquired.
    EXPECT_EQ(joy.Reselect(), JoyResult::Ok);
    EXPECT_EQ(joy.Poll(), JoyResult::Ok);
    joy.Unplug();
    EXPECT_EQ(joy.Reselect(), JoyResult::NoDevice);
    EXPECT_FALSE(joy.Current().has_value());
    EXPECT_EQ(joy.Poll(), JoyResult::NotAcquired);
}

TEST_F(FakeJoystickTest, ScriptedFailuresAreCountedAndRunOut) {
    joy.Attach();
    ASSERT_EQ(joy.Open(), JoyResult::Ok);
    ASSERT_EQ(joy.Acquire(), JoyResult::Ok);
    joy.FailNext(Call::Poll, JoyResult::InputLost, 2);
    EXPECT_EQ(joy.Poll(), JoyResult::InputLost);
    EXPECT_EQ(joy.Poll(), JoyResult::InputLost);
    EXPECT_EQ(joy.Poll(), JoyResult::Ok);
    EXPECT_EQ(joy.CallCount(Call::Poll), 3);
}

}  // namespace
}  // namespace platform
