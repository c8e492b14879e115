// Controllers that come and go, end to end for both programs: SDL virtual sticks plugged in and
// pulled out while the program runs on the private JACK server, checked by jack_midi_dump.

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "jack_server.h"
#include "mapper.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/timer.h"
#include "platform/virtual_stick.h"
#include "tamborex/session/session.h"
#include "tamborex/testing/test_window.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using testsupport::IndexOf;

constexpr const char* kStickA = "Hotplug Stick A";
constexpr const char* kStickB = "Hotplug Stick B";

std::unique_ptr<platform::VirtualStick> Plug(const char* name) {
    auto stick = std::make_unique<platform::VirtualStick>(name, 6, 8, 0);
    for (int axis = 0; axis < 6; ++axis) {
        stick->Axis(axis, -32768);
    }
    return stick;
}

// What the programs send to see their connection to the dump live.
const Bytes kSensing{0xFE};
const Bytes kResetControllers{0xB0, 121, 0};

// The dump's events besides those markers.
std::vector<Bytes> Events(testsupport::MidiDump& dump, std::size_t n,
                          const std::function<void()>& wait = {}) {
    return testsupport::EventsWithout(dump, n, {kSensing, kResetControllers}, wait);
}

class SessionHotplug : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = testsupport::FixtureJackServer();
        ASSERT_FALSE(server_.empty()) << "run through ctest";
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        dir_ = std::filesystem::temp_directory_path() /
               ("tamborex-hotplug-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        dump_ = std::make_unique<testsupport::MidiDump>(server_, "hotplug-dump");
        ASSERT_TRUE(dump_->WaitForPort(5s));
        midi_ = platform::CreateMidiService("TbxHotplug", platform::MidiBackend::Jack);
        joystick_ = platform::CreateJoystickService();
        bar_.runPostedAtOnce = false;
        session_ =
            std::make_unique<CSession>(*midi_, *joystick_, bar_, (dir_ / "Tamborex.bnk").string());
        Attach(*session_, bar_);
    }

    void TearDown() override {
        if (session_) {
            session_->Shutdown();
            session_.reset();
        }
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        std::filesystem::remove_all(dir_);
    }

    // The bar's event loop on real time, until done holds or two seconds have passed.
    template <typename Done>
    bool RunUntil(Done&& done) {
        const auto deadline = Clock::now() + 2s;
        while (!done() && Clock::now() < deadline) {
            bar_.RunPosted();
            bar_.Advance(1);
            std::this_thread::sleep_for(1ms);
        }
        return done();
    }
    void Run(std::chrono::milliseconds length) {
        const auto end = Clock::now() + length;
        RunUntil([&] { return Clock::now() >= end; });
    }
    ::testing::AssertionResult Shows(const std::string& controller) {
        if (RunUntil([&] { return bar_.controller == controller; })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "the bar shows \"" << bar_.controller << "\"";
    }

    std::vector<Bytes> Played(std::size_t n) {
        return Events(*dump_, n, [this] { Run(20ms); });
    }

    // Button 0 plays note 60 on the dump; polled every 20 ms.
    void StartPlaying() {
        session_->Startup();
        const int out = IndexOf(midi_->ListOutputs(), dump_->PortName());
        ASSERT_GT(out, 0);
        ASSERT_TRUE(session_->SelectOutput(out));
        const std::uint8_t sensing[4] = {0xFE, 0, 0, 0};
        ASSERT_TRUE(testsupport::LiveOnDump(
            *dump_, [&] { CSessionTestAccess::MidiOut(*session_).Send(sensing, 1); }));
        CPatch& patch = session_->Engine().patches[0];
        patch.buttons[0].mode = MODE_NOTE;
        patch.buttons[0].data1 = 60;
        patch.buttons[0].data2 = 100;
        session_->SetPollInterval(0);
        session_->SetActive(true);
    }

    std::string server_;
    std::filesystem::path dir_;
    std::unique_ptr<testsupport::MidiDump> dump_;
    std::unique_ptr<platform::MidiService> midi_;
    std::unique_ptr<platform::JoystickService> joystick_;
    CTestWindow bar_;
    std::unique_ptr<CSession> session_;
};

TEST_F(SessionHotplug, StartWithNoneThenPlugPlayPullAndPlugAgain) {
    StartPlaying();
    EXPECT_EQ(bar_.messages, (std::vector<std::string>{"No joystick devices installed."}));
    EXPECT_EQ(bar_.controller, " (missing)");
    Run(200ms);  // ten ticks without a controller: no box

    auto stick = Plug(kStickA);
    ASSERT_TRUE(Shows(kStickA));
    stick->Button(0, true);
    EXPECT_EQ(Played(1), (std::vector<Bytes>{{0x90, 60, 100}}));

    // Pulled out with the note held: its note off comes without a tick or a box.
    stick.reset();
    ASSERT_TRUE(Shows(std::string(kStickA) + " (missing)"));
    EXPECT_EQ(Played(2), (std::vector<Bytes>{{0x90, 60, 100}, {0x80, 60, 100}}));
    Run(200ms);

    stick = Plug(kStickA);
    ASSERT_TRUE(Shows(kStickA));
    stick->Button(0, true);
    EXPECT_EQ(Played(3), (std::vector<Bytes>{{0x90, 60, 100}, {0x80, 60, 100}, {0x90, 60, 100}}));
    stick->Button(0, false);
    EXPECT_EQ(Played(4).size(), 4u);
    EXPECT_EQ(bar_.messages.size(), 1u);
}

TEST_F(SessionHotplug, ThePatchsControllerIsFoundByIdentityWhicheverOrderTheyArePluggedIn) {
    StartPlaying();
    // The patch is saved while B plays it, so it is made for B.
    auto b = Plug(kStickB);
    ASSERT_TRUE(Shows(kStickB));
    const std::string patchPath = (dir_ / "for-b.txp").string();
    ASSERT_TRUE(session_->SavePatchFile(patchPath));
    b.reset();
    ASSERT_TRUE(Shows(std::string(kStickB) + " (missing)"));

    // A alone stands in for it (the first in order); once B is there it is B again.
    auto a = Plug(kStickA);
    ASSERT_TRUE(Shows(kStickA));
    b = Plug(kStickB);
    ASSERT_TRUE(Shows(kStickB));
    ASSERT_EQ(session_->JoystickCaps().size(), 2u);
    EXPECT_EQ(session_->JoystickCaps()[0].name, kStickA);  // A is number 0: B is found by identity

    // Both pulled and plugged again the other way round: still B.
    a.reset();
    b.reset();
    ASSERT_TRUE(Shows(std::string(kStickB) + " (missing)"));
    b = Plug(kStickB);
    a = Plug(kStickA);
    ASSERT_TRUE(RunUntil([&] { return session_->JoystickCaps().size() == 2; }));
    ASSERT_TRUE(Shows(kStickB));
    ASSERT_EQ(session_->LoadPatchFile(patchPath, 0), 1);
    Run(60ms);
    a->Button(0, true);
    Run(60ms);
    b->Button(0, true);
    EXPECT_EQ(Played(1), (std::vector<Bytes>{{0x90, 60, 100}}));
    Run(60ms);
    EXPECT_EQ(Played(1).size(), 1u);  // nothing from A
    EXPECT_EQ(session_->ControllerCaps().name, kStickB);
}

}  // namespace

namespace corvane {
namespace {

TEST(CorvaneHotplug, StartWithNoneThenPlugPlayPullAndFindItsOwnAmongTwo) {
    const std::string server = testsupport::FixtureJackServer();
    ASSERT_FALSE(server.empty()) << "run through ctest";
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    {
        testsupport::MidiDump dump(server, "corvane-hotplug-dump");
        ASSERT_TRUE(dump.WaitForPort(5s));
        auto midi = platform::CreateMidiService("CorvaneHotplug", platform::MidiBackend::Jack);
        auto joystick = platform::CreateJoystickService();
        auto timer = platform::CreatePeriodicTimer();
        const int out = IndexOf(midi->ListOutputs(), dump.PortName());
        ASSERT_GT(out, 0);
        ExtraSettings extra;
        {
            // Button 1 is a note-like control change 64: 127 pressed, 0 released.
            Mapper mapper(*midi, *joystick, *timer, {false, 0, out, 0, 2});
            mapper.Controls()[kButton1] = ControlAssignment(64, 0, 50, 100);
            mapper.Start();
            EXPECT_TRUE(mapper.JoystickProblem().empty());  // nothing attached is no problem
            ASSERT_TRUE(testsupport::LiveOnDump(dump, [&] { mapper.ResetControllers(); }));

            auto stick = Plug(kStickB);
            stick->Button(0, true);
            EXPECT_EQ(Events(dump, 1), (std::vector<Bytes>{{0xB0, 64, 127}}));
            stick.reset();  // pulled with the button held: released at once
            EXPECT_EQ(Events(dump, 2), (std::vector<Bytes>{{0xB0, 64, 127}, {0xB0, 64, 0}}));
            stick = Plug(kStickB);
            stick->Button(0, true);
            EXPECT_EQ(Events(dump, 3).size(), 3u);
            stick->Button(0, false);
            EXPECT_EQ(Events(dump, 4).size(), 4u);
            mapper.Shutdown();
            extra = mapper.CurrentExtraSettings();
        }
        EXPECT_EQ(extra.joystickName, kStickB);

        // Next start, A plugged in before B: B, remembered, is the one read.
        auto a = Plug(kStickA);
        auto b = Plug(kStickB);
        Mapper mapper(*midi, *joystick, *timer, {false, 0, out, 0, 2}, extra);
        mapper.Controls()[kButton1] = ControlAssignment(64, 0, 50, 100);
        mapper.Start();
        ASSERT_TRUE(testsupport::LiveOnDump(dump, [&] { mapper.ResetControllers(); }));
        std::this_thread::sleep_for(50ms);
        a->Button(0, true);
        std::this_thread::sleep_for(50ms);
        b->Button(0, true);
        const auto events = Events(dump, 5);
        ASSERT_EQ(events.size(), 5u);
        EXPECT_EQ(events[4], (Bytes{0xB0, 64, 127}));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(Events(dump, 5).size(), 5u);
        mapper.Shutdown();
    }
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

}  // namespace
}  // namespace corvane
