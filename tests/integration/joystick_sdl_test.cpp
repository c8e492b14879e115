// The real joystick service, driven through SDL virtual joysticks in this process.

#include <SDL.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
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

TEST_F(SdlJoystickTest, TheChoiceFindsItsStickByIdentityWhicheverWasPluggedFirst) {
    VirtualStick second("Tbx Second");
    VirtualStick first("Tbx First");
    ASSERT_TRUE(first.Attached() && second.Attached()) << SDL_GetError();
    first.Axis(kAxisX, 32767);
    second.Axis(kAxisX, -32768);
    // Without a choice, number 0 in the order by name, not the one plugged first.
    SimpleJoyState simple;
    ASSERT_EQ(joy->ReadSimple(simple), JoyResult::Ok);
    EXPECT_EQ(simple.x, 65535u);
    const auto list = joy->ListJoysticks();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].name, "Tbx Second");
    EXPECT_NE(list[0].guid, list[1].guid);
    // By its GUID, also when the number says otherwise.
    joy->SetChoice({list[1].guid, "", 0, false});
    ASSERT_EQ(joy->Reselect(), JoyResult::Ok);
    ASSERT_EQ(joy->ReadSimple(simple), JoyResult::Ok);
    EXPECT_EQ(simple.x, 0u);
    EXPECT_EQ(joy->Current()->name, "Tbx Second");
}

TEST_F(SdlJoystickTest, AGamepadIsReadInItsStandardLayoutWhenAskedAndRawOtherwise) {
    // SDL lays a virtual pad out as A, B, X, Y, back, guide, start, the sticks' buttons, the
    // shoulders; axes left X, left Y, right X, right Y, left trigger, right trigger.
    VirtualStick pad("Tbx Layout Pad", 6, 12, 0);
    ASSERT_TRUE(pad.Attached()) << SDL_GetError();
    ASSERT_TRUE(joy->ListJoysticks().at(0).gamepad);
    pad.Button(9, true);  // the left shoulder
    pad.Axis(2, 32767);   // the right stick's X
    pad.Axis(4, -32768);  // the left trigger at rest
    pad.Axis(5, 32767);   // the right trigger pulled
    auto read = [this](bool layout) {
        joy->SetChoice({"", "", 0, layout});
        RawJoyState state;
        if (joy->Reselect() != JoyResult::Ok) {
            return state;
        }
        for (int axis = 0; axis < 6; ++axis) {
            joy->SetAxisRange(axis, 0, 127);
        }
        joy->Acquire();
        joy->Poll();
        joy->GetState(state);
        return state;
    };
    const RawJoyState laidOut = read(true);
    EXPECT_EQ(laidOut.buttons[4], 0x80);  // A, B, X, Y, then the left shoulder
    EXPECT_EQ(laidOut.buttons[9], 0);
    EXPECT_EQ(laidOut.axes[kAxisRX], 127);
    EXPECT_EQ(laidOut.axes[kAxisZ], 0);  // a trigger at rest is the bottom of its axis
    EXPECT_EQ(laidOut.axes[kAxisRZ], 127);
    const RawJoyState raw = read(false);
    EXPECT_EQ(raw.buttons[4], 0);
    EXPECT_EQ(raw.buttons[9], 0x80);
    EXPECT_EQ(raw.axes[kAxisZ], 127);
}

TEST_F(SdlJoystickTest, TheUsersOwnGamepadLayoutsAreReadAtStart) {
    const std::string config = ::testing::TempDir() + "tbx-gamepad-" + std::to_string(getpid());
    std::filesystem::create_directories(config);
    std::ofstream(config + "/gamecontrollerdb.txt")
        << "# a user's own layouts\n"
        << "03000000aaaa0000bbbb000000000000,Tbx Mapped Pad,a:b3,b:b2,x:b1,y:b0,leftx:a2,"
           "lefty:a1,platform:Linux,\n";
    const int before = SDL_GameControllerNumMappings();
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    auto service = CreateJoystickService();
    unsetenv("XDG_CONFIG_HOME");
    std::filesystem::remove_all(config);
    EXPECT_EQ(SDL_GameControllerNumMappings(), before + 1);
}

// A FIFO in place of the layouts file once held all three programs before any window (and
// SIGTERM with them): only a regular file is read. The writer gives a layout to whoever opens the
// FIFO first; with the service passing the FIFO by, that is the test, after the service is made.
TEST_F(SdlJoystickTest, AGamepadLayoutsFifoIsNeitherWaitedOnNorRead) {
    const std::string config =
        ::testing::TempDir() + "tbx-gamepad-fifo-" + std::to_string(getpid());
    std::filesystem::create_directories(config);
    const std::string fifo = config + "/gamecontrollerdb.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string line =
        "03000000cccc0000dddd000000000000,Tbx Fifo Pad,a:b0,b:b1,platform:Linux,\n";
    std::thread writer([&fifo, &line] {
        const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0) {
            EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
            close(fd);
        }
    });
    const int before = SDL_GameControllerNumMappings();
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    auto service = CreateJoystickService();
    unsetenv("XDG_CONFIG_HOME");
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writer.join();
    char got[256] = {};
    const ssize_t n = read(reader, got, sizeof got);
    close(reader);
    EXPECT_EQ(std::string(got, n > 0 ? static_cast<std::size_t>(n) : 0), line)
        << "the service took the layout from the FIFO";
    EXPECT_EQ(SDL_GameControllerNumMappings(), before);
    std::filesystem::remove_all(config);
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
