// Panic and an incoming All Notes Off on the private JACK server: what buttons, an arpeggio and
// the sustain pedal hold ends, and a panic leaves in one process cycle.

#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "fake_joystick.h"
#include "jack_peer.h"
#include "jack_server.h"
#include "platform/midi.h"
#include "tamborex/devices/midi_in.h"
#include "tamborex/devices/midi_thru.h"
#include "tamborex/engine/engine.h"
#include "tamborex/testing/loop_ui_thread.h"
#include "tamborex/testing/test_window.h"

namespace {

using namespace std::chrono_literals;
using Message = std::array<std::uint8_t, 3>;
using testsupport::IndexOf;

// Tamborex's engine on JACK with thru made by the service, as the session wires it, playing into
// a sink; a keyboard peer plays into its input.
class PanicOnJack : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
        ASSERT_TRUE(sink.Ok());
        ASSERT_TRUE(keys.Ok());
        out.SetThru(&thru);
        in.SetThru(&thru);
        thru.SetWanted(true);
        bank.byService = &thru;
        ASSERT_TRUE(
            out.Open(static_cast<std::int16_t>(IndexOf(midi->ListOutputs(), sink.Port("in")))));
        ASSERT_TRUE(in.Open(0));  // our own input port
        ASSERT_TRUE(keys.Connect(keys.Port("out"), "TbxPanic:in"));
        ASSERT_TRUE(thru.Forwarding());

        CPatch& patch = engine.patches[0];
        patch.active = 1;
        patch.buttons[0].mode = MODE_NOTE;
        patch.buttons[0].data1 = 60;
        patch.buttons[0].data2 = 100;
        patch.buttons[1].mode = MODE_ARPEGGIATOR;
        patch.buttons[1].autoArpeggiation = 1;
        patch.buttons[1].channel = 2;
        patch.buttons[1].stepCount = 2;
        patch.buttons[1].notes = {48, 55, 0, 0, 0, 0, 0, 0};
        patch.buttons[1].times = {1, 1, 1, 1, 1, 1, 1, 1};
        patch.buttons[2].mode = MODE_SUSTAIN;
        patch.buttons[3].mode = MODE_NOTE;
        patch.buttons[3].channel = 5;
        patch.buttons[3].data1 = 64;
        patch.buttons[3].data2 = 90;
        window.RunFor(50ms);
    }

    // Presses every button and lets the arpeggio step to its second note on the keyboard's
    // clock. Returns how many messages have arrived by then.
    std::size_t PlayEverything() {
        for (int b = 0; b < 4; ++b) {
            engine.ProcessButtonDown(b, 0);
        }
        EXPECT_EQ(Bytes(Await(4)),
                  (std::vector<Message>{
                      {0x90, 60, 100}, {0x92, 48, 127}, {0xB0, 64, 127}, {0x95, 64, 90}}));
        return SendUntil(0xF8, 1, {0x92, 55, 127});
    }

    // The keyboard plays message until what it leads to arrives at the sink: a late cycle of the
    // dummy driver on a busy machine may drop an event, as on stage a cable might not. Returns
    // how many messages have arrived.
    std::size_t SendUntil(std::uint32_t message, int size, const Message& awaited) {
        const std::size_t from = sink.WaitForArrivals(0, 0ms).size();
        for (int attempt = 0; attempt < 20; ++attempt) {
            keys.Send(message, size);
            const auto deadline = std::chrono::steady_clock::now() + 200ms;
            while (std::chrono::steady_clock::now() < deadline) {
                window.RunFor(10ms);
                const auto arrivals = sink.WaitForArrivals(0, 0ms);
                for (std::size_t i = from; i < arrivals.size(); ++i) {
                    if (arrivals[i].bytes == awaited) {
                        window.RunFor(20ms);
                        return sink.WaitForArrivals(0, 0ms).size();
                    }
                }
            }
        }
        ADD_FAILURE() << "never arrived";
        return sink.WaitForArrivals(0, 0ms).size();
    }

    // Runs the engine's loop until n messages have arrived at the sink (or five seconds pass),
    // so that input handled on the loop is never left waiting while the test only watches.
    std::vector<testsupport::JackPeer::Arrival> Await(std::size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            auto arrivals = sink.WaitForArrivals(n, 1ms);
            if (arrivals.size() >= n || std::chrono::steady_clock::now() >= deadline) {
                return arrivals;
            }
            window.RunFor(10ms);
        }
    }

    std::vector<Message> Bytes(const std::vector<testsupport::JackPeer::Arrival>& arrivals,
                               std::size_t from = 0) {
        std::vector<Message> bytes;
        for (std::size_t i = from; i < arrivals.size(); ++i) {
            bytes.push_back(arrivals[i].bytes);
        }
        return bytes;
    }

    testsupport::JackPeer sink{"tbx-panic-sink", testsupport::JackPeer::Role::Sink};
    testsupport::JackPeer keys{"tbx-panic-keys", testsupport::JackPeer::Role::Source};
    std::unique_ptr<platform::MidiService> midi =
        platform::CreateMidiService("TbxPanic", platform::MidiBackend::Jack);
    platform::FakeJoystickService stick;
    CLoopUiThread window;
    CTestBankLink bank;
    CMidiThru thru{*midi};
    CWinMIDIOut out{*midi};
    CJoystick joystick{stick, [this](std::string_view t) { window.Message(t); }};
    CEngine engine{out, joystick, window, window, bank};
    CWinMIDIIn in{*midi, [this](std::uint32_t m, std::uint32_t ts) { engine.OnMidiInput(m, ts); }};
};

TEST_F(PanicOnJack, PanicEndsButtonsArpeggioAndSustainInOneCycle) {
    const std::size_t played = PlayEverything();
    engine.Panic();
    const std::vector<Message> panic{{0x80, 60, 0},  {0x82, 55, 0},  {0x85, 64, 0}, {0xB0, 64, 0},
                                     {0xB0, 120, 0}, {0xB0, 123, 0}, {0xE0, 0, 64}, {0xB2, 64, 0},
                                     {0xB2, 120, 0}, {0xB2, 123, 0}, {0xE2, 0, 64}, {0xB5, 64, 0},
                                     {0xB5, 120, 0}, {0xB5, 123, 0}, {0xE5, 0, 64}};
    auto arrivals = Await(played + panic.size());
    ASSERT_EQ(Bytes(arrivals, played), panic);
    std::set<std::uint64_t> cycles;
    std::set<std::uint32_t> frames;
    for (std::size_t i = played; i < arrivals.size(); ++i) {
        cycles.insert(arrivals[i].arrivedUs);
        frames.insert(arrivals[i].frame);
    }
    EXPECT_EQ(cycles.size(), 1u) << "the panic was split over cycles";
    EXPECT_EQ(frames.size(), 1u);

    // The arpeggio stays stopped while its button is held; the clock alone passes through, and
    // the releases have nothing left to end.
    for (int tick = 0; tick < 3; ++tick) {
        keys.Send(0xF8, 1);
        window.RunFor(30ms);
    }
    for (int b = 0; b < 4; ++b) {
        engine.ProcessButtonUp(b, 0);
    }
    window.RunFor(300ms);
    arrivals = sink.WaitForArrivals(0, 0ms);
    ASSERT_GT(arrivals.size(), played + panic.size()) << "no clock came through";
    for (const Message& m : Bytes(arrivals, played + panic.size())) {
        EXPECT_EQ(m, (Message{0xF8, 0, 0}));
    }
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(PanicOnJack, AnIncomingAllNotesOffEndsWhatTamborexHoldsOnItsChannel) {
    PlayEverything();
    // A keyboard note through thru, on channel 2.
    SendUntil(0x92 | (70 << 8) | (90 << 16), 3, {0x92, 70, 90});
    const std::size_t before = sink.WaitForArrivals(0, 0ms).size();
    SendUntil(0xB2 | (123 << 8), 3, {0xB2, 123, 0});
    auto arrivals = Await(before + 3);
    // It passes through first, inside the cycle it arrived in; then the channel's notes end.
    EXPECT_EQ(Bytes(arrivals, before),
              (std::vector<Message>{{0xB2, 123, 0}, {0x82, 55, 0}, {0x82, 70, 0}}));

    // The other channels play on; the arpeggio does not, until pressed anew.
    engine.ProcessButtonUp(1, 0);
    engine.ProcessButtonUp(0, 0);
    arrivals = Await(before + 4);
    EXPECT_EQ(Bytes(arrivals, before + 3), (std::vector<Message>{{0x80, 60, 100}}));
    engine.ProcessButtonDown(1, 0);
    arrivals = Await(before + 5);
    EXPECT_EQ(Bytes(arrivals, before + 4), (std::vector<Message>{{0x92, 48, 127}}));
    EXPECT_TRUE(window.messages.empty());
}

}  // namespace
