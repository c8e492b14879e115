#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tamborex/storage/archive.h"
#include "tamborex/storage/patch_file.h"
#include "tamborex/storage/patch_io.h"
#include "tamborex/storage/port_names.h"
#include "tamborex/storage/sysex_text.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::int32_t IntAt(const Bytes& bytes, std::size_t offset) {
    std::int32_t v;
    std::memcpy(&v, bytes.data() + offset, 4);
    return v;
}

std::array<CPatch, 2> NewSlots() {
    std::array<CPatch, 2> slots;
    slots[1].joystickNumber = 1;
    return slots;
}

TEST(PatchFile, NewPatchHasTheExactLayout) {
    const Bytes file = FormatPatchFile("Lead", NewSlots());
    ASSERT_EQ(file.size(), 1u + 4u + 2u * 4648u);
    EXPECT_EQ(file[0], 4);
    EXPECT_EQ(std::string(file.begin() + 1, file.begin() + 5), "Lead");
    for (int slot = 0; slot < 2; ++slot) {
        const std::size_t b = 5 + 4648 * slot;
        EXPECT_EQ(IntAt(file, b + 0), 5);                   // version
        EXPECT_EQ(IntAt(file, b + 4), 0);                   // active
        EXPECT_EQ(IntAt(file, b + 8 + 12), 36);             // button 0, note of step 0
        EXPECT_EQ(IntAt(file, b + 8 + 44), 127);            // velocity of step 0
        EXPECT_EQ(IntAt(file, b + 8 + 76 + 28), 6);         // time of step 7
        EXPECT_EQ(IntAt(file, b + 8 + 31 * 128 + 108), 1);  // button 31 step count
        EXPECT_EQ(IntAt(file, b + 4104 + 8), 127);          // axis X max
        EXPECT_EQ(IntAt(file, b + 4104 + 5 * 40 + 36), 2);  // axis RZ minimum movement
        EXPECT_EQ(IntAt(file, b + 4344), slot);             // joystick number
        EXPECT_EQ(IntAt(file, b + 4348), 2);                // sensitivity
        EXPECT_EQ(IntAt(file, b + 4352), -1);               // output device
        EXPECT_EQ(IntAt(file, b + 4356), 1);                // poll interval code
        EXPECT_EQ(IntAt(file, b + 4360), 256);              // reserved length
        EXPECT_EQ(IntAt(file, b + 4620), 4);                // sysex count
        EXPECT_EQ(IntAt(file, b + 4624), 2);
        EXPECT_EQ(file[b + 4628], 0xF0);
        EXPECT_EQ(file[b + 4629], 0xF7);
    }
}

TEST(PatchFile, StringPrefixesAtTheirThresholds) {
    const std::pair<std::size_t, Bytes> cases[] = {
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}}};
    for (const auto& [length, prefix] : cases) {
        CByteWriter out;
        out.WriteString(std::string(length, 'n'));
        EXPECT_EQ(Bytes(out.Bytes().begin(), out.Bytes().begin() + prefix.size()), prefix);
        EXPECT_EQ(out.Bytes().size(), prefix.size() + length);
        CByteReader in(out.Bytes());
        std::string back;
        ASSERT_TRUE(in.ReadString(back));
        EXPECT_EQ(back.size(), length);
    }
    const Bytes hostile = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a'};
    CByteReader in(hostile);
    std::string text;
    EXPECT_FALSE(in.ReadString(text));  // 2 GB claimed, one byte there: refused, no allocation
}

// A block of an older version built byte by byte: 28-byte axis records up to version 3,
// 36 in version 4, no system-exclusive part before version 2.
Bytes OldBlock(std::int32_t version) {
    CByteWriter out;
    out.WriteInt32(version);
    out.WriteInt32(1);
    for (int b = 0; b < 32; ++b) {
        for (int f = 0; f < 32; ++f) {
            out.WriteInt32(f == 0 ? 7 : 3);
        }
    }
    for (int a = 0; a < 6; ++a) {
        for (std::int32_t v : {40, 9 + a, 100, 20, 1, 5, 1}) {
            out.WriteInt32(v);
        }
        if (version >= 4) {
            out.WriteInt32(11);
            out.WriteInt32(12);
        }
    }
    for (std::int32_t v : {0, 3, 2, 4, 256}) {
        out.WriteInt32(v);
    }
    const Bytes reserved(256, 0xAB);
    out.WriteBytes(reserved.data(), reserved.size());
    if (version >= 2) {
        out.WriteInt32(1);
        const Bytes message = {0xF0, 0x7E, 0xF7};
        out.WriteInt32(3);
        out.WriteBytes(message.data(), message.size());
    }
    return out.Bytes();
}

TEST(PatchFile, OlderVersionsReadFieldByFieldKeepingWhatTheyLack) {
    for (std::int32_t version : {1, 3, 4}) {
        CPatch patch;
        for (AxisRecord& a : patch.axes) {
            a.nrpnMsb = 90;
            a.minimumMovement = 9;
        }
        patch.sysEx->lengths[0] = 3;
        patch.sysEx->buffers[0][1] = 0x42;
        const Bytes block = OldBlock(version);
        CByteReader in(block);
        ASSERT_EQ(LoadPatch(in, patch), "") << version;
        EXPECT_EQ(in.Remaining(), 0u) << version;
        EXPECT_EQ(patch.version, 5);
        EXPECT_EQ(patch.active, 1);
        EXPECT_EQ(patch.buttons[31].mode, 7);
        EXPECT_EQ(patch.axes[5].controller, 14);
        EXPECT_EQ(patch.axes[5].fullRange, 1);
        EXPECT_EQ(patch.axes[2].nrpnMsb, version >= 4 ? 11 : 90) << version;
        EXPECT_EQ(patch.axes[2].minimumMovement, 9) << version;
        EXPECT_EQ(patch.outputDevice, 2);
        EXPECT_EQ(patch.reserved[255], 0xAB);
        EXPECT_EQ(patch.sysEx->buffers[0][1], version >= 2 ? 0x7E : 0x42) << version;
    }
}

TEST(PatchFile, EverythingBothSlotsHoldSurvivesARoundTrip) {
    std::mt19937 random(7);
    std::uniform_int_distribution<std::int32_t> any(-1000, 1000);
    auto slots = NewSlots();
    for (CPatch& p : slots) {
        p.active = any(random);
        p.outputDevice = any(random);
        p.pollIntervalCode = any(random);
        p.joystickSensitivity = any(random);
        for (ButtonRecord& b : p.buttons) {
            for (std::int32_t* f : {&b.mode, &b.data1, &b.data2, &b.stepCount, &b.currentStep,
                                    &b.channel, &b.pressed, &b.autoArpeggiation}) {
                *f = any(random);
            }
            b.notes[3] = any(random);
            b.times[7] = any(random);
        }
        for (AxisRecord& a : p.axes) {
            for (std::int32_t* f :
                 {&a.value, &a.channel, &a.controller, &a.max, &a.min, &a.reversePolarity,
                  &a.fullRange, &a.nrpnMsb, &a.nrpnLsb, &a.minimumMovement}) {
                *f = any(random);
            }
        }
        p.reserved[17] = 0x5A;
        p.sysEx->lengths[3] = 256;
        p.sysEx->buffers[3].fill(0x33);
    }
    const Bytes file = FormatPatchFile("Round trip", slots);
    std::string name;
    auto loaded = NewSlots();
    ASSERT_EQ(ReadPatchFile(file, name, loaded), "");
    EXPECT_EQ(name, "Round trip");
    EXPECT_EQ(FormatPatchFile(name, loaded), file);
}

Bytes WithSysExPart(const std::vector<std::pair<std::int32_t, Bytes>>& messages,
                    std::int32_t reservedLength = 256) {
    CByteWriter out;
    out.WriteString("Hostile");
    for (int slot = 0; slot < 2; ++slot) {
        CPatch p;
        CByteWriter block;
        StorePatch(p, block);
        Bytes bytes(block.Bytes().begin(), block.Bytes().begin() + 4360);  // up to reserved
        out.WriteBytes(bytes.data(), bytes.size());
        out.WriteInt32(reservedLength);
        const Bytes reserved(static_cast<std::size_t>(std::max(reservedLength, 0)), 0x11);
        out.WriteBytes(reserved.data(), reserved.size());
        out.WriteInt32(static_cast<std::int32_t>(messages.size()));
        for (const auto& [length, data] : messages) {
            out.WriteInt32(length);
            out.WriteBytes(data.data(), data.size());
        }
    }
    return out.Bytes();
}

TEST(PatchFile, HostileFilesAreSkippedWhereTheyCanBeAndRefusedWhereNot) {
    const Bytes f0f7 = {0xF0, 0xF7};
    // Five messages: the fifth is skipped. An overlong reserved block: the excess is skipped.
    {
        auto slots = NewSlots();
        std::string name;
        const Bytes file =
            WithSysExPart({{2, f0f7}, {2, f0f7}, {2, f0f7}, {2, f0f7}, {2, f0f7}}, 300);
        EXPECT_EQ(ReadPatchFile(file, name, slots), "");
        EXPECT_EQ(slots[1].sysExCount, 4);
        EXPECT_EQ(slots[1].reserved[255], 0x11);
    }
    // These cannot be taken: nothing of either slot changes.
    const std::vector<Bytes> refused = {
        WithSysExPart({{300, Bytes(300, 0x01)}}),
        WithSysExPart({{-1, {}}}),
        WithSysExPart({{2, f0f7}}, -5),
    };
    for (const Bytes& file : refused) {
        auto slots = NewSlots();
        slots[0].active = 42;
        std::string name = "before";
        EXPECT_NE(ReadPatchFile(file, name, slots), "");
        EXPECT_EQ(name, "before");
        EXPECT_EQ(slots[0].active, 42);
        EXPECT_EQ(slots[1].joystickNumber, 1);
    }
    std::string name;
    auto slots = NewSlots();
    EXPECT_EQ(ReadPatchFile({}, name, slots), "Error opening patch file.");
}

TEST(PatchFile, AFileEndingAnywhereIsReadSafely) {
    const Bytes file = FormatPatchFile("Cut", NewSlots());
    for (std::size_t cut = 0; cut <= file.size(); cut += 7) {
        auto slots = NewSlots();
        std::string name;
        const std::string problem =
            ReadPatchFile(std::span<const std::uint8_t>(file.data(), cut), name, slots);
        // Cut inside the messages it is refused; elsewhere the fields it reaches are taken.
        const std::size_t inBlock = cut < 5 ? 0 : (cut - 5) % 4648;
        if (cut >= 5 && inBlock >= 4620 && cut < file.size()) {
            EXPECT_NE(problem, "") << cut;
        }
    }
}

TEST(PortNames, TheOutputNameTravelsInTheReservedBlockAndOldFilesHaveNone) {
    std::array<CPatch, 2> patches{};
    EXPECT_EQ(OutputPortName(patches[0]), "");  // zeros, as files without a name hold
    SetOutputPortName(patches[0], "FLUID Synth:Synth input port");
    std::string name;
    std::array<CPatch, 2> read{};
    ASSERT_EQ(ReadPatchFile(FormatPatchFile("p", patches), name, read), "");
    EXPECT_EQ(OutputPortName(read[0]), "FLUID Synth:Synth input port");
    EXPECT_EQ(OutputPortName(read[1]), "");
    // Too long for the block: its start and the key of the whole name, never beyond the block.
    SetOutputPortName(patches[0], std::string(400, 'n'));
    EXPECT_EQ(OutputPortName(patches[0]), std::string(kReservedSize - 5 - 21, 'n'));
    SetOutputPortName(patches[0], "");
    EXPECT_EQ(patches[0].reserved, CPatch{}.reserved);
}

TEST(PortNames, TheControllerTravelsBesideThePortAndAPortChangeKeepsIt) {
    std::array<CPatch, 2> patches{};
    const CPatchMarks marks{"Synth:in", "Logitech Extreme 3D", "030000006d04000015c2000010010000",
                            true};
    WritePatchMarks(patches[0], marks);
    std::string name;
    std::array<CPatch, 2> read{};
    ASSERT_EQ(ReadPatchFile(FormatPatchFile("p", patches), name, read), "");
    EXPECT_EQ(ReadPatchMarks(read[0]), marks);
    SetOutputPortName(read[0], "Other:in");
    CPatchMarks changed = marks;
    changed.outputPort = "Other:in";
    EXPECT_EQ(ReadPatchMarks(read[0]), changed);
    // A long port name does not push the controller marks out: it keeps its start and its key
    // (the whole name goes beside the bank); nothing is written beyond the block.
    SetOutputPortName(read[0], std::string(220, 'n'));
    const CPatchMarks cut = ReadPatchMarks(read[0]);
    EXPECT_EQ(cut.outputPort, std::string(256 - 5 - 24 - 37 - 6 - 21, 'n'));
    EXPECT_EQ(cut.outputPortKey, PortNameKey(std::string(220, 'n')));
    EXPECT_EQ(cut.controllerName, "Logitech Extreme 3D");
    EXPECT_EQ(cut.controllerGuid, "030000006d04000015c2000010010000");
    EXPECT_TRUE(cut.gamepadLayout);
}

// The layout of a block whose port name did not fit, byte for byte: "PORT" first with the start
// of the name, cut between two letters, the controller marks whole, "PKEY" last with the key of
// the whole name, which finds it again. A reader of an older version, which stops at a tag it
// does not know, still reads the port's start and the controller.
TEST(PortNames, ALongPortNameKeepsItsStartAndKeyAndFindsItsWholeNameAgain) {
    EXPECT_EQ(PortNameKey(""), "cbf29ce484222325");  // FNV-1a: a key in a file stays the same
    EXPECT_EQ(PortNameKey("a"), "af63dc4c8601ec8c");
    const std::string guid = "030000006d04000015c2000010010000";
    // 178 bytes fit beside the other records: the "é" after them would be cut in two.
    const std::string whole = std::string(178, 'p') + "\xC3\xA9" + std::string(100, 'q');
    CPatch patch;
    const CMarksLeftOut leftOut = WritePatchMarks(patch, {whole, "Pad", guid, true});
    EXPECT_EQ(leftOut.wholePortName, whole);
    EXPECT_TRUE(leftOut.marks.empty());
    Bytes expected;
    auto record = [&expected](const char* tag, const std::string& value) {
        expected.insert(expected.end(), tag, tag + 4);
        expected.push_back(static_cast<std::uint8_t>(value.size()));
        expected.insert(expected.end(), value.begin(), value.end());
    };
    record("PORT", std::string(178, 'p'));
    record("JNAM", "Pad");
    record("JGID", guid);
    record("JPAD", "1");
    record("PKEY", PortNameKey(whole));
    ASSERT_EQ(expected.size(), 255u);
    expected.resize(kReservedSize, 0);
    EXPECT_EQ(Bytes(patch.reserved.begin(), patch.reserved.end()), expected);

    const CPatchMarks read = ReadPatchMarks(patch);
    EXPECT_EQ(read, (CPatchMarks{std::string(178, 'p'), "Pad", guid, true, PortNameKey(whole)}));
    EXPECT_EQ(FindWholePortName(read, {"Tamborex", std::string(178, 'p') + "x", whole}), whole);
    EXPECT_EQ(FindWholePortName(read, {"Tamborex", std::string(178, 'p') + "x"}), "");
    // Written again without the whole name (the port is not there): the same block.
    CPatch again;
    EXPECT_EQ(WritePatchMarks(again, read).wholePortName, "");
    EXPECT_EQ(again.reserved, patch.reserved);
    // A later tag this version does not know is passed over.
    CPatch later;
    WritePatchMarks(later, {"Synth:in", "Pad", "", false});
    const std::size_t end = 5 + 8 + 5 + 3;
    std::memcpy(later.reserved.data() + end, "ZZZZ\x02xyJGID\x01g", 13);
    EXPECT_EQ(ReadPatchMarks(later), (CPatchMarks{"Synth:in", "Pad", "g", false}));
}

// A mark that cannot fit whole is left out and named, so that the program can say so; a short
// port name stays whole beside it.
TEST(PortNames, AMarkLeftOutForWantOfRoomIsNamed) {
    CPatch patch;
    const std::string longName(255, 'n');
    const CMarksLeftOut leftOut = WritePatchMarks(patch, {"Synth:in", longName, "guid", true});
    EXPECT_EQ(leftOut.marks, (std::vector<std::string>{"the controller's name"}));
    EXPECT_EQ(leftOut.wholePortName, "");
    EXPECT_EQ(ReadPatchMarks(patch), (CPatchMarks{"Synth:in", "", "guid", true}));
}

TEST(PortNames, LongPortNamesAreKeptOneALine) {
    const std::vector<std::string> names = {std::string(300, 'a'), "b\xC3\xA9 c"};
    std::vector<std::string> withBreak = names;
    withBreak.push_back("broken\nname");  // no port has one: it is not kept
    const Bytes text = FormatLongPortNames(withBreak);
    EXPECT_EQ(std::string(text.begin(), text.end()), names[0] + "\n" + names[1] + "\n");
    EXPECT_EQ(ParseLongPortNames("\r\n" + names[0] + "\r\n\n" + names[1]), names);
}

TEST(PortNames, ExtraSettingsReadWhatTheyKnowAndKeepDefaultsForTheRest) {
    const CExtraSettings read =
        ParseExtraSettings("[MIDI]\r\nSystem = jack\r\n# note\nInputPort=a2j:Keys [20]\r\nx");
    EXPECT_EQ(read.midiSystem, "jack");
    EXPECT_EQ(read.midiInPortName, "a2j:Keys [20]");
    EXPECT_EQ(ParseExtraSettings("").midiSystem, "auto");
    const auto bytes = FormatExtraSettings(read);
    const CExtraSettings again =
        ParseExtraSettings({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    EXPECT_EQ(again.midiSystem, "jack");
    EXPECT_EQ(again.midiInPortName, "a2j:Keys [20]");
    EXPECT_EQ(again.oscOut, "");
    EXPECT_EQ(again.oscIn, "");
}

TEST(PortNames, OscSettingsKeepTheirOwnSectionAndSurviveARoundTrip) {
    CExtraSettings osc;
    osc.oscOut = "lights.local:53000";
    osc.oscIn = "0.0.0.0:9000\nSystem=alsa";  // a line break cannot add a key
    const auto bytes = FormatExtraSettings(osc);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("[OSC]\nOscOut=lights.local:53000\n"), std::string::npos) << text;
    const CExtraSettings again = ParseExtraSettings(text);
    EXPECT_EQ(again.oscOut, "lights.local:53000");
    EXPECT_EQ(again.oscIn, "0.0.0.0:9000 System=alsa");
    EXPECT_EQ(again.midiSystem, "auto");
}

TEST(SysExText, FormatsAndParsesEveryExample) {
    const std::uint8_t bytes[] = {0x00, 0x7F, 0x80, 0xFF};
    EXPECT_EQ(FormatSysEx(bytes, 4), "00 7F 80 FF");
    EXPECT_EQ(FormatSysEx(bytes, 0), "");
    for (std::string text : {"F0 41 1E F7", "f0 41 1e f7", "F0 41 1E F7 "}) {
        std::string a, b;
        ASSERT_TRUE(CheckSysEx(text, 1, a, b)) << text;
        std::uint8_t buffer[kSysExBufferSize];
        ASSERT_EQ(ParseSysEx(text, buffer), 4);
        EXPECT_EQ(FormatSysEx(buffer, 4), "F0 41 1E F7");
    }
    std::string empty, a, b;
    EXPECT_TRUE(CheckSysEx(empty, 2, a, b));
    std::uint8_t buffer[kSysExBufferSize];
    EXPECT_EQ(ParseSysEx(empty, buffer), 0);
}

TEST(SysExText, EachMistakeHasItsExactMessage) {
    const std::tuple<std::string, int, std::string, std::string> cases[] = {
        {"F0  41", 1, "Bad character ' ' in SysEx message 1, position 4", ""},
        {"F041", 1, "Space expected in SysEx message 1, position 3", ""},
        {"F0 4", 1, "Incomplete byte at end of SysEx message 1", ""},
        {"F0 G1", 3, "Bad character 'G' in SysEx message 3, position 4", ""},
        {" F0", 2, "Bad character ' ' in SysEx message 2, position 1", ""},
        {"f0 4g", 4, "Bad character 'G' in SysEx message 4, position 5",
         "Incomplete byte at end of SysEx message 4"},
    };
    for (auto [text, number, first, second] : cases) {
        std::string m1, m2;
        EXPECT_FALSE(CheckSysEx(text, number, m1, m2)) << text;
        EXPECT_EQ(m1, first) << text;
        EXPECT_EQ(m2, second) << text;
    }
}

TEST(SysExText, MoreThan256BytesAreRefusedNotCut) {
    std::string text = FormatSysEx(std::vector<std::uint8_t>(300, 0x41).data(), 300);
    std::string a, b, refusal;
    ASSERT_TRUE(CheckSysEx(text, 2, a, b));
    EXPECT_TRUE(SysExTooLong(text, 2, refusal));
    EXPECT_EQ(refusal,
              "SysEx message 2 is 300 bytes long; a message can hold at most 256 bytes. Nothing "
              "was stored.");
    std::uint8_t buffer[kSysExBufferSize];
    EXPECT_EQ(ParseSysEx(text, buffer), 256);  // the conversion alone still stops at 256
    std::string fits = FormatSysEx(std::vector<std::uint8_t>(256, 0x41).data(), 256) + " ";
    EXPECT_FALSE(SysExTooLong(fits, 2, refusal));
}

}  // namespace
