#include <gtest/gtest.h>

#include "fake_midi.h"
#include "tamborex/devices/midi_in.h"
#include "tamborex/devices/midi_out.h"

namespace {

using Call = platform::FakeMidiService::Call;
using Bytes = std::vector<std::uint8_t>;

std::vector<Call> Calls(const platform::FakeMidiService& midi) {
    std::vector<Call> calls;
    for (const auto& e : midi.Events()) {
        calls.push_back(e.call);
    }
    return calls;
}

class MidiOutTest : public ::testing::Test {
  protected:
    MidiOutTest() { midi.SetOutputs({"Tamborex", "Synth A", "Synth B"}); }
    platform::FakeMidiService midi;
};

TEST_F(MidiOutTest, ListsDevicesOnceAndOpensClosesAsTold) {
    CWinMIDIOut out(midi);
    EXPECT_EQ(out.DeviceCount(), 3u);
    EXPECT_EQ(out.GetDevName(2), "Synth B");
    EXPECT_TRUE(out.Open(-1));  // closed already: no platform call
    EXPECT_TRUE(midi.Events().empty());
    ASSERT_TRUE(out.Open(1));
    ASSERT_TRUE(out.Open(1));  // the same device: closed and opened again
    EXPECT_EQ(Calls(midi),
              (std::vector<Call>{Call::OpenOutput, Call::CloseOutput, Call::OpenOutput}));
    EXPECT_EQ(out.CurrentDevice(), 1);
    EXPECT_EQ(out.GetErrorText(), "CMIDI Error:none");
    EXPECT_TRUE(out.Open(-1));
    EXPECT_EQ(out.CurrentDevice(), -1);
    EXPECT_EQ(midi.OpenOutputCount(), 0u);
}

TEST_F(MidiOutTest, RefusalsGiveTheirTextsAndAFailedReopenLeavesThePortClosed) {
    CWinMIDIOut out(midi);
    midi.FailNext(Call::OpenOutput, platform::MidiResult::NoDevice);
    EXPECT_FALSE(out.Open(1));
    EXPECT_EQ(out.GetErrorText(), "CMIDI Error:No MIDI port found.");
    midi.FailNext(Call::OpenOutput, platform::MidiResult::Allocated);
    EXPECT_FALSE(out.Open(1));
    EXPECT_EQ(out.GetErrorText(), "CMIDI Error:MIDI port already allocated.");
    EXPECT_FALSE(out.Open(7));
    EXPECT_EQ(out.GetErrorText(), "CMIDI Error:Bad device ID");

    ASSERT_TRUE(out.Open(1));
    // The close fails and so does the open: the first error is the one kept.
    midi.FailNext(Call::CloseOutput, platform::MidiResult::Other);
    EXPECT_FALSE(out.Open(2));
    EXPECT_EQ(out.LastError(), MIDI_UNKNOWN);
    EXPECT_EQ(out.GetErrorText(), "CMIDI Error:Unknown error");
    EXPECT_EQ(out.CurrentDevice(), -1);

    char small[8];
    out.GetErrorText(small, sizeof small);
    EXPECT_STREQ(small, "CMIDI E");
}

TEST_F(MidiOutTest, LengthChoosesTheShortOrTheSystemExclusivePath) {
    CWinMIDIOut out(midi);
    ASSERT_TRUE(out.Open(1));
    const std::uint8_t cc[4] = {0xB2, 0x07, 0x42, 0};
    const std::uint8_t stop[4] = {0xFC, 0, 0, 0};
    const std::uint8_t select[4] = {0xF3, 0x05, 0, 0};
    const std::uint8_t four[4] = {0xF0, 0x43, 0x10, 0xF7};
    EXPECT_TRUE(out.Send(cc, 3));
    EXPECT_TRUE(out.Send(stop, 1));
    EXPECT_TRUE(out.Send(select, 2));
    EXPECT_TRUE(out.Send(four, 4));  // four bytes are a block
    EXPECT_EQ(
        midi.SentBytes(),
        (std::vector<Bytes>{{0xB2, 0x07, 0x42}, {0xFC}, {0xF3, 0x05}, {0xF0, 0x43, 0x10, 0xF7}}));
    const auto events = midi.Events();
    EXPECT_EQ(events[1].message, 0x004207B2u);

    const std::uint8_t zeros[4] = {0, 0, 0, 0};
    EXPECT_FALSE(out.Send(zeros, 0));  // handed over as it is: no status byte
    EXPECT_EQ(out.LastError(), MIDI_INVALPARAM);
}

TEST_F(MidiOutTest, SendingOnAClosedPortFailsWithTheInvalidHandleText) {
    CWinMIDIOut out(midi);
    const std::uint8_t note[4] = {0x90, 60, 100, 0};
    EXPECT_FALSE(out.Send(note, 3));
    EXPECT_EQ(out.LastError(), MIDI_INVALHANDLE);
    EXPECT_EQ(out.GetErrorText(), "CMIDI Error:unknown");
}

platform::FakeMidiService& WithInputs(platform::FakeMidiService& midi) {
    midi.SetInputs({"Tamborex", "Keys", "Pads"});
    return midi;
}

class MidiInTest : public ::testing::Test {
  protected:
    platform::FakeMidiService midi;
    std::vector<std::uint32_t> received;
    CWinMIDIIn in{WithInputs(midi),
                  [this](std::uint32_t m, std::uint32_t) { received.push_back(m); }};
};

TEST_F(MidiInTest, OpenStartsAtOnceAndStartAgainIsAlreadyActive) {
    EXPECT_EQ(in.DeviceCount(), 3u);
    ASSERT_TRUE(in.Open(1));
    EXPECT_TRUE(in.Started());
    EXPECT_TRUE(midi.Inject(midi.InputOnDevice(1), 0xF8));
    EXPECT_EQ(received, (std::vector<std::uint32_t>{0xF8}));
    EXPECT_FALSE(in.Start());
    EXPECT_EQ(in.GetErrorText(), "CMIDI Error:Already active");
}

TEST_F(MidiInTest, AfterStopAnOpenDoesNotStartUntilStartIsCalled) {
    ASSERT_TRUE(in.Open(1));
    EXPECT_TRUE(in.Stop());
    EXPECT_TRUE(in.Stop());  // not started: nothing to do
    ASSERT_TRUE(in.Open(2));
    EXPECT_FALSE(in.Started());
    EXPECT_EQ(midi.InputOnDevice(1), platform::kNoHandle);
    EXPECT_FALSE(midi.Inject(midi.InputOnDevice(2), 0xF8));
    EXPECT_TRUE(in.Start());
    EXPECT_TRUE(midi.Inject(midi.InputOnDevice(2), 0xFA));
    EXPECT_EQ(received, (std::vector<std::uint32_t>{0xFA}));
}

TEST_F(MidiInTest, FailuresAreKeptAndAFailedStartLeavesInputStopped) {
    EXPECT_FALSE(in.Open(-1));  // handed to the platform, which refuses it
    EXPECT_EQ(in.GetErrorText(), "CMIDI Error:Bad device ID");
    midi.FailNext(Call::StartInput, platform::MidiResult::NoMemory);
    EXPECT_FALSE(in.Open(1));
    EXPECT_EQ(in.CurrentDevice(), 1);  // open, but not running
    EXPECT_FALSE(in.Started());
    EXPECT_EQ(in.GetErrorText(), "CMIDI Error:Out of memory");
}

}  // namespace
