#include "tamborex/model/learned_target.h"

#include <gtest/gtest.h>

namespace {

using Result = platform::MidiLearnClassifier::Result;
using Kind = platform::MidiLearnClassifier::Kind;

Result Learnt(Kind kind, int channel, int number, int velocity = 0) {
    Result r;
    r.kind = kind;
    r.channel = channel;
    r.number = number;
    r.velocity = velocity;
    return r;
}

TEST(LearnedTarget, AnAxisTakesControllersNrpnAndBendAndRefusesNotes) {
    std::string why;
    AxisRecord axis;
    ASSERT_TRUE(ApplyLearnedToAxis(Learnt(Kind::ControlChange, 3, 7), axis, why));
    EXPECT_EQ(axis.controller, 9);  // the list's entry for controller 7
    EXPECT_EQ(axis.channel, 3);
    EXPECT_EQ(axis.shape.resolution, 7);
    ASSERT_TRUE(ApplyLearnedToAxis(Learnt(Kind::ControlChange14, 4, 1), axis, why));
    EXPECT_EQ(axis.controller, 3);
    EXPECT_EQ(axis.shape.resolution, 14);
    EXPECT_EQ(axis.shape.lsbController, -1);

    Result nrpn = Learnt(Kind::Nrpn, 5, 136);
    nrpn.parameterMsb = 1;
    nrpn.parameterLsb = 8;
    ASSERT_TRUE(ApplyLearnedToAxis(nrpn, axis, why));
    EXPECT_EQ(axis.controller, kSelectNrpnCoarse);
    EXPECT_EQ(axis.nrpnMsb, 1);
    EXPECT_EQ(axis.nrpnLsb, 8);
    EXPECT_EQ(axis.shape.resolution, 7);
    nrpn.fine = true;
    ASSERT_TRUE(ApplyLearnedToAxis(nrpn, axis, why));
    EXPECT_EQ(axis.controller, kSelectNrpnFine);
    EXPECT_EQ(axis.shape.resolution, 14);
    ASSERT_TRUE(ApplyLearnedToAxis(Learnt(Kind::PitchBend, 0, 0), axis, why));
    EXPECT_EQ(axis.controller, kSelectPitchBend);

    const AxisRecord before = axis;
    for (const Result& refused : {Learnt(Kind::Note, 1, 60, 100), Learnt(Kind::ProgramChange, 1, 5),
                                  Learnt(Kind::ControlChange, 1, 99)}) {
        why.clear();
        EXPECT_FALSE(ApplyLearnedToAxis(refused, axis, why));
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(axis.controller, before.controller);
        EXPECT_EQ(axis.channel, before.channel);
    }
}

TEST(LearnedTarget, AButtonTakesNotesPedalsAndProgramChanges) {
    std::string why;
    ButtonRecord button;
    ASSERT_TRUE(ApplyLearnedToButton(Learnt(Kind::Note, 9, 38, 90), button, why));
    EXPECT_EQ(button.mode, MODE_NOTE);
    EXPECT_EQ(button.data1, 38);
    EXPECT_EQ(button.data2, 90);
    EXPECT_EQ(button.channel, 9);
    ASSERT_TRUE(ApplyLearnedToButton(Learnt(Kind::ControlChange, 2, 66), button, why));
    EXPECT_EQ(button.mode, MODE_SOSTENUTO);
    EXPECT_EQ(button.channel, 2);
    ASSERT_TRUE(ApplyLearnedToButton(Learnt(Kind::ProgramChange, 1, 12), button, why));
    EXPECT_EQ(button.mode, MODE_PROGRAM_CHANGE);
    EXPECT_EQ(button.data1, 12);
    for (const Result& refused : {Learnt(Kind::ControlChange, 1, 7), Learnt(Kind::PitchBend, 1, 0),
                                  Learnt(Kind::ControlChange14, 1, 1)}) {
        EXPECT_FALSE(ApplyLearnedToButton(refused, button, why));
        EXPECT_EQ(button.mode, MODE_PROGRAM_CHANGE);
    }
    EXPECT_EQ(DescribeLearned(Learnt(Kind::Note, 9, 38, 90)), "Note 38 velocity 90 on channel 9");
}

}  // namespace
