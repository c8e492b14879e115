#include "platform/osc.h"

#include <gtest/gtest.h>
#include <lo/lo.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <semaphore>

#include "osc_recorder.h"
#include "resolve.h"

namespace platform {
namespace {

using testsupport::OscArg;
using testsupport::OscRecorder;

std::vector<std::uint8_t> Serialised(const std::string& path, const std::vector<OscArg>& args) {
    lo_message m = lo_message_new();
    for (const OscArg& a : args) {
        switch (a.type) {
            case 's':
                lo_message_add_string(m, a.text.c_str());
                break;
            case 'i':
                lo_message_add_int32(m, static_cast<std::int32_t>(a.integer));
                break;
            case 'h':
                lo_message_add_int64(m, a.integer);
                break;
            case 'f':
                lo_message_add_float(m, static_cast<float>(a.real));
                break;
            case 'T':
                lo_message_add_true(m);
                break;
            case 'b': {
                lo_blob blob = lo_blob_new(static_cast<std::int32_t>(a.text.size()), a.text.data());
                lo_message_add_blob(m, blob);
                lo_blob_free(blob);
                break;
            }
            default:
                lo_message_add_nil(m);
                break;
        }
    }
    std::size_t size = 0;
    void* data = lo_message_serialise(m, path.c_str(), nullptr, &size);
    std::vector<std::uint8_t> bytes(static_cast<std::uint8_t*>(data),
                                    static_cast<std::uint8_t*>(data) + size);
    std::free(data);
    lo_message_free(m);
    return bytes;
}

OscArg Real(double value) {
    return {'f', {}, 0, value};
}

const OscReader kTamborexReader("/tamborex", {{"entry", true, 0, 127},
                                              {"active", true, 0, 1},
                                              {"panic", false, 0, 0}});

// What a reader makes of one packet: the commands it accepted and how many it ignored.
struct ReadResult {
    std::vector<OscCommand> commands;
    int ignored = 0;
};
ReadResult ReadPacket(const std::vector<std::uint8_t>& packet,
                      const OscReader& reader = kTamborexReader) {
    ReadResult result;
    result.ignored = reader.Read(packet, [&](const OscCommand& c) {
        result.commands.push_back(c);
        return true;
    });
    return result;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (const int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

TEST(OscOut, EveryMidiKindLeavesAsOneBundleWithItsAddressAndValuesAsLibloReadsThem) {
    OscRecorder peer;
    ASSERT_GT(peer.Port(), 0);
    std::string error;
    auto sender = OscSender::Open({"127.0.0.1", static_cast<std::uint16_t>(peer.Port())}, error);
    ASSERT_NE(sender, nullptr) << error;

    OscBundle bundle;
    const OscTime when =
        ToOscTime(std::chrono::system_clock::time_point(std::chrono::seconds(1000)));
    bundle.Begin(when);
    const std::vector<std::vector<std::uint8_t>> sent = {
        Bytes({0x90, 60, 100}),
        Bytes({0x8F, 60, 64}),
        Bytes({0x90, 61, 0}),
        Bytes({0xB3, 7, 127}),
        Bytes({0xE0, 0x7F, 0x7F}),
        Bytes({0xE1, 0, 0x40}),
        Bytes({0xC9, 5}),
        Bytes({0xD2, 33}),
        Bytes({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}),
        Bytes({0xFA}),
        Bytes({0xF2, 1, 2}),
        Bytes({0xA0, 60, 10})};
    for (const auto& m : sent) {
        ASSERT_TRUE(AddMidiAsOsc(bundle, m));
    }
    ASSERT_TRUE(bundle.AddIntFloat("/tamborex/axis", 2, -0.5f));
    EXPECT_FALSE(AddMidiAsOsc(bundle, Bytes({0x40, 1, 2})));  // no status byte
    EXPECT_FALSE(AddMidiAsOsc(bundle, Bytes({0x90, 60})));    // cut short
    ASSERT_TRUE(sender->Send(bundle));
    ASSERT_TRUE(peer.WaitForCount(13));

    const auto all = peer.All();
    ASSERT_EQ(all.size(), 13u);
    struct Expected {
        const char* path;
        std::vector<std::int64_t> ints;
        const char* text;
    };
    const std::vector<Expected> expected = {
        {"/note", {1, 60, 100}, nullptr}, {"/note", {16, 60, 0}, nullptr},
        {"/note", {1, 61, 0}, nullptr},   {"/control", {4, 7, 127}, nullptr},
        {"/pitch", {1, 16383}, nullptr},  {"/pitch", {2, 8192}, nullptr},
        {"/program", {10, 5}, nullptr},   {"/pressure", {3, 33}, nullptr},
        {"/sysex", {}, "F07E7F0901F7"},   {"/midi", {}, "FA"},
        {"/midi", {}, "F20102"},          {"/midi", {}, "A03C0A"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& m = all[i].message;
        EXPECT_EQ(m.path, expected[i].path) << i;
        EXPECT_EQ(all[i].bundle, 1) << i;
        EXPECT_EQ(all[i].seconds, when.seconds) << i;
        if (expected[i].text != nullptr) {
            EXPECT_EQ(m.types, "s") << i;
            EXPECT_EQ(m.Text(0), expected[i].text) << i;
        } else {
            EXPECT_EQ(m.types, std::string(expected[i].ints.size(), 'i')) << i;
            for (std::size_t k = 0; k < expected[i].ints.size(); ++k) {
                EXPECT_EQ(m.Int(k), expected[i].ints[k]) << i << " argument " << k;
            }
        }
    }
    EXPECT_EQ(all[12].message.path, "/tamborex/axis");
    EXPECT_EQ(all[12].message.types, "if");
    EXPECT_EQ(all[12].message.args[1].real, -0.5);
    EXPECT_EQ(sender->Sent(), 1u);
}

TEST(OscOut, AFullBundleRefusesTheNextMessageAndKeepsWhatItHas) {
    OscBundle bundle;
    bundle.Begin(OscNow());
    const std::int32_t v[] = {1, 2, 3};
    int added = 0;
    while (bundle.AddInts("/control", v)) {
        ++added;
    }
    const std::size_t size = bundle.Bytes().size();
    EXPECT_EQ(bundle.Messages(), added);
    EXPECT_LE(size, OscBundle::kCapacity);
    EXPECT_FALSE(bundle.AddString("/x", std::string(100, 'a')));
    EXPECT_EQ(bundle.Bytes().size(), size);
    // A system-exclusive message longer than a bundle holds is refused whole, not cut.
    OscBundle fresh;
    fresh.Begin(OscNow());
    std::vector<std::uint8_t> huge(OscBundle::kCapacity, 0x01);
    huge.front() = 0xF0;
    huge.back() = 0xF7;
    EXPECT_FALSE(AddMidiAsOsc(fresh, huge));
    EXPECT_TRUE(fresh.Empty());
    // A bundle never begun takes nothing.
    OscBundle unbegun;
    EXPECT_FALSE(unbegun.AddInts("/control", v));
}

TEST(OscOut, TimeTagsCountFrom1900) {
    const OscTime t = ToOscTime(std::chrono::system_clock::time_point(
        std::chrono::seconds(0) + std::chrono::milliseconds(500)));
    EXPECT_EQ(t.seconds, 2208988800u);
    EXPECT_EQ(t.fraction, 0x80000000u);
}

TEST(OscOut, SendingWhereNobodyListensNeitherBlocksNorStops) {
    // A port that was just free: the system refuses the datagrams; the sender counts and goes on.
    std::uint16_t port = 0;
    {
        OscRecorder gone;
        port = static_cast<std::uint16_t>(gone.Port());
    }
    std::string error;
    auto sender = OscSender::Open({"127.0.0.1", port}, error);
    ASSERT_NE(sender, nullptr) << error;
    OscBundle bundle;
    bundle.Begin(OscNow());
    ASSERT_TRUE(AddMidiAsOsc(bundle, Bytes({0x90, 60, 1})));
    for (int i = 0; i < 100; ++i) {
        (void)sender->Send(bundle);
    }
    EXPECT_EQ(sender->Sent() + sender->Dropped(), 100u);
    EXPECT_EQ(OscSender::Open({"no-such-host.invalid", 9000}, error), nullptr);
    EXPECT_NE(error.find("no-such-host.invalid:9000"), std::string::npos) << error;
    // A name is looked up on a thread of its own, and its answer taken.
    EXPECT_NE(OscSender::Open({"localhost", port}, error), nullptr) << error;
}

// The resolver's answers to names, one per permit; numbers need no resolver.
std::counting_semaphore<> gResolverAnswers{0};
int HeldLookup(const char* host, const char* port, const addrinfo* hints, addrinfo** found) {
    if ((hints->ai_flags & AI_NUMERICHOST) == 0) {
        gResolverAnswers.acquire();
    }
    return getaddrinfo(host, port, hints, found);
}

TEST(OscResolve, AResolverThatDoesNotAnswerIsGivenUpOnAndANumberNeedsNone) {
    using namespace std::chrono_literals;
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    ASSERT_EQ(ResolveWithin("127.0.0.1", "9000", hints, 50ms, found, HeldLookup), 0);
    ASSERT_NE(found, nullptr);
    freeaddrinfo(found);

    EXPECT_EQ(ResolveWithin("localhost", "9000", hints, 50ms, found, HeldLookup), kResolveTimedOut);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(ResolveFailureText(kResolveTimedOut, 2s), "the name was not resolved within 2 s");
    gResolverAnswers.release();  // the lookup given up on ends, its answer dropped

    gResolverAnswers.release();
    ASSERT_EQ(ResolveWithin("localhost", "9000", hints, 60s, found, HeldLookup), 0);
    ASSERT_NE(found, nullptr);
    freeaddrinfo(found);
}

TEST(OscSettings, AddressesAreReadAsWrittenAndRefusedWithAReason) {
    OscAddress a;
    std::string error;
    ASSERT_TRUE(ParseOscOut("192.168.1.20:8000", a, error));
    EXPECT_EQ(a.host, "192.168.1.20");
    EXPECT_EQ(a.port, 8000);
    ASSERT_TRUE(ParseOscOut(" lights.local:53000 ", a, error));
    EXPECT_EQ(a.host, "lights.local");
    ASSERT_TRUE(ParseOscOut("[::1]:9000", a, error));
    EXPECT_EQ(a.host, "::1");
    EXPECT_EQ(a.port, 9000);
    for (const char* bad : {"", "9000", "host:", ":9000", "host:0", "host:65536", "host:90x",
                            "::1:9000", "[::1]9000", "a b:9000", "host:-1"}) {
        error.clear();
        EXPECT_FALSE(ParseOscOut(bad, a, error)) << bad;
        EXPECT_NE(error.find("HOST:PORT"), std::string::npos) << bad;
    }

    ASSERT_TRUE(ParseOscIn("9000", a, error));
    EXPECT_EQ(a.host, "127.0.0.1");
    EXPECT_EQ(a.port, 9000);
    ASSERT_TRUE(ParseOscIn("0.0.0.0:9001", a, error));
    EXPECT_EQ(a.host, "0.0.0.0");
    EXPECT_EQ(a.port, 9001);
    for (const char* bad : {"", "0", "70000", "x", "host:", "host:0"}) {
        EXPECT_FALSE(ParseOscIn(bad, a, error)) << bad;
    }

    // A terminal's escape sequence in a setting is refused and shown, never passed on raw.
    for (const char* typed : {"\x1b]0;x\a:9000", "ho\x1bst:9000"}) {
        error.clear();
        EXPECT_FALSE(ParseOscOut(typed, a, error)) << typed;
        EXPECT_FALSE(ParseOscIn(typed, a, error)) << typed;
        EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
        EXPECT_NE(error.find("\\x1B"), std::string::npos) << error;
    }
}

TEST(OscIn, MidiAddressesBecomeTheMessagesTheyName) {
    auto one = [](const std::string& path, const std::vector<OscArg>& args) {
        const ReadResult r = ReadPacket(Serialised(path, args));
        EXPECT_EQ(r.ignored, 0) << path;
        return r.commands.size() == 1 ? r.commands[0].bytes : std::vector<std::uint8_t>{};
    };
    EXPECT_EQ(one("/note", {OscArg::Int(1), OscArg::Int(60), OscArg::Int(100)}),
              Bytes({0x90, 60, 100}));
    EXPECT_EQ(one("/note", {OscArg::Int(16), OscArg::Int(60), OscArg::Int(0)}),
              Bytes({0x8F, 60, 0}));
    EXPECT_EQ(one("/control", {OscArg::Int(2), OscArg::Int(7), OscArg::Int(127)}),
              Bytes({0xB1, 7, 127}));
    EXPECT_EQ(one("/program", {OscArg::Int(10), OscArg::Int(0)}), Bytes({0xC9, 0}));
    EXPECT_EQ(one("/pressure", {OscArg::Int(1), OscArg::Int(90)}), Bytes({0xD0, 90}));
    EXPECT_EQ(one("/pitch", {OscArg::Int(1), OscArg::Int(16383)}), Bytes({0xE0, 0x7F, 0x7F}));
    EXPECT_EQ(one("/pitch", {OscArg::Int(3), OscArg::Int(8192)}), Bytes({0xE2, 0, 0x40}));
    // Touch layouts send floats; whole ones are taken, as are 64-bit integers and booleans.
    EXPECT_EQ(one("/control", {Real(1), Real(64), Real(127)}), Bytes({0xB0, 64, 127}));
    EXPECT_EQ(one("/control", {{'h', {}, 1, 0}, OscArg::Int(1), {'T', {}, 0, 0}}),
              Bytes({0xB0, 1, 1}));
    EXPECT_EQ(one("/sysex", {OscArg::Text("F0 7E 7F 09 01 F7")}),
              Bytes({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_EQ(one("/sysex", {OscArg::Text("f07d01f7")}), Bytes({0xF0, 0x7D, 0x01, 0xF7}));
    EXPECT_EQ(one("/sysex", {{'b', std::string("\xF0\x01\xF7", 3), 0, 0}}),
              Bytes({0xF0, 0x01, 0xF7}));
}

TEST(OscIn, WrongTypesCountsRangesAndJunkAreIgnoredAndCounted) {
    const std::vector<std::pair<std::string, std::vector<OscArg>>> refused = {
        {"/note", {OscArg::Int(0), OscArg::Int(60), OscArg::Int(1)}},   // channel 0
        {"/note", {OscArg::Int(17), OscArg::Int(60), OscArg::Int(1)}},  // channel 17
        {"/note", {OscArg::Int(1), OscArg::Int(128), OscArg::Int(1)}},
        {"/note", {OscArg::Int(1), OscArg::Int(60), OscArg::Int(-1)}},
        {"/note", {OscArg::Int(1), OscArg::Int(60)}},  // one short
        {"/note", {OscArg::Int(1), OscArg::Int(60), OscArg::Int(1), OscArg::Int(1)}},
        {"/note", {OscArg::Int(1), OscArg::Text("60"), OscArg::Int(1)}},
        {"/control", {Real(1.5), OscArg::Int(1), OscArg::Int(1)}},  // not a whole number
        {"/control", {Real(std::nan("")), OscArg::Int(1), OscArg::Int(1)}},
        {"/control", {{'h', {}, 1ll << 40, 0}, OscArg::Int(1), OscArg::Int(1)}},
        {"/pitch", {OscArg::Int(1), OscArg::Int(16384)}},
        {"/program", {OscArg::Int(1)}},
        {"/sysex", {OscArg::Text("F0 7E F7 F7")}},  // a status byte inside
        {"/sysex", {OscArg::Text("7E 01")}},        // no F0 ... F7
        {"/sysex", {OscArg::Text("F0 1")}},         // half a byte
        {"/sysex", {OscArg::Text("F0 zz F7")}},
        {"/sysex", {OscArg::Int(1)}},
        {"/tamborex/entry", {OscArg::Int(128)}},
        {"/tamborex/entry", {}},
        {"/tamborex/active", {OscArg::Int(2)}},
        {"/tamborex/panic", {OscArg::Int(1), OscArg::Int(1)}},
        {"/tamborex/unknown", {}},
        {"/tamborex", {}},
        {"/corvane/entry", {OscArg::Int(1)}},  // not this program's
        {"/nonsense", {OscArg::Int(1)}},
    };
    for (const auto& [path, args] : refused) {
        const ReadResult r = ReadPacket(Serialised(path, args));
        EXPECT_TRUE(r.commands.empty()) << path;
        EXPECT_EQ(r.ignored, 1) << path;
    }
    std::string longHex = "F0";
    for (int i = 0; i < 5000; ++i) {
        longHex += "01";
    }
    EXPECT_EQ(ReadPacket(Serialised("/sysex", {OscArg::Text(longHex + "F7")})).ignored, 1);

    // Bytes that are no OSC at all, cut messages, and bundles that lie about their sizes.
    std::vector<std::uint8_t> note =
        Serialised("/note", {OscArg::Int(1), OscArg::Int(1), OscArg::Int(1)});
    std::vector<std::uint8_t> cut(note.begin(), note.end() - 4);
    EXPECT_EQ(ReadPacket(cut).ignored, 1);
    EXPECT_EQ(ReadPacket({}).ignored, 1);
    EXPECT_EQ(ReadPacket(Bytes({'x', 'y', 'z', 0})).ignored, 1);
    std::vector<std::uint8_t> bundle = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0,
                                        0,   0,   0,   0,   0,   0,   0,   1};
    std::vector<std::uint8_t> good = bundle;
    good.insert(good.end(), {0, 0, 0, static_cast<std::uint8_t>(note.size())});
    good.insert(good.end(), note.begin(), note.end());
    std::vector<std::uint8_t> lying = good;
    lying[19] = static_cast<std::uint8_t>(note.size() + 4);
    const ReadResult fine = ReadPacket(good);
    EXPECT_EQ(fine.commands.size(), 1u);
    EXPECT_EQ(fine.ignored, 0);
    EXPECT_EQ(ReadPacket(lying).ignored, 1);
    EXPECT_TRUE(ReadPacket(lying).commands.empty());
    // Nested past the limit: ignored without recursing further.
    std::vector<std::uint8_t> nested = good;
    for (int depth = 0; depth < 6; ++depth) {
        std::vector<std::uint8_t> outer = bundle;
        const auto n = static_cast<std::uint32_t>(nested.size());
        outer.insert(outer.end(),
                     {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                      static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
        outer.insert(outer.end(), nested.begin(), nested.end());
        nested = std::move(outer);
    }
    const ReadResult deep = ReadPacket(nested);
    EXPECT_TRUE(deep.commands.empty());
    EXPECT_EQ(deep.ignored, 1);
}

TEST(OscIn, CommandsUnderTheProgramsPrefixCarryTheirCheckedValue) {
    ReadResult r = ReadPacket(Serialised("/tamborex/entry", {OscArg::Int(127)}));
    ASSERT_EQ(r.commands.size(), 1u);
    EXPECT_EQ(r.commands[0].kind, OscCommand::Kind::Command);
    EXPECT_EQ(r.commands[0].name, "entry");
    EXPECT_EQ(r.commands[0].value, 127);
    r = ReadPacket(Serialised("/tamborex/active", {Real(0)}));
    ASSERT_EQ(r.commands.size(), 1u);
    EXPECT_EQ(r.commands[0].value, 0);
    EXPECT_TRUE(r.commands[0].hasValue);
    r = ReadPacket(Serialised("/tamborex/panic", {}));
    ASSERT_EQ(r.commands.size(), 1u);
    EXPECT_FALSE(r.commands[0].hasValue);
    // A touch button's press and release.
    r = ReadPacket(Serialised("/tamborex/panic", {Real(1)}));
    ASSERT_EQ(r.commands.size(), 1u);
    EXPECT_TRUE(r.commands[0].hasValue);
    EXPECT_EQ(r.commands[0].value, 1);
    // What the program turns down counts as ignored too.
    EXPECT_EQ(kTamborexReader.Read(Serialised("/tamborex/panic", {}),
                                   [](const OscCommand&) { return false; }),
              1);
}

TEST(OscIn, TheListenerHearsLoopbackHandsOverWhatChecksOutAndSurvivesJunk) {
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> played;
    std::string error;
    auto listener = OscListener::Start(
        {"127.0.0.1", 0}, kTamborexReader,
        [&](const OscCommand& c) {
            std::lock_guard lock(mutex);
            played.push_back(c.bytes);
            return true;
        },
        error);
    ASSERT_NE(listener, nullptr) << error;
    const int port = listener->Port();
    ASSERT_GT(port, 0);
    for (int i = 0; i < 50; ++i) {
        std::vector<std::uint8_t> junk(static_cast<std::size_t>(i * 7 % 200));
        for (std::size_t k = 0; k < junk.size(); ++k) {
            junk[k] = static_cast<std::uint8_t>(k * 31 + static_cast<std::size_t>(i));
        }
        ASSERT_TRUE(testsupport::SendDatagram(port, junk));
    }
    ASSERT_TRUE(
        testsupport::SendOsc(port, "/note", {OscArg::Int(1), OscArg::Int(64), OscArg::Int(90)}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (listener->Packets() < 51 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(listener->Packets(), 51u);
    EXPECT_EQ(listener->Ignored(), 50u);
    std::lock_guard lock(mutex);
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0], Bytes({0x90, 64, 90}));

    // A second listener on the same port is refused with a reason, and the first goes on.
    auto second = OscListener::Start(
        {"127.0.0.1", static_cast<std::uint16_t>(port)}, kTamborexReader,
        [](const OscCommand&) { return true; }, error);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(error.find(std::to_string(port)), std::string::npos) << error;
}

}  // namespace
}  // namespace platform
