// Corvane's core end to end: an SDL virtual joystick, the real sampling timer and RtMidi on the
// private JACK server, checked by jack_midi_dump.

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "jack_peer.h"
#include "jack_server.h"
#include "mapper.h"
#include "platform/joystick.h"
#include "platform/midi.h"
#include "platform/timer.h"
#include "platform/virtual_stick.h"

namespace corvane {
namespace {

using testsupport::IndexOf;

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

TEST(CorvaneEndToEnd, StickAndButtonBecomeMidiAndThruPassesThrough) {
    const std::string server = testsupport::FixtureJackServer();
    ASSERT_FALSE(server.empty()) << "run through ctest";
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    {
        platform::VirtualStick stick("Corvane Test Stick", 3, 4, 0);
        ASSERT_TRUE(stick.Attached()) << SDL_GetError();
        stick.Axis(0, -32768);  // X at 0
        stick.Axis(1, 0);
        stick.Axis(2, -32768);

        testsupport::MidiDump dump(server, "corvane-e2e-dump");
        ASSERT_TRUE(dump.WaitForPort(5s));
        auto midi = platform::CreateMidiService("CorvaneTest", platform::MidiBackend::Jack);
        auto joystick = platform::CreateJoystickService();
        auto timer = platform::CreatePeriodicTimer();
        const int out = IndexOf(midi->ListOutputs(), dump.PortName());
        ASSERT_GT(out, 0);
        {
            // Thru from our own virtual input, sampling at the "High" rate, on channel 3.
            Mapper mapper(*midi, *joystick, *timer, {true, 0, out, 2, 2});
            mapper.Controls()[kXAxis] = ControlAssignment(7, 0, 50, 100);
            mapper.Controls()[kButton1] = ControlAssignment(kTypePitchBend, 0, 50, 100);
            mapper.Start();
            // Each stimulus waits for the tick that reads it and the message it gives, so a
            // late tick can neither reorder nor swallow one.
            auto waitForTicks = [&mapper](std::uint64_t count) {
                const auto deadline = std::chrono::steady_clock::now() + 5s;
                while (mapper.ReadTicks() < count && std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::sleep_for(1ms);
                }
                return mapper.ReadTicks() >= count;
            };
            ASSERT_TRUE(waitForTicks(2));  // the stick seen where it rests

            stick.Axis(0, 32767);
            ASSERT_EQ(dump.WaitForEvents(1, 5s).size(), 1u);
            stick.Button(0, true);
            ASSERT_EQ(dump.WaitForEvents(2, 5s).size(), 2u);
            stick.Button(0, false);
            ASSERT_EQ(dump.WaitForEvents(3, 5s).size(), 3u);

            auto sender = platform::CreateMidiService("CorvaneSender", platform::MidiBackend::Jack);
            platform::MidiOutHandle senderOut = platform::kNoHandle;
            ASSERT_EQ(
                sender->OpenOutput(IndexOf(sender->ListOutputs(), "CorvaneTest:in"), senderOut),
                platform::MidiResult::NoError);
            // A new connection carries events from the server's next cycle on.
            std::this_thread::sleep_for(50ms);
            ASSERT_EQ(sender->SendShort(senderOut, platform::PackShortMessage(0x99, 36, 110)),
                      platform::MidiResult::NoError);

            const auto events = dump.WaitForEvents(4, 5s);
            ASSERT_EQ(events.size(), 4u);
            EXPECT_EQ(events[0], (Bytes{0xB2, 7, 127}));
            EXPECT_EQ(events[1], (Bytes{0xE2, 0x7F, 0x7F}));  // pressed: full bend
            EXPECT_EQ(events[2], (Bytes{0xE2, 0x00, 0x00}));  // released: min
            EXPECT_EQ(events[3], (Bytes{0x99, 36, 110}));     // thru, untouched
            mapper.Shutdown();
        }
    }
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

// The output remembered by name: followed when another client took its place in the list, and
// left closed, said once, when it no longer goes by that name.
TEST(CorvaneEndToEnd, TheOutputIsFoundByNameAndARenamedOneIsNotReplaced) {
    ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
    testsupport::JackPeer other("tbx-name-other", testsupport::JackPeer::Role::Sink);
    testsupport::JackPeer synth("tbx-name-synth", testsupport::JackPeer::Role::Sink);
    ASSERT_TRUE(other.Ok() && synth.Ok());
    auto midi = platform::CreateMidiService("CorvaneNames", platform::MidiBackend::Jack);
    auto joystick = platform::CreateJoystickService();
    auto timer = platform::CreatePeriodicTimer();
    const int otherIndex = IndexOf(midi->ListOutputs(), other.Port("in"));
    ASSERT_GT(otherIndex, 0);
    const ExtraSettings remembered{"", synth.Port("in"), "jack"};
    {
        // Stored with the index the other client now has.
        Mapper mapper(*midi, *joystick, *timer, {false, 0, otherIndex, 0, 1}, remembered);
        mapper.Start();
        EXPECT_TRUE(mapper.PortProblem().empty());
        mapper.ResetControllers();
        EXPECT_EQ(synth.WaitForArrivals(1, 5s).size(), 1u);
        EXPECT_TRUE(other.WaitForArrivals(1, 200ms).empty());
        mapper.Shutdown();
    }
    ASSERT_TRUE(synth.Rename("in", "renamed"));
    {
        Mapper mapper(*midi, *joystick, *timer, {false, 0, otherIndex, 0, 1}, remembered);
        mapper.Start();
        EXPECT_FALSE(mapper.OutputOpen());
        EXPECT_NE(mapper.PortProblem().find(synth.Port("in") + "\" is missing"), std::string::npos);
        mapper.ResetControllers();
        EXPECT_TRUE(other.WaitForArrivals(1, 200ms).empty());
        mapper.Shutdown();
    }
}

}  // namespace
}  // namespace corvane
