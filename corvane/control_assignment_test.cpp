#include "control_assignment.h"

#include <gtest/gtest.h>

#include "fake_midi.h"
#include "midi_ports.h"

namespace corvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Scaling, WholePercentagesComeOutOneLessBecauseOfTheSinglePrecisionStep) {
    EXPECT_EQ(ControllerValue(25), 31);
    EXPECT_EQ(ControllerValue(50), 63);
    EXPECT_EQ(ControllerValue(75), 95);
    EXPECT_EQ(ControllerValue(100), 127);
    EXPECT_EQ(PitchBendValue(50), 8191);
    EXPECT_EQ(PitchBendValue(100), 16383);
    EXPECT_EQ(ControllerValue(0), 0);
}

TEST(Scaling, CurvePointsOfTheDefaultAssignment) {
    auto cc = [](int input) { return ControllerValue(CurvePercent(input, 0, 50, 100)); };
    EXPECT_EQ(cc(0), 0);
    EXPECT_EQ(cc(kInputMiddle / 2), 31);
    EXPECT_EQ(cc(kInputMiddle), 63);
    EXPECT_EQ(cc(32767), 64);  // a centred raw position lies just above the middle
    EXPECT_EQ(cc(kInputFull), 127);
    EXPECT_DOUBLE_EQ(CurvePercent(kInputFull, 0, 50, 100), 100.0);  // the upper segment ends
    auto bend = [](int input) { return PitchBendValue(CurvePercent(input, 0, 50, 100)); };
    EXPECT_EQ(bend(kInputMiddle), 8191);
    EXPECT_EQ(bend(kInputFull), 16383);
}

TEST(Scaling, LimitsReversalAndInputsOutsideTheScale) {
    // Y fully back gives -255, below min: limited at 0.
    EXPECT_EQ(ControllerValue(CurvePercent(-255, 0, 50, 100)), 0);
    EXPECT_EQ(PitchBendValue(CurvePercent(-255, 0, 50, 100)), 0);
    // Over 100 % is limited.
    EXPECT_EQ(ControllerValue(CurvePercent(kInputFull, 0, 100, 300)), 127);
    EXPECT_EQ(ControllerValue(CurvePercent(kInputMiddle, 0, 150, 300)), 127);
    EXPECT_EQ(PitchBendValue(CurvePercent(kInputFull, 0, 100, 300)), 16383);
    // min above max runs the other way.
    EXPECT_EQ(ControllerValue(CurvePercent(0, 100, 50, 0)), 127);
    EXPECT_EQ(ControllerValue(CurvePercent(kInputFull, 100, 50, 0)), 0);
    // Extreme hand-edited percentages do not overflow.
    EXPECT_EQ(ControllerValue(CurvePercent(kInputFull, INT32_MIN, 0, INT32_MAX)), 127);
}

class SendTest : public ::testing::Test {
  protected:
    SendTest() : ports(midi) {
        midi.SetOutputs({"Corvane", "Synth"});
        ports.Open(0, 1, false);
    }
    platform::FakeMidiService midi;
    MidiPorts ports;
};

TEST_F(SendTest, ControllerAndPitchBendBytesOnTheChannel) {
    ControlAssignment(7, 0, 50, 100).Send(3, kInputFull, ports);
    ControlAssignment(kTypePitchBend, 0, 50, 100).Send(3, kInputMiddle, ports);
    ControlAssignment(kTypePitchBend, 0, 50, 100).Send(15, kInputFull, ports);
    ControlAssignment().Send(0, kInputFull, ports);  // unassigned: nothing
    EXPECT_EQ(midi.SentBytes(),
              (std::vector<Bytes>{{0xB3, 7, 127}, {0xE3, 0x7F, 0x3F}, {0xEF, 0x7F, 0x7F}}));
}

TEST_F(SendTest, OutOfRangeChannelAndTypeStillGiveValidMidi) {
    ControlAssignment(200, 0, 50, 100).Send(20, kInputFull, ports);
    ControlAssignment(kTypePitchBend, 0, 50, 100).Send(-3, 0, ports);
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0xBF, 127, 127}, {0xE0, 0, 0}}));
}

TEST_F(SendTest, ResetIsOnTheFirstChannelWhateverTheSetting) {
    ports.ResetControllers();
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0xB0, 0x79, 0x00}}));
}

TEST(MidiPortsOpen, SendsBeforeOpeningAreDroppedAndThruNeedsNoInputToWork) {
    platform::FakeMidiService midi;
    midi.SetOutputs({"Corvane"});  // no input devices at all
    MidiPorts ports(midi);
    ports.SendController(0, 7, 1);
    EXPECT_TRUE(midi.Events().empty());
    ports.Open(0, kMidiMapper, true);
    EXPECT_TRUE(ports.OutputOpen());
    EXPECT_EQ(midi.DeviceOf(1), 0);  // the default output is our own port
    ports.SendController(0, 7, 1);
    ports.Close();
    ports.Close();
    ports.SendController(0, 7, 2);
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0xB0, 7, 1}}));
    EXPECT_EQ(midi.OpenOutputCount(), 0u);
}

// Notes played through the output (OSC in) end when the port closes or moves: a note held
// there would otherwise sound on until the synthesiser is reset.
TEST_F(SendTest, ClosingEndsTheNotesLeftOnAndOnlyThose) {
    const auto send = [this](Bytes message) { EXPECT_TRUE(ports.SendMessage(message)); };
    send({0x90, 60, 100});
    send({0x91, 64, 90});
    send({0x91, 64, 0});  // velocity 0 ends it
    send({0x9F, 61, 80});
    send({0x8F, 61, 0});
    send({0x92, 70, 1});
    ports.SendController(0, 7, 3);
    ports.Close();
    ports.Close();
    EXPECT_EQ(midi.SentBytes(), (std::vector<Bytes>{{0x90, 60, 100},
                                                    {0x91, 64, 90},
                                                    {0x91, 64, 0},
                                                    {0x9F, 61, 80},
                                                    {0x8F, 61, 0},
                                                    {0x92, 70, 1},
                                                    {0xB0, 7, 3},
                                                    {0x80, 60, 0},
                                                    {0x82, 70, 0}}));
    EXPECT_EQ(midi.OpenOutputCount(), 0u);
}

TEST(TypeList, HundredAndOneEntriesInTypeOrder) {
    const auto& list = TypeListLabels();
    ASSERT_EQ(list.size(), 101u);
    EXPECT_EQ(list[0], "<not assigned>");
    EXPECT_EQ(list[1], "Pitch Bend");
    EXPECT_EQ(list[2], "1 - Modulation");
    EXPECT_EQ(list[4], "3");
    EXPECT_EQ(list[8], "7 - Main Volume");
    EXPECT_EQ(list[65], "64 - Sustain");
    EXPECT_EQ(list[70], "69");
    EXPECT_EQ(list[100], "99 - NRPN MSB");
    int named = 0;
    for (const auto& label : list) {
        named += label.find(" - ") != std::string::npos;
    }
    EXPECT_EQ(named, 24);
}

}  // namespace
}  // namespace corvane
