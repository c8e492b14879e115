#include "fake_midi.h"

#include <gtest/gtest.h>

#include <thread>

#include "alloc_counter.h"

namespace platform {
namespace {

using Call = FakeMidiService::Call;
using Bytes = std::vector<std::uint8_t>;

class FakeMidiTest : public ::testing::Test {
  protected:
    FakeMidiTest() {
        midi.SetOutputs({"Corvane", "Synth"});
        midi.SetInputs({"Corvane", "Keys"});
        midi.SetClock([this] { return now; });
    }

    FakeMidiService midi;
    std::uint64_t now = 0;
};

TEST_F(FakeMidiTest, OpenRulesMatchTheRealService) {
    MidiOutHandle a = kNoHandle, b = kNoHandle;
    EXPECT_EQ(midi.OpenOutput(2, a), MidiResult::BadDeviceId);
    EXPECT_EQ(midi.OpenOutput(-1, a), MidiResult::BadDeviceId);
    EXPECT_EQ(a, kNoHandle);
    ASSERT_EQ(midi.OpenOutput(1, a), MidiResult::NoError);
    EXPECT_EQ(midi.OpenOutput(1, b), MidiResult::Allocated);
    EXPECT_EQ(midi.DeviceOf(a), 1);
    EXPECT_EQ(midi.CloseOutput(a), MidiResult::NoError);
    EXPECT_EQ(midi.CloseOutput(a), MidiResult::InvalidHandle);
    EXPECT_EQ(midi.SendShort(a, 0x90), MidiResult::InvalidHandle);
    ASSERT_EQ(midi.OpenOutput(1, b), MidiResult::NoError);
    EXPECT_NE(a, b);  // handles are never reused
    EXPECT_EQ(midi.SendShort(b, 0x40), MidiResult::InvalidParam);
}

TEST_F(FakeMidiTest, RecordsTrafficWithTimesAndGivesScriptedFailures) {
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(midi.OpenOutput(1, out), MidiResult::NoError);
    now = 40;
    EXPECT_EQ(midi.SendShort(out, PackShortMessage(0xB0, 7, 70)), MidiResult::NoError);
    midi.FailNext(Call::SendShort, MidiResult::NoDevice);
    now = 60;
    EXPECT_EQ(midi.SendShort(out, PackShortMessage(0xC0, 5)), MidiResult::NoDevice);
    const Bytes sysex = {0xF0, 0x43, 0x10, 0xF7};
    EXPECT_EQ(midi.SendLong(out, sysex), MidiResult::NoError);
    EXPECT_EQ(midi.SendShort(out, PackShortMessage(0xFC)), MidiResult::NoError);

    const auto events = midi.Events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[1].timeMs, 40u);
    EXPECT_EQ(events[2].timeMs, 60u);
    EXPECT_EQ(events[2].result, MidiResult::NoDevice);
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0xB0, 7, 70}, sysex, {0xFC}}));

    midi.FailNext(Call::OpenOutput, MidiResult::Allocated, -1);
    MidiOutHandle other = kNoHandle;
    EXPECT_EQ(midi.OpenOutput(0, other), MidiResult::Allocated);
    EXPECT_EQ(midi.OpenOutput(0, other), MidiResult::Allocated);
    midi.ClearFailures();
    EXPECT_EQ(midi.OpenOutput(0, other), MidiResult::NoError);
}

TEST_F(FakeMidiTest, InjectedInputGoesThruFirstThenToTheCallbackOnlyWhileStarted) {
    MidiOutHandle out = kNoHandle;
    MidiInHandle in = kNoHandle;
    std::vector<std::pair<std::uint32_t, std::size_t>> seen;  // message, sends before it
    ASSERT_EQ(midi.OpenOutput(1, out), MidiResult::NoError);
    ASSERT_EQ(
        midi.OpenInput(
            1,
            [&](std::uint32_t m, std::uint32_t) { seen.emplace_back(m, midi.SentBytes().size()); },
            in),
        MidiResult::NoError);
    EXPECT_EQ(midi.InputOnDevice(1), in);
    EXPECT_FALSE(midi.Inject(in, 0xF8));  // not started
    ASSERT_EQ(midi.StartInput(in), MidiResult::NoError);
    ASSERT_EQ(midi.Connect(in, out), MidiResult::NoError);
    EXPECT_TRUE(midi.Inject(in, 0xF8));
    EXPECT_EQ(midi.Disconnect(in, out + 1), MidiResult::InvalidParam);
    ASSERT_EQ(midi.Disconnect(in, out), MidiResult::NoError);
    EXPECT_TRUE(midi.Inject(in, 0xFA));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(0xF8u, std::size_t{1}));  // thru already out
    EXPECT_EQ(seen[1], std::make_pair(0xFAu, std::size_t{1}));  // no thru after disconnect
    EXPECT_EQ(midi.InputStats(in).received, 2u);
    ASSERT_EQ(midi.CloseInput(in), MidiResult::NoError);
    EXPECT_FALSE(midi.Inject(in, 0xF8));
}

TEST(AllocationCounter, SeesAllocationsOnThisThreadOnly) {
    testsupport::AllocationCounter counter;
    auto owned = std::make_unique<int>(1);
    std::thread([] { auto elsewhere = std::make_unique<int>(2); }).join();
    EXPECT_GE(counter.Count(), 1u);
    EXPECT_LE(counter.Count(), 2u);  // the thread object itself may allocate here
}

TEST_F(FakeMidiTest, ShortSendAllocatesNothing) {
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(midi.OpenOutput(1, out), MidiResult::NoError);
    testsupport::AllocationCounter counter;
    for (int i = 0; i < 100; ++i) {
        (void)midi.SendShort(out, PackShortMessage(0xB0, 1, static_cast<std::uint8_t>(i)));
    }
    EXPECT_EQ(counter.Count(), 0u);
}

TEST_F(FakeMidiTest, InjectionFromAnotherThreadIsSafe) {
    MidiOutHandle out = kNoHandle;
    MidiInHandle in = kNoHandle;
    std::atomic<int> delivered{0};
    ASSERT_EQ(midi.OpenOutput(1, out), MidiResult::NoError);
    ASSERT_EQ(midi.OpenInput(
                  1, [&](std::uint32_t, std::uint32_t) { ++delivered; }, in),
              MidiResult::NoError);
    ASSERT_EQ(midi.StartInput(in), MidiResult::NoError);
    ASSERT_EQ(midi.Connect(in, out), MidiResult::NoError);
    std::thread backend([&] {
        for (int i = 0; i < 500; ++i) {
            midi.Inject(in, 0xF8);
        }
    });
    for (int i = 0; i < 500; ++i) {
        (void)midi.SendShort(out, 0xFE);
    }
    backend.join();
    EXPECT_EQ(delivered.load(), 500);
    EXPECT_EQ(midi.SentBytes().size(), 1000u);
}

}  // namespace
}  // namespace platform
