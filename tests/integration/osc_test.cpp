// OSC for both programs as peers use it: a liblo receiver reads the mirror of what the programs
// send on the private JACK server, a liblo sender plays MIDI through them, and junk is survived.

#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "jack_server.h"
#include "mapper.h"
#include "osc_recorder.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/osc.h"
#include "platform/timer.h"
#include "platform/virtual_stick.h"
#include "tamborex/app/core.h"
#include "tamborex/testing/test_window.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using testsupport::IndexOf;
using testsupport::OscArg;
using testsupport::OscRecorder;

const Bytes kSensing{0xFE};
const Bytes kResetControllers{0xB0, 121, 0};

// A UDP port of 127.0.0.1 that was free a moment ago.
std::uint16_t FreePort() {
    std::string error;
    auto probe = platform::OscListener::Start(
        {"127.0.0.1", 0}, platform::OscReader("/x", {}),
        [](const platform::OscCommand&) { return true; }, error);
    return probe ? probe->Port() : 0;
}

// A packet no OSC peer would send, of every shape: empty, short, a bundle lying about its
// sizes, a message with types its arguments do not have.
std::vector<Bytes> Junk() {
    return {{},
            {0},
            {'/', 'n', 'o', 't', 'e'},
            {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x7F, 0xFF, 0xFF, 0xF0},
            {'/', 'n', 'o', 't', 'e', 0, 0, 0, ',', 'i', 'i', 'i', 0, 0, 0, 0, 0, 0, 0, 1},
            {'/', 's', 'y', 's', 'e', 'x', 0, 0, ',', 's', 0, 0, 'F', '0', 'F', '7'}};
}

std::string Describe(const OscRecorder::Received& r) {
    std::string text = r.message.path;
    for (const OscArg& a : r.message.args) {
        text += " ";
        text += a.type == 's'   ? a.text
                : a.type == 'f' ? std::to_string(a.real)
                                : std::to_string(a.integer);
    }
    return text;
}

// The messages a peer got, as text, with the bundle each came in.
std::vector<std::pair<int, std::string>> Seen(const OscRecorder& peer) {
    std::vector<std::pair<int, std::string>> seen;
    for (const auto& r : peer.All()) {
        seen.emplace_back(r.bundle, Describe(r));
    }
    return seen;
}

class TamborexOsc : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = testsupport::FixtureJackServer();
        ASSERT_FALSE(server_.empty()) << "run through ctest";
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        dir_ =
            std::filesystem::temp_directory_path() / ("tamborex-osc-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        stick_ = std::make_unique<platform::VirtualStick>("Tamborex OSC Stick", 6, 8, 0);
        ASSERT_TRUE(stick_->Attached()) << SDL_GetError();
        for (int axis = 0; axis < 6; ++axis) {
            stick_->Axis(axis, -32768);
        }
        dump_ = std::make_unique<testsupport::MidiDump>(server_, "tbx-osc-dump");
        ASSERT_TRUE(dump_->WaitForPort(5s));
        midi_ = platform::CreateMidiService("TbxOsc", platform::MidiBackend::Jack);
        joystick_ = platform::CreateJoystickService();
        inPort_ = FreePort();
        ASSERT_GT(inPort_, 0);
        window_.runPostedAtOnce = false;
        core_ = std::make_unique<CTamborexCore>(
            window_, *midi_, *joystick_, (dir_ / "Tamborex.bnk").string(),
            COscLink::Overrides{"127.0.0.1:" + std::to_string(peer_.Port()),
                                std::to_string(inPort_)});
        Attach(core_->Session(), window_);
    }

    void TearDown() override {
        if (core_) {
            core_->Session().Shutdown();
            core_.reset();
        }
        stick_.reset();
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        std::filesystem::remove_all(dir_);
    }

    CSession& Session() { return core_->Session(); }

    template <typename Done>
    bool RunUntil(Done&& done, Clock::duration limit = 5s) {
        const auto deadline = Clock::now() + limit;
        while (!done() && Clock::now() < deadline) {
            window_.RunPosted();
            window_.Advance(1);
            std::this_thread::sleep_for(1ms);
        }
        return done();
    }
    void Run(std::chrono::milliseconds length) {
        const auto end = Clock::now() + length;
        RunUntil([&] { return Clock::now() >= end; });
    }
    std::vector<Bytes> Played(std::size_t n) {
        return testsupport::EventsWithout(*dump_, n, {kSensing, kResetControllers},
                                          [this] { Run(20ms); });
    }

    // Axis Z to controller 7, axis X to pitch bend, button 0 a note, button 1 a program change;
    // polled every 20 ms, on the dump.
    void StartPlaying() {
        Session().Startup();
        const int out = IndexOf(midi_->ListOutputs(), dump_->PortName());
        ASSERT_GT(out, 0);
        ASSERT_TRUE(Session().SelectOutput(out));
        const std::uint8_t sensing[4] = {0xFE, 0, 0, 0};
        ASSERT_TRUE(testsupport::LiveOnDump(
            *dump_, [&] { CSessionTestAccess::MidiOut(Session()).Send(sensing, 1); }));
        CPatch& patch = Session().Engine().patches[0];
        patch.axes[AXIS_Z].controller = 9;
        patch.axes[AXIS_X].controller = kSelectPitchBend;  // the value as the MSB
        patch.buttons[0].mode = MODE_NOTE;
        patch.buttons[0].data1 = 60;
        patch.buttons[0].data2 = 100;
        patch.buttons[1].mode = MODE_PROGRAM_CHANGE;
        patch.buttons[1].data1 = 5;
        patch.buttons[1].channel = 9;
        Session().SetPollInterval(0);
        Session().SetActive(true);
        Run(100ms);
        peer_.Clear();
    }

    std::string server_;
    std::filesystem::path dir_;
    std::unique_ptr<platform::VirtualStick> stick_;
    std::unique_ptr<testsupport::MidiDump> dump_;
    std::unique_ptr<platform::MidiService> midi_;
    std::unique_ptr<platform::JoystickService> joystick_;
    OscRecorder peer_;
    std::uint16_t inPort_ = 0;
    CTestWindow window_;
    std::unique_ptr<CTamborexCore> core_;
};

TEST_F(TamborexOsc, EachPassLeavesAsOneBundleMirroringTheStickAndEveryMidiMessage) {
    StartPlaying();
    ASSERT_NE(core_->Osc().Sender(), nullptr);
    const auto wallBefore = platform::OscNow();

    stick_->Axis(AXIS_Z, 32767);
    // What the peer saw tells a message JACK lost from one never sent.
    ASSERT_EQ(Played(1), (std::vector<Bytes>{{0xB0, 7, 127}}))
        << "mirrored: " << ::testing::PrintToString(Seen(peer_));
    ASSERT_TRUE(peer_.WaitFor("/control"));
    stick_->Button(0, true);
    ASSERT_EQ(Played(2).back(), (Bytes{0x90, 60, 100}));
    ASSERT_TRUE(peer_.WaitFor("/note"));
    stick_->Button(0, false);
    ASSERT_EQ(Played(3).back(), (Bytes{0x80, 60, 100}));
    stick_->Button(1, true);
    ASSERT_EQ(Played(4).back(), (Bytes{0xC9, 5}));
    ASSERT_TRUE(peer_.WaitFor("/program"));
    ASSERT_TRUE(peer_.WaitFor("/note", 2));
    stick_->Axis(AXIS_X, 32767);
    ASSERT_EQ(Played(5).back(), (Bytes{0xE0, 0, 0x7F}));
    ASSERT_TRUE(peer_.WaitFor("/pitch"));

    const auto all = peer_.All();
    const auto seen = Seen(peer_);
    // Every message came in a bundle, the stick's own first, then the MIDI it made.
    auto bundleOf = [&](const std::string& text) {
        for (const auto& [bundle, what] : seen) {
            if (what == text) {
                return bundle;
            }
        }
        return -1;
    };
    const int zMove = bundleOf("/tamborex/axis 2 1.000000");
    EXPECT_GT(zMove, 0) << ::testing::PrintToString(seen);
    EXPECT_EQ(bundleOf("/control 1 7 127"), zMove);
    const int press = bundleOf("/tamborex/button 0 1");
    EXPECT_GT(press, zMove);
    EXPECT_EQ(bundleOf("/note 1 60 100"), press);
    const int release = bundleOf("/note 1 60 0");  // a note off is velocity 0
    EXPECT_GT(release, press);
    EXPECT_EQ(bundleOf("/tamborex/button 0 0"), release);
    EXPECT_GT(bundleOf("/program 10 5"), press);
    EXPECT_EQ(bundleOf("/program 10 5"), bundleOf("/tamborex/button 1 1"));
    const int xMove = bundleOf("/tamborex/axis 0 1.000000");
    EXPECT_GT(xMove, release);
    EXPECT_EQ(bundleOf("/pitch 1 16256"), xMove);
    for (const auto& r : all) {
        EXPECT_GT(r.bundle, 0) << Describe(r);
        // Time-tagged with when the stick was read: after the test began, not in the future.
        EXPECT_GE(r.seconds, wallBefore.seconds) << Describe(r);
        EXPECT_LE(r.seconds, platform::OscNow().seconds) << Describe(r);
    }
    EXPECT_EQ(core_->Osc().Sender()->Dropped(), 0u);
    EXPECT_TRUE(window_.messages.empty()) << window_.messages.front();
}

TEST_F(TamborexOsc, MidiFromOscPlaysOutOfJackAndIsMirroredWhileJunkIsCountedAndIgnored) {
    StartPlaying();
    ASSERT_NE(core_->Osc().Listener(), nullptr);
    const int port = core_->Osc().Listener()->Port();
    EXPECT_EQ(port, inPort_);
    for (const Bytes& junk : Junk()) {
        ASSERT_TRUE(testsupport::SendDatagram(port, junk));
    }
    ASSERT_TRUE(
        testsupport::SendOsc(port, "/note", {OscArg::Int(2), OscArg::Int(64), OscArg::Int(90)}));
    ASSERT_TRUE(
        testsupport::SendOsc(port, "/control", {OscArg::Int(1), OscArg::Int(74), OscArg::Int(10)}));
    ASSERT_TRUE(testsupport::SendOsc(port, "/pitch", {OscArg::Int(16), OscArg::Int(0)}));
    ASSERT_TRUE(testsupport::SendOsc(port, "/program", {OscArg::Int(3), OscArg::Int(7)}));
    ASSERT_TRUE(testsupport::SendOsc(port, "/pressure", {OscArg::Int(4), OscArg::Int(99)}));
    ASSERT_TRUE(testsupport::SendOsc(port, "/sysex", {OscArg::Text("F0 7D 01 02 F7")}));
    ASSERT_TRUE(
        testsupport::SendOsc(port, "/note", {OscArg::Int(99), OscArg::Int(64), OscArg::Int(90)}));
    EXPECT_EQ(Played(6), (std::vector<Bytes>{{0x91, 64, 90},
                                             {0xB0, 74, 10},
                                             {0xEF, 0, 0},
                                             {0xC2, 7},
                                             {0xD3, 99},
                                             {0xF0, 0x7D, 0x01, 0x02, 0xF7}}));
    // Played like the engine's own: the mirror carries them too.
    ASSERT_TRUE(peer_.WaitFor("/sysex"));
    EXPECT_EQ(Describe(peer_.With("/pressure").at(0)), "/pressure 4 99");
    EXPECT_EQ(Describe(peer_.With("/sysex").at(0)), "/sysex F07D0102F7");
    // The last packet, the refused note, may still be on its way through the listener.
    EXPECT_TRUE(RunUntil([&] { return core_->Osc().Listener()->Ignored() == Junk().size() + 1; }));

    // The note OSC started is ended by a panic, which a touch button's release does not repeat.
    ASSERT_TRUE(testsupport::SendOsc(port, "/tamborex/panic", {}));
    const auto ended = Played(8);
    EXPECT_NE(std::find(ended.begin() + 6, ended.end(), Bytes{0x81, 64, 0}), ended.end())
        << ::testing::PrintToString(ended);
    ASSERT_TRUE(testsupport::SendOsc(port, "/tamborex/panic", {{'f', {}, 0, 0}}));

    // Bank entry and active state.
    ASSERT_TRUE(testsupport::SendOsc(port, "/tamborex/entry", {OscArg::Int(5)}));
    EXPECT_TRUE(RunUntil([&] { return Session().PatchNumber() == 5; }));
    ASSERT_TRUE(testsupport::SendOsc(port, "/tamborex/active", {OscArg::Int(0)}));
    EXPECT_TRUE(RunUntil([&] { return Session().Patch().active == 0; }));
    ASSERT_TRUE(testsupport::SendOsc(port, "/tamborex/entry", {OscArg::Int(128)}));
    EXPECT_TRUE(RunUntil([&] { return core_->Osc().Listener()->Ignored() == Junk().size() + 2; }));
    EXPECT_EQ(Session().PatchNumber(), 5);
}

TEST_F(TamborexOsc, SettingsThatCannotBeUsedAreSaidAndThePatchPlaysOn) {
    Session().Startup();
    ASSERT_NE(core_->Osc().Listener(), nullptr);
    // Another program (here: this one) holds the port asked for.
    Session().SetOscSettings("nowhere", std::to_string(inPort_));
    EXPECT_EQ(core_->Osc().Sender(), nullptr);
    ASSERT_GE(window_.messages.size(), 1u);
    EXPECT_NE(window_.messages[0].find("HOST:PORT"), std::string::npos) << window_.messages[0];
    // The command line's listener gave way to the setting's, which is the same port: it opens.
    EXPECT_NE(core_->Osc().Listener(), nullptr);
    Session().SetOscSettings("", "");
    EXPECT_EQ(core_->Osc().Listener(), nullptr);
    Session().SetOscSettings("127.0.0.1:" + std::to_string(peer_.Port()), "");
    EXPECT_NE(core_->Osc().Sender(), nullptr);
    EXPECT_EQ(Session().Extra().oscOut, "127.0.0.1:" + std::to_string(peer_.Port()));
}

TEST(CorvaneOsc, TheTickLeavesAsOneBundleAndOscPlaysOutOfJack) {
    const std::string server = testsupport::FixtureJackServer();
    ASSERT_FALSE(server.empty()) << "run through ctest";
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    {
        platform::VirtualStick stick("Corvane OSC Stick", 3, 4, 0);
        ASSERT_TRUE(stick.Attached()) << SDL_GetError();
        testsupport::MidiDump dump(server, "cvn-osc-dump");
        ASSERT_TRUE(dump.WaitForPort(5s));
        auto midi = platform::CreateMidiService("CvnOsc", platform::MidiBackend::Jack);
        auto joystick = platform::CreateJoystickService();
        auto timer = platform::CreatePeriodicTimer();
        corvane::Settings settings;
        settings.thru = false;
        settings.outputDevice = IndexOf(midi->ListOutputs(), dump.PortName());
        settings.sampleRate = 2;
        ASSERT_GT(settings.outputDevice, 0);
        corvane::Mapper mapper(*midi, *joystick, *timer, settings);
        mapper.Controls()[corvane::kButton1].type = 64;  // sustain
        OscRecorder peer;
        const std::uint16_t inPort = FreePort();
        ASSERT_EQ(
            mapper.ApplyOsc("127.0.0.1:" + std::to_string(peer.Port()), std::to_string(inPort)),
            "");
        mapper.Start();
        ASSERT_TRUE(testsupport::LiveOnDump(dump, [&] { mapper.ResetControllers(); }));
        const auto until = [](const std::function<bool()>& done) {
            const auto deadline = Clock::now() + 5s;
            while (!done() && Clock::now() < deadline) {
                std::this_thread::sleep_for(2ms);
            }
            return done();
        };
        const std::uint64_t ticks = mapper.ReadTicks();
        ASSERT_TRUE(until([&] { return mapper.ReadTicks() > ticks + 2; }));
        peer.Clear();

        stick.Button(0, true);
        ASSERT_TRUE(peer.WaitFor("/control"));
        const auto pressed = peer.All();
        ASSERT_EQ(pressed.size(), 2u) << ::testing::PrintToString(Seen(peer));
        EXPECT_EQ(Describe(pressed[0]), "/corvane/button 0 1");
        EXPECT_EQ(Describe(pressed[1]), "/control 1 64 127");
        EXPECT_EQ(pressed[0].bundle, pressed[1].bundle);
        EXPECT_GT(pressed[0].bundle, 0);

        stick.Axis(0, 32767);
        ASSERT_TRUE(peer.WaitFor("/corvane/axis"));
        EXPECT_EQ(Describe(peer.With("/corvane/axis").at(0)), "/corvane/axis 0 1.000000");

        ASSERT_TRUE(testsupport::SendDatagram(inPort, {1, 2, 3}));
        ASSERT_TRUE(testsupport::SendOsc(inPort, "/control",
                                         {OscArg::Int(3), OscArg::Int(1), OscArg::Int(64)}));
        ASSERT_TRUE(testsupport::SendOsc(inPort, "/corvane/entry", {OscArg::Int(1)}));
        const auto events = testsupport::EventsWithout(dump, 2, {kSensing, kResetControllers});
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[1], (Bytes{0xB2, 1, 64}));
        ASSERT_TRUE(until([&] { return mapper.Osc().Ignored() == 2; }));
        ASSERT_TRUE(peer.WaitFor("/control", 2));
        EXPECT_EQ(Describe(peer.With("/control").at(1)), "/control 3 1 64");
        mapper.Shutdown();
    }
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

}  // namespace
