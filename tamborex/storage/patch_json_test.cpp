#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>

#include "tamborex/storage/archive.h"
#include "tamborex/storage/json_locations.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/storage/patch_io.h"
#include "tamborex/storage/patch_json.h"
#include "tamborex/storage/port_names.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Json = nlohmann::ordered_json;
using testing::HasSubstr;

Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Export(const Bytes& bytes) {
    std::string json;
    EXPECT_EQ(PatchFileToJson(bytes, json), "");
    return json;
}

Bytes Import(std::string_view json) {
    Bytes bytes;
    std::vector<CPatchJsonProblem> problems;
    EXPECT_TRUE(PatchFileFromJson(json, bytes, problems))
        << (problems.empty() ? "" : problems[0].key + ": " + problems[0].what);
    return bytes;
}

std::vector<CPatchJsonProblem> Refusals(std::string_view json) {
    Bytes bytes;
    std::vector<CPatchJsonProblem> problems;
    EXPECT_FALSE(PatchFileFromJson(json, bytes, problems));
    EXPECT_TRUE(bytes.empty());
    return problems;
}

std::string LineOf(std::string_view text, std::size_t line) {
    std::size_t start = 0;
    for (std::size_t n = 1; n < line && start != std::string_view::npos; ++n) {
        start = text.find('\n', start);
        start = start == std::string_view::npos ? start : start + 1;
    }
    if (start == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(start, text.find('\n', start) - start));
}

// Two slots with something other than the default in each kind of field.
std::array<CPatch, 2> BusySlots() {
    std::array<CPatch, 2> slots;
    CPatch& p = slots[0];
    p.active = 1;
    p.joystickNumber = 3;
    p.joystickSensitivity = 7;
    p.outputDevice = 2;
    p.pollIntervalCode = 4;
    p.axes[0].controller = 9;  // controller 7
    p.axes[0].channel = 3;
    p.axes[0].min = 10;
    p.axes[0].max = 100;
    p.axes[0].reversePolarity = 1;
    p.axes[1].controller = kSelectPitchBend;
    p.axes[1].fullRange = 1;
    p.axes[2].controller = kSelectNrpnCoarse;
    p.axes[2].nrpnMsb = 1;
    p.axes[2].nrpnLsb = 8;
    p.axes[2].minimumMovement = 5;
    p.buttons[0].mode = MODE_NOTE;
    p.buttons[0].data1 = 60;
    p.buttons[0].data2 = 100;
    p.buttons[0].channel = 9;
    p.buttons[1].mode = MODE_ARPEGGIATOR;
    p.buttons[1].notes = {60, 62, 64, 65, 67, 69, 71, 72};
    p.buttons[1].velocities = {1, 2, 3, 4, 5, 6, 7, 8};
    p.buttons[1].times = {1, 2, 3, 4, 5, 6, 7, 1000};
    p.buttons[1].stepCount = 8;
    p.buttons[1].autoArpeggiation = 1;
    const std::uint8_t message[] = {0xF0, 0x43, 0x10, 0x4C, 0xF7};
    std::copy(std::begin(message), std::end(message), p.sysEx->buffers[1].begin());
    p.sysEx->lengths[1] = 5;
    p.sysExCount = 3;
    CPatchMarks marks;
    marks.outputPort = "FLUID Synth:Synth input port";
    marks.controllerName = "Logitech Extreme 3D";
    marks.gamepadLayout = true;
    WritePatchMarks(p, marks);
    slots[1].joystickNumber = 1;
    slots[1].buttons[31].mode = MODE_PATCH_CHANGE;
    slots[1].buttons[31].data1 = 127;
    return slots;
}

TEST(PatchJson, CorpusPatchesComeBackByteForByte) {
    int patches = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(TBX_FUZZ_CORPUS) / "patch")) {
        const Bytes file = ReadBytes(entry.path());
        const std::string json = Export(file);
        EXPECT_EQ(Import(json), file) << entry.path();
        EXPECT_EQ(PatchFileTextLosses(file), "") << entry.path();
        ++patches;
    }
    EXPECT_GE(patches, 5);
    const Bytes busy = FormatPatchFile("Busy", BusySlots());
    EXPECT_EQ(Import(Export(busy)), busy);
}

TEST(PatchJson, KeysAndValuesAreThePublishedOnes) {
    const Json root = Json::parse(Export(FormatPatchFile("Lead \xE2\x99\xAA", BusySlots())));
    auto keys = [](const Json& object) {
        std::vector<std::string> names;
        for (auto it = object.begin(); it != object.end(); ++it) {
            names.push_back(it.key());
        }
        return names;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(keys(root), (V{"name", "slots"}));
    EXPECT_EQ(root["name"], "Lead \xE2\x99\xAA");
    ASSERT_EQ(root["slots"].size(), 2u);
    const Json& slot = root["slots"][0];
    EXPECT_EQ(keys(slot), (V{"active", "joystick", "sensitivity", "outputDevice", "pollInterval",
                             "marks", "axes", "buttons", "sysex"}));
    EXPECT_EQ(slot["active"], true);
    EXPECT_EQ(slot["joystick"], 3);
    EXPECT_EQ(slot["sensitivity"], 7);
    EXPECT_EQ(slot["outputDevice"], 2);
    EXPECT_EQ(slot["pollInterval"], 4);
    EXPECT_EQ(slot["marks"], Json::parse(R"({"outputPort": "FLUID Synth:Synth input port",
        "controllerName": "Logitech Extreme 3D", "gamepadLayout": true})"));
    ASSERT_EQ(slot["axes"].size(), 6u);
    const Json& x = slot["axes"][0];
    EXPECT_EQ(keys(x), (V{"controller", "channel", "min", "max", "reverse", "fullRange", "nrpnMsb",
                          "nrpnLsb", "minimumMovement"}));
    EXPECT_EQ(x["controller"], 7);
    EXPECT_EQ(x["channel"], 3);
    EXPECT_EQ(x["min"], 10);
    EXPECT_EQ(x["max"], 100);
    EXPECT_EQ(x["reverse"], true);
    EXPECT_EQ(x["fullRange"], false);
    EXPECT_EQ(slot["axes"][1]["controller"], "pitchBend");
    EXPECT_EQ(slot["axes"][1]["fullRange"], true);
    EXPECT_EQ(slot["axes"][2]["controller"], 99);
    EXPECT_EQ(slot["axes"][2]["nrpnLsb"], 8);
    EXPECT_EQ(slot["axes"][2]["minimumMovement"], 5);
    EXPECT_EQ(slot["axes"][3]["controller"], "none");
    ASSERT_EQ(slot["buttons"].size(), 32u);
    const Json& arp = slot["buttons"][1];
    EXPECT_EQ(keys(arp), (V{"mode", "data1", "data2", "channel", "notes", "velocities", "times",
                            "steps", "auto"}));
    EXPECT_EQ(arp["mode"], MODE_ARPEGGIATOR);
    EXPECT_EQ(arp["notes"], Json::parse("[60, 62, 64, 65, 67, 69, 71, 72]"));
    EXPECT_EQ(arp["times"][7], 1000);
    EXPECT_EQ(arp["steps"], 8);
    EXPECT_EQ(arp["auto"], true);
    EXPECT_EQ(slot["buttons"][0]["data1"], 60);
    EXPECT_EQ(slot["buttons"][0]["channel"], 9);
    EXPECT_EQ(slot["sysex"], Json::parse(R"(["F0 F7", "F0 43 10 4C F7", "F0 F7"])"));
    EXPECT_EQ(root["slots"][1]["buttons"][31]["data1"], 127);
}

// A text written by hand, not by the exporter, gives the bytes of the same patch built in memory.
TEST(PatchJson, HandWrittenTextGivesTheFileOfThatPatch) {
    std::string buttons;
    for (int b = 0; b < kButtonCount; ++b) {
        buttons += std::string(b == 0 ? "" : ",\n") +
                   (b == 4 ? R"({"mode": 9, "data1": 0, "data2": 0, "channel": 2,)"
                           : R"({"mode": 0, "data1": 0, "data2": 0, "channel": 0,)") +
                   R"( "notes": [36, 36, 36, 36, 36, 36, 36, 36],
                       "velocities": [127, 127, 127, 127, 127, 127, 127, 127],
                       "times": [6, 6, 6, 6, 6, 6, 6, 6], "steps": 1, "auto": false})";
    }
    std::string axes;
    for (int a = 0; a < kAxisCount; ++a) {
        axes += std::string(a == 0 ? "" : ",\n") +
                (a == 5 ? R"({"controller": 1, "channel": 15, "min": 20, "max": 90,)"
                        : R"({"controller": "none", "channel": 0, "min": 0, "max": 127,)") +
                R"( "reverse": false, "fullRange": false, "nrpnMsb": 0, "nrpnLsb": 0,
                    "minimumMovement": 2})";
    }
    auto slot = [&](const char* head, const char* sysex) {
        return std::string("{") + head + R"(, "joystick": 0, "sensitivity": 2,
            "outputDevice": -1, "pollInterval": 1, "axes": [)" +
               axes + "], \"buttons\": [" + buttons + "], \"sysex\": " + sysex + "}";
    };
    const std::string text = "{\"name\": \"Hand\", \"slots\": [" +
                             slot(R"("active": true)", R"(["f07e7f0901f7"])") + ",\n" +
                             slot(R"("active": false)", "[]") + "]}";

    std::array<CPatch, 2> slots;
    for (CPatch& p : slots) {
        p.axes[5].controller = 3;  // controller 1
        p.axes[5].channel = 15;
        p.axes[5].min = 20;
        p.axes[5].max = 90;
        p.buttons[4].mode = MODE_SUSTAIN;
        p.buttons[4].channel = 2;
    }
    slots[0].active = 1;
    slots[0].sysExCount = 1;
    const std::uint8_t message[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    std::copy(std::begin(message), std::end(message), slots[0].sysEx->buffers[0].begin());
    slots[0].sysEx->lengths[0] = 6;
    slots[1].sysExCount = 0;
    EXPECT_EQ(Import(text), FormatPatchFile("Hand", slots));
}

// Each fault is named by its key's path and found on the line the path gives.
TEST(PatchJson, EveryRefusalNamesItsKeyAndLine) {
    const std::string good = Export(FormatPatchFile("Busy", BusySlots()));
    struct Case {
        std::function<void(Json&)> edit;
        std::string key;
        std::string onLine;  // what the line named holds
        std::string says;
    };
    const std::vector<Case> cases = {
        {[](Json& j) { j["slots"][1]["axes"][3]["channel"] = 16; }, "slots[1].axes[3].channel",
         "\"channel\": 16", "from 0 to 15, not 16"},
        {[](Json& j) { j["slots"][0]["axes"][0]["controller"] = 128; },
         "slots[0].axes[0].controller", "128", "from 0 to 127"},
        {[](Json& j) { j["slots"][0]["axes"][0]["controller"] = "modulation"; },
         "slots[0].axes[0].controller", "modulation", "\"pitchBend\""},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["min"] = 100, j["slots"][0]["axes"][1]["max"] = 20;
         },
         "slots[0].axes[1].min", "\"min\": 100", "above max"},
        {[](Json& j) { j["slots"][0]["active"] = 1; }, "slots[0].active", "\"active\": 1",
         "true or false"},
        {[](Json& j) { j["slots"][0]["buttons"][2]["notes"].erase(0); },
         "slots[0].buttons[2].notes", "\"notes\"", "must hold 8 numbers, not 7"},
        {[](Json& j) { j["slots"][0]["buttons"][2]["notes"][3] = 200; },
         "slots[0].buttons[2].notes[3]", "200", "not 200"},
        {[](Json& j) { j["slots"][1]["buttons"][31]["mode"] = 22; }, "slots[1].buttons[31].mode",
         "\"mode\": 22", "from 0 to 21"},
        {[](Json& j) { j["slots"][0]["buttons"][5]["steps"] = 0; }, "slots[0].buttons[5].steps",
         "\"steps\": 0", "from 1 to 8"},
        {[](Json& j) { j["slots"][0]["buttons"][5]["times"][0] = -1; },
         "slots[0].buttons[5].times[0]", "-1", "not -1"},
        {[](Json& j) { j["slots"][0]["buttons"][6]["data1"] = 1.5; }, "slots[0].buttons[6].data1",
         "1.5", "whole number"},
        {[](Json& j) { j["slots"][0]["buttons"][6]["channel"] = 18446744073709551615u; },
         "slots[0].buttons[6].channel", "18446744073709551615", "from 0 to 15"},
        {[](Json& j) { j["slots"][0]["axes"][2]["chanel"] = 1; }, "slots[0].axes[2].chanel",
         "\"chanel\"", "unknown key"},
        {[](Json& j) { j["slots"][0]["two words"] = 1; }, "slots[0][\"two words\"]",
         "\"two words\"", "unknown key"},
        {[](Json& j) { j["slots"][0].erase("sysex"); }, "slots[0].sysex", "{", "missing"},
        {[](Json& j) {
             j["slots"][0]["sysex"].push_back("F0 F7"), j["slots"][0]["sysex"].push_back("F0 F7");
         },
         "slots[0].sysex", "\"sysex\"", "must hold 0 to 4 messages, not 5"},
        {[](Json& j) { j["slots"][0]["unusedSysex"] = Json::array({"F0 F7"}); },
         "slots[0].unusedSysex", "\"unusedSysex\"", "four messages"},
        {[](Json& j) { j["slots"][0]["sysex"][1] = "F0 1 F7"; }, "slots[0].sysex[1]", "F0 1 F7",
         "not a hexadecimal digit"},
        {[](Json& j) { j["slots"][0]["sysex"][1] = "F0 7"; }, "slots[0].sysex[1]", "F0 7",
         "half a byte"},
        {[](Json& j) {
             std::string message = "F0";
             for (int i = 0; i < 255; ++i) {
                 message += " 00";
             }
             j["slots"][0]["sysex"][1] = message + " F7";
         },
         "slots[0].sysex[1]", "F0 00 00", "257 bytes"},
        {[](Json& j) { j["slots"][0]["axes"].erase(5); }, "slots[0].axes", "\"axes\"", "6 axes"},
        {[](Json& j) { j["slots"].push_back(j["slots"][0]); }, "slots", "\"slots\"",
         "2 slots, not 3"},
        {[](Json& j) { j["slots"][0]["version"] = 4; }, "slots[0].axes[4].minimumMovement",
         "\"minimumMovement\"", "version 4 keeps no minimum movement"},
        {[](Json& j) { j["slots"][0]["version"] = 6; }, "slots[0].version", "\"version\": 6",
         "from 1 to 5"},
        {[](Json& j) { j.erase("name"); }, "name", "{", "missing"},
        {[](Json& j) { j["nameBytes"] = "41"; }, "nameBytes", "\"nameBytes\"", "either"},
        {[](Json& j) { j["slots"][0]["marks"]["controllerName"] = std::string(300, 'x'); },
         "slots[0].marks.controllerName", "xxx", "does not fit"},
        {[](Json& j) { j["slots"][0]["marks"]["gamepadLayout"] = "yes"; },
         "slots[0].marks.gamepadLayout", "yes", "true or false"},
        {[](Json& j) { j["slots"][1].erase("marks"), j["slots"][1]["reserved"] = "00 00"; },
         "slots[1].reserved", "\"reserved\"", "256 bytes, not 2"},
        {[](Json& j) { j["slots"][1]["buttons"][0] = 5; }, "slots[1].buttons[0]", "5", "an object"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"deadZone", {0, 5, 5}}};
         },
         "slots[0].axes[1].shape.deadZone", "\"deadZone\"", "must hold 4 percentages"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"deadZone", {0, 5, 101, 0}}};
         },
         "slots[0].axes[1].shape.deadZone[2]", "101", "from 0 to 100"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"curve", "cubic"}};
         },
         "slots[0].axes[1].shape.curve", "cubic", "\"logarithmic\", \"s\", \"points\""},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"points", {{0.2, 0.1}, {0.5, 0.5}, {0.4, 0.9}}}};
         },
         "slots[0].axes[1].shape.points[2]", "", "right of the point before it (x above 0.5)"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"points", {{0.2, 1.5}}}};
         },
         "slots[0].axes[1].shape.points[0][1]", "1.5", "from 0 to 1"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"resolution", 8}};
         },
         "slots[0].axes[1].shape.resolution", "8", "7 or 14"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"calibration", {{"min", 900}, {"max", 900}}}};
         },
         "slots[0].axes[1].shape.calibration.min", "900", "below max"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"calibration", {{"centre", 70000}}}};
         },
         "slots[0].axes[1].shape.calibration.centre", "70000", "from 0 to 65535"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"smoothing", {{"cutoff", 1}}}};
         },
         "slots[0].axes[1].shape.smoothing.cutoff", "cutoff", "minCutoff, beta"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"lsbController", 128}};
         },
         "slots[0].axes[1].shape.lsbController", "128", "from -1 to 127"},
        {[](Json& j) {
             j["slots"][0]["axes"][1]["shape"] = {{"strength", "strong"}};
         },
         "slots[0].axes[1].shape.strength", "strong", "a number from 0 to 1"},
    };
    for (const Case& c : cases) {
        Json j = Json::parse(good);
        c.edit(j);
        const std::string text = j.dump(2);
        const std::vector<CPatchJsonProblem> problems = Refusals(text);
        ASSERT_FALSE(problems.empty()) << c.key;
        const auto named = std::find_if(problems.begin(), problems.end(),
                                        [&](const auto& p) { return p.key == c.key; });
        ASSERT_NE(named, problems.end()) << c.key << " not named; first: " << problems[0].key;
        EXPECT_THAT(LineOf(text, named->line), HasSubstr(c.onLine)) << c.key;
        EXPECT_THAT(named->what, HasSubstr(c.says)) << c.key;
        for (const CPatchJsonProblem& p : problems) {
            EXPECT_FALSE(p.key.empty()) << c.key << ": " << p.what;
        }
    }
}

TEST(PatchJson, TextThatIsNotAPatchIsRefusedWithItsLine) {
    const std::vector<CPatchJsonProblem> syntax =
        Refusals("{\n  \"name\": \"x\",\n  \"slots\": [\n}\n");
    ASSERT_EQ(syntax.size(), 1u);
    EXPECT_EQ(syntax[0].line, 4u);
    EXPECT_THAT(syntax[0].what, HasSubstr("not valid JSON"));
    EXPECT_THAT(syntax[0].what, testing::Not(HasSubstr("json.exception")));
    EXPECT_EQ(Refusals("").at(0).line, 1u);
    EXPECT_EQ(Refusals("{\"name\": \"x\",\n\n\"slots\": [").at(0).line, 3u);
    EXPECT_EQ(Refusals("{\"name\": \"\xE9\"}").at(0).what.substr(0, 14), "not valid JSON");

    const std::vector<CPatchJsonProblem> list = Refusals("[1, 2]");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_THAT(list[0].what, HasSubstr("must be a patch file"));

    // Repeats are refused rather than one of them silently winning.
    std::string text = Export(FormatPatchFile("Twice", BusySlots()));
    const std::size_t active = text.find("\"active\": true");
    text.insert(active, "\"active\": false,\n");
    const std::vector<CPatchJsonProblem> twice = Refusals(text);
    ASSERT_EQ(twice.size(), 1u);
    EXPECT_EQ(twice[0].key, "slots[0].active");
    EXPECT_EQ(LineOf(text, twice[0].line), "\"active\": true,");
    EXPECT_THAT(twice[0].what, HasSubstr("twice"));
}

TEST(PatchJson, HugeNumbersAndDeepNestingAreRefusedWhereTheyAre) {
    // A number no double holds: its own line and key, not the start of the text.
    std::string text = Export(FormatPatchFile("Huge", BusySlots()));
    const std::size_t channel = text.find("\"channel\"", text.find("\"axes\""));
    const std::size_t value = text.find(':', channel) + 2;
    text.replace(value, text.find(',', value) - value, "1e999");
    const std::size_t line = LineAtOffset(text, value);
    const std::vector<CPatchJsonProblem> huge = Refusals(text);
    ASSERT_EQ(huge.size(), 1u);
    EXPECT_EQ(huge[0].line, line);
    EXPECT_EQ(huge[0].key, "slots[0].axes[0].channel");
    EXPECT_THAT(huge[0].what, HasSubstr("too large"));
    EXPECT_THAT(huge[0].what, testing::Not(HasSubstr("json.exception")));
    const std::vector<CPatchJsonProblem> inList = Refusals("{\"slots\": [0,\n -2e400]}");
    ASSERT_EQ(inList.size(), 1u);
    EXPECT_EQ(inList[0].line, 2u);
    EXPECT_EQ(inList[0].key, "slots[1]");

    // A nesting bomb, balanced or not, where a value belongs or at the top: refused at the
    // bracket that goes too deep, before anything is built from it.
    const std::string bomb(100000, '[');
    for (const std::string& deep :
         {bomb, bomb + std::string(100000, ']'),
          "{\"name\": \"x\",\n\"slots\": [{\"axes\": [{\"channel\": " + bomb + "}]}]}"}) {
        const std::vector<CPatchJsonProblem> refused = Refusals(deep);
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_THAT(refused[0].what, HasSubstr("nested more than 32 deep"));
    }
    const std::vector<CPatchJsonProblem> inAxis =
        Refusals("{\"name\": \"x\",\n\"slots\": [{\"axes\": [{\"channel\": " + bomb + "}]}]}");
    EXPECT_EQ(inAxis[0].line, 2u);
    EXPECT_THAT(inAxis[0].key, testing::StartsWith("slots[0].axes[0].channel[0][0]"));
    // Brackets inside strings are text, not nesting; 32 deep is still read.
    EXPECT_EQ(Refusals("{\"name\": \"" + bomb + "\"}").at(0).key, "slots");
    std::string deepest = std::string(31, '[') + std::string(31, ']');
    EXPECT_THAT(Refusals("{\"slots\": " + deepest + "}").at(0).what,
                testing::Not(HasSubstr("nested")));
}

TEST(PatchJson, WhatMarksAndTextCannotSayGoesAsBytes) {
    std::array<CPatch, 2> slots = BusySlots();
    // A block of a later version's records, or of anything else: kept whole.
    slots[1].reserved[0] = 'Z';
    slots[1].reserved[200] = 0xFF;
    // A port name too long for the block is kept cut, with its key.
    CPatchMarks marks;
    marks.outputPort = std::string(300, 'p');
    marks.controllerName = "pad";
    WritePatchMarks(slots[0], marks);
    const std::string latin1Name = "D\xE9j\xE0 vu";
    const Bytes file = FormatPatchFile(latin1Name, slots);
    const std::string text = Export(file);
    const Json root = Json::parse(text);
    EXPECT_FALSE(root.contains("name"));
    EXPECT_EQ(root["nameBytes"], "44 E9 6A E0 20 76 75");
    EXPECT_TRUE(root["slots"][0]["marks"].contains("outputPortKey"));
    EXPECT_FALSE(root["slots"][1].contains("marks"));
    EXPECT_THAT(root["slots"][1]["reserved"].get<std::string>(), testing::StartsWith("5A 00"));
    EXPECT_EQ(Import(text), file);
}

TEST(PatchJson, OlderLayoutsAndRuntimeFieldsComeBackAsTheyWere) {
    std::array<CPatch, 2> slots = BusySlots();
    slots[0].axes[4].value = 77;
    slots[0].buttons[1].currentStep = 5;
    slots[0].buttons[1].pressed = 1;
    const Bytes current = FormatPatchFile("Run", slots);
    const Json root = Json::parse(Export(current));
    EXPECT_EQ(root["slots"][0]["axes"][4]["value"], 77);
    EXPECT_EQ(root["slots"][0]["buttons"][1]["currentStep"], 5);
    EXPECT_EQ(root["slots"][0]["buttons"][1]["pressed"], 1);
    EXPECT_FALSE(root["slots"][0]["axes"][3].contains("value"));
    EXPECT_FALSE(root["slots"][0]["buttons"][2].contains("currentStep"));
    EXPECT_EQ(Import(root.dump()), current);

    // Slots of versions 3 and 1, as older Tamborex wrote them: no NRPN numbers, no minimum
    // movement, and in version 1 no system-exclusive messages.
    CByteWriter out;
    out.WriteString("Old");
    StorePatch(slots[0], out, 3);
    StorePatch(slots[1], out, 1);
    const Bytes old = out.Bytes();
    const std::string text = Export(old);
    Json oldRoot = Json::parse(text);
    Json& v3 = oldRoot["slots"][0];
    EXPECT_EQ(v3["version"], 3);
    EXPECT_FALSE(v3["axes"][2].contains("nrpnMsb"));
    EXPECT_FALSE(v3["axes"][2].contains("minimumMovement"));
    EXPECT_TRUE(v3.contains("sysex"));
    EXPECT_EQ(oldRoot["slots"][1]["version"], 1);
    EXPECT_FALSE(oldRoot["slots"][1].contains("sysex"));
    EXPECT_EQ(Import(text), old);

    // Without its version a slot is written in the current layout, and reads as the old one did.
    oldRoot["slots"][1].erase("version");
    oldRoot["slots"][1]["sysex"] = Json::array();
    for (Json& axis : oldRoot["slots"][1]["axes"]) {
        axis["nrpnMsb"] = 0;
        axis["nrpnLsb"] = 0;
        axis["minimumMovement"] = 2;
    }
    std::string name;
    std::array<CPatch, 2> fromOld;
    std::array<CPatch, 2> fromNew;
    ASSERT_EQ(ReadPatchFile(old, name, fromOld), "");
    ASSERT_EQ(ReadPatchFile(Import(oldRoot.dump()), name, fromNew), "");
    fromOld[1].sysExCount = 0;  // version 1 has none; the default four stay in memory
    EXPECT_EQ(FormatPatchFile(name, fromNew)[0], FormatPatchFile(name, fromOld)[0]);
    CByteWriter a;
    CByteWriter b;
    StorePatch(fromOld[1], a);
    StorePatch(fromNew[1], b);
    EXPECT_EQ(a.Bytes(), b.Bytes());
}

TEST(PatchJson, WhatTheTextCannotGiveBackIsSaid) {
    const Bytes file = FormatPatchFile("Whole", BusySlots());
    EXPECT_EQ(PatchFileTextLosses(file), "");
    const Bytes cut(file.begin(), file.end() - 400);
    EXPECT_THAT(PatchFileTextLosses(cut), HasSubstr("It ends 400 bytes early"));
    Bytes longer = file;
    longer.insert(longer.end(), {1, 2, 3});
    EXPECT_THAT(PatchFileTextLosses(longer), HasSubstr("3 bytes after its patches"));
    std::array<CPatch, 2> damaged = BusySlots();
    damaged[1].axes[0].channel = 16;
    EXPECT_THAT(PatchFileTextLosses(FormatPatchFile("Damaged", damaged)),
                HasSubstr("slots[1].axes[0].channel"));
    damaged[1].axes[0].channel = 0;
    damaged[0].active = 2;  // read as on, written back as 1
    EXPECT_THAT(PatchFileTextLosses(FormatPatchFile("Damaged", damaged)),
                HasSubstr("differently from byte 12"));

    // What the reader refuses, the exporter refuses with its words.
    std::string json = "untouched";
    EXPECT_EQ(PatchFileToJson(Bytes{}, json), "Error opening patch file.");
    EXPECT_EQ(json, "untouched");

    // Bytes Tamborex would load, but that are no patch file: refused, not shown as a patch.
    const std::string text = Export(file);
    std::string notes;  // a text file: its first letter read as the name's length, and on
    for (int line = 0; line < 20; ++line) {
        notes += "root:x:0:0:root:/root:/bin/bash\n";
    }
    const Bytes bank{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0};  // as a bank begins
    Bytes secondBad = file;  // the second block's version, just past the first block
    CByteWriter firstBlock;
    firstBlock.WriteString("Whole");
    StorePatch(BusySlots()[0], firstBlock);
    secondBad[firstBlock.Bytes().size()] = 9;
    for (const auto& [bytes, why] : std::vector<std::pair<Bytes, std::string>>{
             {Bytes(text.begin(), text.end()), "looks like JSON text: --import-patch"},
             {Bytes(notes.begin(), notes.end()), "Patch 1 would have version"},
             {bank, "Patch 1 would have version -16777216"},
             {Bytes{5, 'W', 'h', 'o', 'l', 'e'}, "It ends before its first patch."},
             {secondBad, "Patch 2 would have version 9"}}) {
        SCOPED_TRACE(why);
        EXPECT_THAT(PatchFileToJson(bytes, json), HasSubstr(why));
        EXPECT_EQ(json, "untouched");
    }
    // A patch cut inside its second block is still one.
    EXPECT_EQ(
        PatchFileToJson(Bytes(file.begin(), file.begin() + firstBlock.Bytes().size() + 2), json),
        "");
}

// A slot with two shaped axes, one with every setting away from its default.
std::array<CPatch, 2> ShapedSlots() {
    std::array<CPatch, 2> slots = BusySlots();
    AxisShape& s = slots[0].axes[1].shape;
    s.calibration = {1000, 30000, 64000};
    s.deadZone = {1.5, 4.0, 4.0, 0.25};
    s.invert = true;
    s.curve = CurveKind::Points;
    s.strength = 0.3;
    s.points[0] = {0.0, 0.0};
    s.points[1] = {0.3, 0.1 + 0.2};  // not a short decimal: the text keeps every bit
    s.points[2] = {1.0, 1.0};
    s.pointCount = 3;
    s.smoothing = {1.0, 20.0};
    s.hysteresis = 2;
    s.resolution = 14;
    s.lsbController = 40;
    s.lsbOnlyWhenMsbUnchanged = true;
    s.nrpnNull = true;
    ApplyShapePreset(slots[1].axes[5].shape, ShapePreset::Trigger);
    return slots;
}

TEST(PatchJson, ShapesComeBackUnderThePublishedKeys) {
    const Bytes file = FormatPatchFile("Shaped", ShapedSlots());
    const std::string text = Export(file);
    const Json root = Json::parse(text);
    const Json& shape = root["slots"][0]["axes"][1]["shape"];
    std::vector<std::string> keys;
    for (auto it = shape.begin(); it != shape.end(); ++it) {
        keys.push_back(it.key());
    }
    EXPECT_EQ(keys,
              (std::vector<std::string>{"calibration", "deadZone", "invert", "curve", "strength",
                                        "points", "smoothing", "hysteresis", "resolution",
                                        "lsbController", "lsbOnlyWhenMsbUnchanged", "nrpnNull"}));
    EXPECT_EQ(shape["calibration"], Json::parse(R"({"min": 1000, "centre": 30000, "max": 64000})"));
    EXPECT_EQ(shape["deadZone"], Json::parse("[1.5, 4.0, 4.0, 0.25]"));
    EXPECT_EQ(shape["curve"], "points");
    EXPECT_EQ(shape["points"].size(), 3u);
    EXPECT_EQ(shape["smoothing"], Json::parse(R"({"minCutoff": 1.0, "beta": 20.0})"));
    EXPECT_EQ(shape["resolution"], 14);
    EXPECT_EQ(shape["lsbController"], 40);
    EXPECT_EQ(shape["nrpnNull"], true);
    EXPECT_FALSE(root["slots"][0]["axes"][0].contains("shape"));
    EXPECT_TRUE(root["slots"][1]["axes"][5].contains("shape"));
    EXPECT_EQ(Import(text), file);

    // A shape of a few keys keeps the defaults for the rest; with no shape left, the file is the
    // published layout alone.
    Json part = root;
    part["slots"][0]["axes"][1]["shape"] = Json::parse(R"({"deadZone": [0, 10, 10, 0]})");
    std::string name;
    std::array<CPatch, 2> read;
    ASSERT_EQ(ReadPatchFile(Import(part.dump()), name, read), "");
    AxisShape expected;
    expected.deadZone = {0.0, 10.0, 10.0, 0.0};
    EXPECT_EQ(read[0].axes[1].shape, expected);
    part["slots"][0]["axes"][1].erase("shape");
    part["slots"][1]["axes"][5].erase("shape");
    EXPECT_EQ(Import(part.dump()), FormatPatchFile("Shaped", BusySlots()));
}

TEST(PatchJson, DamagedShapingIsSaidAndLeftOut) {
    Bytes file = FormatPatchFile("Shaped", ShapedSlots());
    file[file.size() - 30] ^= 0x55;  // inside the extension: its check sum no longer holds
    const Json root = Json::parse(Export(file));
    EXPECT_FALSE(root["slots"][0]["axes"][1].contains("shape"));
    EXPECT_THAT(PatchFileTextLosses(file), HasSubstr("axis shaping"));
}

TEST(JsonLocations, PathsLinesAndRepeats) {
    const std::string text =
        "{\"a\": [1,\n 2, {\"b\\\"c\": 3,\n\"d\": [[], {}]}],\n\"a\": {\"x y\": 4}}";
    const CJsonLocations where(text);
    EXPECT_EQ(where.LineOf(""), 1u);
    EXPECT_EQ(where.LineOf("a"), 1u);
    EXPECT_EQ(where.LineOf("a[1]"), 2u);
    EXPECT_EQ(where.LineOf("a[2][\"b\\\"c\"]"), 2u);
    EXPECT_EQ(where.LineOf("a[2].d"), 3u);
    EXPECT_EQ(where.LineOf("a[2].d[1]"), 3u);
    EXPECT_EQ(where.LineOf("a[\"x y\"]"), 4u);
    EXPECT_EQ(where.LineOf("nowhere"), 0u);
    ASSERT_EQ(where.Duplicates().size(), 1u);
    EXPECT_EQ(where.Duplicates()[0].path, "a");
    EXPECT_EQ(where.Duplicates()[0].line, 4u);

    // However deep or broken the text, the walk stays in it.
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_EQ(CJsonLocations(deep).LineOf(JsonPathIndex(JsonPathIndex("", 0), 0)), 1u);
    for (const char* broken : {"{\"a", "{\"a\\", "[1,", "{\"a\" 1}", "]]]", "\"\\"}) {
        (void)CJsonLocations(broken).LineOf("a");
    }
}

}  // namespace
