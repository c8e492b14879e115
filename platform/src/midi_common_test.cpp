#include <gtest/gtest.h>

#include "platform/midi.h"

namespace platform {
namespace {

TEST(ShortMessage, PacksStatusAndDataIntoTheLowThreeBytes) {
    EXPECT_EQ(PackShortMessage(0xB0, 0x07, 0x46), 0x004607B0u);
    EXPECT_EQ(PackShortMessage(0xFC), 0x000000FCu);
}

TEST(ShortMessage, LengthFollowsTheStatusByte) {
    for (std::uint8_t kind : {0x80, 0x90, 0xA0, 0xB0, 0xE0}) {
        EXPECT_EQ(ShortMessageLength(kind | 0x05), 3) << int(kind);
    }
    EXPECT_EQ(ShortMessageLength(0xC3), 2);  // program change
    EXPECT_EQ(ShortMessageLength(0xDF), 2);  // channel pressure
    EXPECT_EQ(ShortMessageLength(0xF1), 2);  // quarter frame
    EXPECT_EQ(ShortMessageLength(0xF2), 3);  // song position
    EXPECT_EQ(ShortMessageLength(0xF3), 2);  // song select
    for (std::uint8_t status : {0xF6, 0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF}) {
        EXPECT_EQ(ShortMessageLength(status), 1) << int(status);
    }
    EXPECT_FALSE(IsShortMessageStatus(0x40));
    EXPECT_FALSE(IsShortMessageStatus(0xF0));
    EXPECT_FALSE(IsShortMessageStatus(0xF7));
    EXPECT_TRUE(IsShortMessageStatus(0xF8));
}

// Both programs find a remembered port by its name, never by an index that now means another.
TEST(RememberedPort, FollowsItsNameAndIsMissingRatherThanReplaced) {
    EXPECT_EQ(FollowPortName({"Tamborex", "Other", "Synth"}, "Synth", 1), 2);
    EXPECT_EQ(FollowPortName({"Tamborex", "Other"}, "Synth", 1), -1);
    EXPECT_EQ(FollowPortName({"Tamborex", "Other"}, "", 1), 1);  // nothing remembered
    EXPECT_EQ(FollowPortName({"Tamborex", "Synth"}, "Synth", -1), -1);
}

}  // namespace
}  // namespace platform
