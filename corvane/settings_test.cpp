#include "settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace corvane {
namespace {

struct MapProfile : Profile {
    std::map<std::string, int> values;
    std::map<std::string, std::string> texts;
    std::vector<std::string> reads, writes;

    int ReadInt(const char* section, const char* key, int fallback) override {
        const std::string k = std::string(section) + "/" + key;
        reads.push_back(k);
        const auto it = values.find(k);
        return it == values.end() ? fallback : it->second;
    }
    void WriteInt(const char* section, const char* key, int value) override {
        const std::string k = std::string(section) + "/" + key;
        writes.push_back(k);
        values[k] = value;
    }
    std::string ReadText(const char* section, const char* key,
                         const std::string& fallback) override {
        const auto it = texts.find(std::string(section) + "/" + key);
        return it == texts.end() ? fallback : it->second;
    }
    void WriteText(const char* section, const char* key, const std::string& value) override {
        texts[std::string(section) + "/" + key] = value;
    }
};

TEST(Settings, AbsentProfileGivesTheDefaults) {
    MapProfile profile;
    const Settings s = ReadSettings(profile);
    EXPECT_TRUE(s.thru);
    EXPECT_EQ(s.inputDevice, 0);
    EXPECT_EQ(s.outputDevice, -1);
    EXPECT_EQ(s.channel, 0);
    EXPECT_EQ(s.sampleRate, 1);
    EXPECT_EQ(profile.reads,
              (std::vector<std::string>{"Options/Thru", "Options/DevIn", "Options/DevOut",
                                        "Options/Channel", "Options/SampleRate"}));
}

TEST(Settings, ReadValuesAreTakenAndBadOnesLimited) {
    MapProfile profile;
    profile.values = {{"Options/Thru", 7},
                      {"Options/DevIn", 3},
                      {"Options/DevOut", 2},
                      {"Options/Channel", 40},
                      {"Options/SampleRate", 3}};
    Settings s = ReadSettings(profile);
    EXPECT_TRUE(s.thru);
    EXPECT_EQ(s.inputDevice, 3);
    EXPECT_EQ(s.outputDevice, 2);
    EXPECT_EQ(s.channel, 15);
    EXPECT_EQ(s.sampleRate, 3);  // kept: no timer runs for it
    profile.values["Options/Channel"] = -2;
    profile.values["Options/Thru"] = 0;
    s = ReadSettings(profile);
    EXPECT_EQ(s.channel, 0);
    EXPECT_FALSE(s.thru);
}

TEST(Settings, AllFiveAreWrittenInOrderAndReadBack) {
    MapProfile profile;
    const Settings s{false, 2, 5, 9, 2};
    WriteSettings(profile, s);
    EXPECT_EQ(profile.writes,
              (std::vector<std::string>{"Options/Thru", "Options/DevIn", "Options/DevOut",
                                        "Options/Channel", "Options/SampleRate"}));
    EXPECT_EQ(profile.values["Options/Thru"], 0);
    EXPECT_EQ(ReadSettings(profile), s);
}

TEST(Settings, OurExtraKeysRoundTripAndOldProfilesReadAsBefore) {
    MapProfile profile;
    EXPECT_EQ(ReadExtraSettings(profile), ExtraSettings{});
    ExtraSettings extra;
    extra.inputName = "Keys";
    extra.outputName = "Synth";
    extra.midiSystem = "jack";
    extra.lowLatency = false;
    extra.joystickName = "Pad";
    extra.joystickGuid = "030000005e0400008e02000010010000";
    extra.gamepadLayout = true;
    extra.oscOut = "10.0.0.2:9000";
    extra.oscIn = "0.0.0.0:8000";
    WriteExtraSettings(profile, extra);
    EXPECT_EQ(profile.texts["Options/JoystickGuid"], extra.joystickGuid);
    EXPECT_EQ(profile.texts["Options/OscOut"], "10.0.0.2:9000");
    EXPECT_EQ(profile.texts["Options/OscIn"], "0.0.0.0:8000");
    EXPECT_EQ(ReadExtraSettings(profile), extra);
}

}  // namespace
}  // namespace corvane
