// The real joystick service, driven through SDL virtual joysticks in this process.

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/joystick.h"
#include "platform/virtual_stick.h"

namespace platform {
namespace {

using platform::VirtualStick;

class SdlJoystickTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        joy = CreateJoystickService();
    }
    void TearDown() override {
        joy.reset();
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }

    std::unique_ptr<JoystickService> joy;
};

TEST_F(SdlJoystickTest, ListsVirtualJoysticksWithCapabilities) {
    EXPECT_EQ(joy->Open(), JoyResult::NoDevice);
    VirtualStick stick("Tbx Flight Stick");
    ASSERT_TRUE(stick.Attached()) << SDL_GetError();
    const auto list = joy->ListJoysticks();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "Tbx Flight Stick");
    EXPECT_EQ(list[0].numAxes, 8);
    EXPECT_EQ(list[0].numButtons, 12);
    EXPECT_EQ(list[0].numHats, 1);
    EXPECT_EQ(list[0].maxAxes, kJoyAxisSlots);
    EXPECT_EQ(list[0].maxButtons, kJoyButtons);
    EXPECT_FALSE(list[0].driver.empty());
}

TEST_F(SdlJoystickTest, AxesScaleIntoTheirRangesAtTheEndsAndTheMiddle) {
    VirtualStick stick("Tbx Range Stick");
    ASSERT_TRUE(stick.Attached()) << SDL_GetError();
    ASSERT_EQ(joy->Open(), JoyResult::Ok);
    for (int axis = kAxisX; axis <= kAxisRZ; ++axis) {
        ASSERT_EQ(joy->SetAxisRange(axis, 0, 127), JoyResult::Ok);
    }
    ASSERT_EQ(joy->SetAxisRange(kSlider0, -100, 100), JoyResult::Ok);
    ASSERT_EQ(joy->Acquire(), JoyResult::Ok);

    stick.Axis(kAxisX, -32768);
    stick.Axis(kAxisY, 32767);
    stick.Axis(kAxisZ, 0);
    stick.Axis(kAxisRZ, 16384);
    stick.Axis(kSlider0, 32767);
    stick.Button(0, true);
    stick.Button(7, true);
    stick.Hat(SDL_HAT_LEFT);
    RawJoyState state;
    ASSERT_EQ(joy->Poll(), JoyResult::Ok);
    ASSERT_EQ(joy->GetState(state), JoyResult::Ok);
    EXPECT_EQ(state.axes[kAxisX], 0);
    EXPECT_EQ(state.axes[kAxisY], 127);
    EXPECT_EQ(state.axes[kAxisZ], 64);
    EXPECT_EQ(state.axes[kAxisRZ], 95);
    EXPECT_EQ(state.sliders[0], 100);
    EXPECT_EQ(state.buttons[0], 0x80);
    EXPECT_EQ(state.buttons[1], 0);
    EXPECT_EQ(state.buttons[7], 0x80);
    EXPECT_EQ(state.pov[0], 27000u);

    stick.Button(0, false);
    ASSERT_EQ(joy->Poll(), JoyResult::Ok);
    ASSERT_EQ(joy->GetState(state), JoyResult::Ok);
    EXPECT_EQ(state.buttons[0], 0);
}

TEST_F(SdlJoystickTest, UnplugIsInputLostAndReplugIsRecoveredByReacquire) {
    auto stick = std::make_unique<VirtualStick>("Tbx Unplug Stick");
    ASSERT_TRUE(stick->Attached()) << SDL_GetError();
    ASSERT_EQ(joy->Open(), JoyResult::Ok);
    ASSERT_EQ(joy->SetAxisRange(kAxisX, 0, 127), JoyResult::Ok);
    ASSERT_EQ(joy->Acquire(), JoyResult::Ok);
    ASSERT_EQ(joy->Poll(), JoyResult::Ok);

    stick->Unplug();
    EXPECT_EQ(joy->Poll(), JoyResult::InputLost);
    EXPECT_EQ(joy->Acquire(), JoyResult::InputLost);

    stick = std::make_unique<VirtualStick>("Tbx Unplug Stick");
    ASSERT_TRUE(stick->Attached()) << SDL_GetError();
    stick->Axis(kAxisX, 32767);
    EXPECT_EQ(joy->Acquire(), JoyResult::Ok);
    RawJoyState state;
    ASSERT_EQ(joy->Poll(), JoyResult::Ok);
    ASSERT_EQ(joy->GetState(state), JoyResult::Ok);
    EXPECT_EQ(state.axes[kAxisX], 127);  // the range survived the re-plug
}

TEST_F(SdlJoystickTest, SimpleReadGivesRawPositionsAndFourButtonBits) {
    SimpleJoyState simple;
    EXPECT_EQ(joy->ReadSimple(simple), JoyResult::NoDevice);
    VirtualStick stick("Tbx Simple Stick");
    ASSERT_TRUE(stick.Attached()) << SDL_GetError();
    stick.Axis(kAxisX, -32768);
    stick.Axis(kAxisY, 32767);
    stick.Axis(kAxisZ, -1);
    stick.Button(2, true);
    stick.Button(5, true);
    ASSERT_EQ(joy->ReadSimple(simple), JoyResult::Ok);
    EXPECT_EQ(simple.x, 0u);
    EXPECT_EQ(simple.y, 65535u);
    EXPECT_EQ(simple.z, 32767u);
    EXPECT_EQ(simple.buttons, 0b0100u);
    stick.Unplug();
    EXPECT_EQ(joy->ReadSimple(simple), JoyResult::NoDevice);
}

TEST_F(SdlJoystickTest, FirstAttachedJoystickIsTheOneUsed) {
    VirtualStick first("Tbx First");
    VirtualStick second("Tbx Second");
    ASSERT_TRUE(first.Attached() && second.Attached()) << SDL_GetError();
    first.Axis(kAxisX, 32767);
    second.Axis(kAxisX, -32768);
    SimpleJoyState simple;
    ASSERT_EQ(joy->ReadSimple(simple), JoyResult::Ok);
    EXPECT_EQ(simple.x, 65535u);
}

TEST_F(SdlJoystickTest, ChangesAreReportedAsTheyHappenOnTheServicesThread) {
    VirtualStick stick("Tbx Event Stick");
    ASSERT_TRUE(stick.Attached()) << SDL_GetError();
    ASSERT_EQ(joy->Open(), JoyResult::Ok);
    std::atomic<int> inputs{0};
    std::atomic<int> added{0};
    std::atomic<int> removed{0};
    std::atomic<bool> offThread{true};
    const auto caller = std::this_thread::get_id();
    joy->SetEventListener([&](JoyEvent e) {
        offThread = offThread && std::this_thread::get_id() != caller;
        (e == JoyEvent::Input ? inputs : e == JoyEvent::Added ? added : removed)++;
    });
    auto waitFor = [](const std::atomic<int>& counter, int atLeast) {
        for (int i = 0; i < 500 && counter < atLeast; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return counter >= atLeast;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the first look is no change
    EXPECT_EQ(inputs, 0);
    stick.Axis(kAxisX, 20000);
    EXPECT_TRUE(waitFor(inputs, 1));
    stick.Button(3, true);
    EXPECT_TRUE(waitFor(inputs, 2));
    {
        VirtualStick second("Tbx Second Event Stick");
        EXPECT_TRUE(waitFor(added, 1));
    }
    EXPECT_TRUE(waitFor(removed, 1));
    EXPECT_TRUE(offThread);

    joy->SetEventListener({});  // once it returns, nothing more arrives
    const int before = inputs;
    stick.Axis(kAxisX, -20000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(inputs, before);
}

}  // namespace
}  // namespace platform
