#include "stick_lines.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Kind = StickCommand::Kind;

TEST(StickLineReader, ReadsEachCommandOfCompleteLinesInOrder) {
    StickLineReader reader;
    const std::vector<StickCommand> expected = {
        {Kind::Button, 0, 1}, {Kind::Axis, 2, -100}, {Kind::Button, 0, 0},
        {Kind::Plug, 0, 0},   {Kind::Plug, 0, 1},    {Kind::Axis, 5, 32767},
    };
    EXPECT_EQ(reader.Feed("b 0 down\na 2 -100\nb 0 up s 0 out\ns 0 in\n"
                          "x 1 2\na 1 far\na 5 32767\n"),
              expected);
}

TEST(StickLineReader, ALineSplitAcrossReadsIsTheCommandTyped) {
    StickLineReader reader;
    EXPECT_TRUE(reader.Feed("a 0 327").empty());
    EXPECT_TRUE(reader.Feed("67").empty());  // no newline yet: it may go on
    const std::vector<StickCommand> expected = {{Kind::Axis, 0, 32767}, {Kind::Button, 3, 1}};
    EXPECT_EQ(reader.Feed("\nb 3 do"), (std::vector<StickCommand>{expected[0]}));
    EXPECT_EQ(reader.Feed("wn\n"), (std::vector<StickCommand>{expected[1]}));
}

TEST(StickLineReader, AxisPositionsAreLimitedToTheStick) {
    StickLineReader reader;
    const std::vector<StickCommand> expected = {{Kind::Axis, 0, 32767}, {Kind::Axis, 1, -32768}};
    EXPECT_EQ(reader.Feed("a 0 100000\na 1 -40000\n"), expected);
}

TEST(StickLineReader, AnOverlongLineIsPassedOverWholeAndTheNextIsRead) {
    StickLineReader reader;
    const std::string filler(3000, ' ');
    EXPECT_TRUE(reader.Feed("b 0 " + filler).empty());
    EXPECT_TRUE(reader.Feed(filler).empty());
    EXPECT_TRUE(reader.Feed(" down\n").empty());  // what remained of it is not a command
    const std::vector<StickCommand> expected = {{Kind::Button, 1, 1}};
    EXPECT_EQ(reader.Feed("b 1 down\n"), expected);
}

}  // namespace
