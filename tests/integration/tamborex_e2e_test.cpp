// Tamborex's engine end to end: an SDL virtual joystick, RtMidi on the private JACK server, MIDI
// clock and thru from another JACK client, checked by jack_midi_dump.

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "jack_peer.h"
#include "jack_server.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/virtual_stick.h"
#include "tamborex/devices/midi_in.h"
#include "tamborex/engine/engine.h"
#include "tamborex/testing/loop_ui_thread.h"
#include "tamborex/testing/test_window.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using testsupport::IndexOf;

TEST(TamborexEndToEnd, StickButtonsClockAndThruReachJack) {
    const std::string server = testsupport::FixtureJackServer();
    ASSERT_FALSE(server.empty()) << "run through ctest";
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    {
        platform::VirtualStick stick("Tamborex Test Stick", 6, 8, 0);
        ASSERT_TRUE(stick.Attached()) << SDL_GetError();
        for (int axis = 0; axis < 6; ++axis) {
            stick.Axis(axis, -32768);  // every axis at 0, as the first state record holds
        }
        testsupport::MidiDump dump(server, "tbx-e2e-dump");
        ASSERT_TRUE(dump.WaitForPort(5s));

        auto midi = platform::CreateMidiService("TbxE2E", platform::MidiBackend::Jack);
        auto joystickService = platform::CreateJoystickService();
        CLoopUiThread window;
        CTestBankLink bank;
        CWinMIDIOut out(*midi);
        CJoystick joystick(*joystickService, [&](std::string_view t) { window.Message(t); });
        CEngine engine(out, joystick, window, window, bank);
        CWinMIDIIn in(*midi, [&](std::uint32_t m, std::uint32_t ts) { engine.OnMidiInput(m, ts); });

        ASSERT_TRUE(
            out.Open(static_cast<std::int16_t>(IndexOf(midi->ListOutputs(), dump.PortName()))));
        ASSERT_TRUE(joystick.Init());
        ASSERT_TRUE(in.Open(0));
        CPatch& patch = engine.patches[0];
        patch.axes[AXIS_Z].controller = 9;  // control change 7
        patch.buttons[0].mode = MODE_NOTE;
        patch.buttons[0].data1 = 60;
        patch.buttons[0].data2 = 100;
        patch.buttons[1].mode = MODE_ARPEGGIATOR;
        patch.buttons[1].autoArpeggiation = 1;
        patch.buttons[1].stepCount = 2;
        patch.buttons[1].notes = {70, 72, 0, 0, 0, 0, 0, 0};
        patch.buttons[1].times = {1, 1, 1, 1, 1, 1, 1, 1};
        patch.pollIntervalCode = 0;
        engine.SetPatchActive(0, 1);
        window.RunFor(100ms);

        stick.Axis(AXIS_Z, 32767);
        window.RunFor(60ms);
        stick.Button(0, true);
        window.RunFor(60ms);
        stick.Button(0, false);
        window.RunFor(60ms);
        stick.Button(1, true);
        window.RunFor(60ms);

        auto sender = platform::CreateMidiService("TbxClock", platform::MidiBackend::Jack);
        platform::MidiOutHandle clock = platform::kNoHandle;
        ASSERT_EQ(sender->OpenOutput(IndexOf(sender->ListOutputs(), "TbxE2E:in"), clock),
                  platform::MidiResult::NoError);
        window.RunFor(50ms);
        for (int tick = 0; tick < 2; ++tick) {
            ASSERT_EQ(sender->SendShort(clock, 0xF8), platform::MidiResult::NoError);
            window.RunFor(30ms);
        }
        const auto events = dump.WaitForEvents(8, 5s);
        EXPECT_EQ(events, (std::vector<Bytes>{{0xB0, 7, 127},
                                              {0x90, 60, 100},
                                              {0x80, 60, 100},
                                              {0x90, 70, 127},
                                              {0xF8},
                                              {0xF8},
                                              {0x80, 70, 127},
                                              {0x90, 72, 127}}));
        EXPECT_TRUE(window.messages.empty());
        engine.SetPatchActive(0, 0);
    }
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

// Low-latency input: with a whole second between poll ticks, a move, a press and a release
// each reach MIDI long before the next tick; a stick whose service reports nothing still plays
// at the tick.
TEST(TamborexEndToEnd, LowLatencyInputSendsEachChangeBeforeTheNextTick) {
    ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    {
        platform::VirtualStick stick("Tamborex Quick Stick", 6, 8, 0);
        ASSERT_TRUE(stick.Attached()) << SDL_GetError();
        for (int axis = 0; axis < 6; ++axis) {
            stick.Axis(axis, -32768);
        }
        testsupport::JackPeer sink("tbx-quick-sink", testsupport::JackPeer::Role::Sink);
        ASSERT_TRUE(sink.Ok());
        auto midi = platform::CreateMidiService("TbxQuick", platform::MidiBackend::Jack);
        auto joystickService = platform::CreateJoystickService();
        CLoopUiThread window;
        CTestBankLink bank;
        CWinMIDIOut out(*midi);
        CJoystick joystick(*joystickService, [&](std::string_view t) { window.Message(t); });
        CEngine engine(out, joystick, window, window, bank);
        joystickService->SetEventListener([&](platform::JoyEvent) { engine.OnJoystickEvent(); });
        engine.SetLowLatency(true);
        ASSERT_TRUE(
            out.Open(static_cast<std::int16_t>(IndexOf(midi->ListOutputs(), sink.Port("in")))));
        ASSERT_TRUE(joystick.Init());
        CPatch& patch = engine.patches[0];
        patch.axes[AXIS_Z].controller = 9;
        patch.buttons[0].mode = MODE_NOTE;
        patch.buttons[0].data1 = 60;
        patch.buttons[0].data2 = 100;
        patch.buttons[1].mode = MODE_SUSTAIN;
        patch.buttons[2].mode = MODE_ARPEGGIATOR;
        patch.buttons[2].stepCount = 2;
        patch.buttons[2].currentStep = 0;
        patch.buttons[2].notes = {70, 72, 0, 0, 0, 0, 0, 0};
        patch.buttons[3].mode = MODE_Z_SUPPRESS;
        patch.buttons[4].mode = MODE_PATCH_CHANGE;
        patch.buttons[4].data1 = 7;
        patch.pollIntervalCode = 149;  // (149 + 1) x 20 ms: three seconds between ticks
        engine.SetPatchActive(0, 1);
        window.RunFor(100ms);
        const auto start = Clock::now();

        stick.Axis(AXIS_Z, 32767);
        window.RunFor(100ms);
        for (int button : {0, 1, 2, 2}) {  // note, sustain, two arpeggio steps
            stick.Button(button, true);
            window.RunFor(100ms);
            stick.Button(button, false);
            window.RunFor(100ms);
        }
        stick.Button(3, true);  // suppress: Z is held where it is
        window.RunFor(100ms);
        stick.Axis(AXIS_Z, -32768);
        window.RunFor(100ms);
        stick.Button(3, false);
        window.RunFor(100ms);
        stick.Button(4, true);
        window.RunFor(100ms);
        ASSERT_LT(Clock::now() - start, 2500ms) << "too slow to tell events from the tick";
        auto arrivals = sink.WaitForArrivals(9, 1ms);
        std::vector<std::array<std::uint8_t, 3>> bytes;
        for (const auto& a : arrivals) {
            bytes.push_back(a.bytes);
        }
        EXPECT_EQ(bytes, (std::vector<std::array<std::uint8_t, 3>>{{0xB0, 7, 127},
                                                                   {0x90, 60, 100},
                                                                   {0x80, 60, 100},
                                                                   {0xB0, 64, 127},
                                                                   {0xB0, 64, 0},
                                                                   {0x90, 70, 127},
                                                                   {0x80, 70, 127},
                                                                   {0x90, 72, 127},
                                                                   {0x80, 72, 127}}))
            << "a change waited for the tick, or the suppressed axis was sent";
        EXPECT_EQ(bank.selected, (std::vector<std::int32_t>{7}));
        stick.Button(4, false);
        window.RunFor(100ms);

        // No events from the service: the tick still plays the move.
        joystickService->SetEventListener({});
        stick.Axis(AXIS_Z, 0);
        window.RunFor(100ms);
        EXPECT_EQ(sink.WaitForArrivals(10, 1ms).size(), 9u);
        window.RunFor(3200ms);
        arrivals = sink.WaitForArrivals(10, 100ms);
        ASSERT_EQ(arrivals.size(), 10u);
        EXPECT_EQ(arrivals[9].bytes, (std::array<std::uint8_t, 3>{0xB0, 7, 64}));
        EXPECT_TRUE(window.messages.empty());
        engine.SetPatchActive(0, 0);
    }
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

}  // namespace
