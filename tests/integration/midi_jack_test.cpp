// The real MIDI service on a private JACK server, checked from the outside with jack_midi_dump
// and with plain RtMidi ports.

#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <jack/jack.h>

#include "alloc_counter.h"
#include "jack_peer.h"
#include "jack_server.h"
#include "platform/midi.h"

namespace platform {
namespace {

using testsupport::IndexOf;
using testsupport::JackPeer;

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Collects what an input of ours delivers, and on which thread.
struct Received {
    std::mutex mutex;
    std::vector<std::uint32_t> messages;
    std::vector<std::thread::id> threads;

    MidiInCallback Callback() {
        return [this](std::uint32_t m, std::uint32_t) {
            std::lock_guard lock(mutex);
            messages.push_back(m);
            threads.push_back(std::this_thread::get_id());
        };
    }

    std::vector<std::uint32_t> WaitFor(std::size_t n) {
        for (int i = 0; i < 400; ++i) {
            {
                std::lock_guard lock(mutex);
                if (messages.size() >= n) {
                    return messages;
                }
            }
            std::this_thread::sleep_for(5ms);
        }
        std::lock_guard lock(mutex);
        return messages;
    }
};

// Sends active sensing until the dump has printed one: the connection is then live in the
// server's graph (on a loaded machine that can take longer than any fixed pause).
bool LiveOnDump(MidiService& midi, MidiOutHandle out, testsupport::MidiDump& dump) {
    return testsupport::LiveOnDump(dump,
                                   [&] { (void)midi.SendShort(out, PackShortMessage(0xFE)); });
}

// What the dump has printed besides that active sensing.
std::vector<Bytes> WaitWithoutSensing(testsupport::MidiDump& dump, std::size_t n) {
    return testsupport::EventsWithout(dump, n, {Bytes{0xFE}});
}

// Sends active sensing until the input's callback has seen it, then forgets what it saw.
bool LiveOnInput(MidiService& sender, MidiOutHandle out, Received& received) {
    for (int i = 0; i < 100; ++i) {
        if (sender.SendShort(out, PackShortMessage(0xFE)) != MidiResult::NoError) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
        std::lock_guard lock(received.mutex);
        if (!received.messages.empty()) {
            received.messages.clear();
            received.threads.clear();
            return true;
        }
    }
    return false;
}

class MidiJackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server = testsupport::FixtureJackServer();
        ASSERT_FALSE(server.empty()) << "JACK_DEFAULT_SERVER is not set: run through ctest";
        midi = CreateMidiService("TbxTest", MidiBackend::Jack);
        ASSERT_EQ(midi->BackendName(), "JACK") << midi->BackendReason();
    }

    // Opens our output on jack_midi_dump's port.
    MidiOutHandle OpenOnDump(testsupport::MidiDump& dump) {
        EXPECT_TRUE(dump.Started());
        EXPECT_TRUE(dump.WaitForPort(5s));
        const int index = IndexOf(midi->ListOutputs(), dump.PortName());
        EXPECT_GT(index, 0);
        MidiOutHandle out = kNoHandle;
        EXPECT_EQ(midi->OpenOutput(index, out), MidiResult::NoError);
        return out;
    }

    std::string server;
    std::unique_ptr<MidiService> midi;
};

TEST_F(MidiJackTest, OwnVirtualPortComesFirstAndOwnPortsAreNeverListedAgain) {
    testsupport::MidiDump dump(server, "tbx-dump-list");
    ASSERT_TRUE(dump.WaitForPort(5s));
    auto outputs = midi->ListOutputs();
    ASSERT_GE(outputs.size(), 2u);
    EXPECT_EQ(outputs[0], "TbxTest");
    EXPECT_GT(IndexOf(outputs, dump.PortName()), 0);

    MidiOutHandle out = kNoHandle;
    MidiInHandle in = kNoHandle;
    ASSERT_EQ(midi->OpenOutput(0, out), MidiResult::NoError);
    ASSERT_EQ(midi->OpenInput(0, {}, in), MidiResult::NoError);
    for (const auto& name : midi->ListOutputs()) {
        EXPECT_EQ(name.rfind("TbxTest:", 0), std::string::npos) << name;
        EXPECT_EQ(name.rfind("TbxTest:in", 0), std::string::npos) << name;
    }
    for (const auto& name : midi->ListInputs()) {
        EXPECT_EQ(name.rfind("TbxTest:", 0), std::string::npos) << name;
    }
    // Another program sees our virtual ports under our name.
    auto other = CreateMidiService("Other", MidiBackend::Jack);
    EXPECT_GT(IndexOf(other->ListInputs(), "TbxTest:out"), 0);
    EXPECT_GT(IndexOf(other->ListOutputs(), "TbxTest:in"), 0);

    // One program holds a port once, like a device that only one client may open.
    MidiOutHandle again = kNoHandle;
    EXPECT_EQ(midi->OpenOutput(0, again), MidiResult::Allocated);
    EXPECT_EQ(midi->OpenOutput(static_cast<int>(midi->ListOutputs().size()), again),
              MidiResult::BadDeviceId);
}

TEST_F(MidiJackTest, ControlChangeAndLongSysexReachJackMidiDumpByteForByte) {
    testsupport::MidiDump dump(server, "tbx-dump-bytes");
    const MidiOutHandle out = OpenOnDump(dump);
    ASSERT_NE(out, kNoHandle);
    std::this_thread::sleep_for(50ms);  // let the connection settle before the first event

    Bytes sysex(300);
    sysex.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < sysex.size(); ++i) {
        sysex[i] = static_cast<std::uint8_t>(i & 0x7F);
    }
    sysex.back() = 0xF7;
    ASSERT_EQ(midi->SendShort(out, PackShortMessage(0xB0, 0x07, 0x46)), MidiResult::NoError);
    ASSERT_EQ(midi->SendLong(out, sysex), MidiResult::NoError);
    ASSERT_EQ(midi->SendShort(out, PackShortMessage(0xC2, 0x05, 0x7F)), MidiResult::NoError);
    ASSERT_EQ(midi->SendShort(out, PackShortMessage(0xF8)), MidiResult::NoError);

    const auto events = dump.WaitForEvents(4, 5s);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0], (Bytes{0xB0, 0x07, 0x46}));
    EXPECT_EQ(events[1], sysex);
    EXPECT_EQ(events[2], (Bytes{0xC2, 0x05}));  // program change is two bytes on the wire
    EXPECT_EQ(events[3], (Bytes{0xF8}));
}

TEST_F(MidiJackTest, ShortMessagesAndBlocksReachAPlainRtMidiInput) {
    RtMidiIn peer(RtMidi::UNIX_JACK, "TbxPeer");
    peer.ignoreTypes(false, false, false);
    peer.openVirtualPort("in");
    const int index = IndexOf(midi->ListOutputs(), "TbxPeer:in");
    ASSERT_GT(index, 0);
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(midi->OpenOutput(index, out), MidiResult::NoError);
    std::this_thread::sleep_for(50ms);

    Bytes block = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    std::vector<std::uint8_t> sent = block;
    ASSERT_EQ(midi->SendShort(out, PackShortMessage(0x91, 60, 100)), MidiResult::NoError);
    ASSERT_EQ(midi->SendLong(out, block), MidiResult::NoError);
    std::fill(block.begin(), block.end(), 0);  // the service copied it already

    std::vector<Bytes> got;
    for (int i = 0; i < 400 && got.size() < 2; ++i) {
        std::vector<unsigned char> message;
        peer.getMessage(&message);
        if (!message.empty()) {
            got.emplace_back(message.begin(), message.end());
        } else {
            std::this_thread::sleep_for(5ms);
        }
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], (Bytes{0x91, 60, 100}));
    EXPECT_EQ(got[1], sent);
}

TEST_F(MidiJackTest, InputDeliversClockAndSensingInOrderOffTheJackThread) {
    Received received;
    MidiInHandle in = kNoHandle;
    ASSERT_EQ(midi->OpenInput(0, received.Callback(), in), MidiResult::NoError);
    ASSERT_EQ(midi->StartInput(in), MidiResult::NoError);

    auto sender = CreateMidiService("TbxSender", MidiBackend::Jack);
    const int index = IndexOf(sender->ListOutputs(), "TbxTest:in");
    ASSERT_GT(index, 0);
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(sender->OpenOutput(index, out), MidiResult::NoError);
    std::this_thread::sleep_for(50ms);

    const std::vector<std::uint32_t> sent = {PackShortMessage(0xF8), PackShortMessage(0xFE),
                                             PackShortMessage(0xC0, 3),
                                             PackShortMessage(0x90, 64, 1), PackShortMessage(0xFC)};
    for (std::uint32_t m : sent) {
        ASSERT_EQ(sender->SendShort(out, m), MidiResult::NoError);
    }
    EXPECT_EQ(received.WaitFor(sent.size()), sent);
    {
        std::lock_guard lock(received.mutex);
        for (const auto& id : received.threads) {
            EXPECT_EQ(id, received.threads.front());  // one dispatcher, not the caller
            EXPECT_NE(id, std::this_thread::get_id());
        }
    }
    EXPECT_EQ(midi->InputStats(in).received, sent.size());
    EXPECT_EQ(midi->InputStats(in).overflowed, 0u);

    // Stopped input delivers nothing; closing guarantees the callback is done.
    ASSERT_EQ(midi->StopInput(in), MidiResult::NoError);
    ASSERT_EQ(sender->SendShort(out, PackShortMessage(0xF8)), MidiResult::NoError);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(received.WaitFor(0).size(), sent.size());
    EXPECT_EQ(midi->CloseInput(in), MidiResult::NoError);
    EXPECT_EQ(midi->CloseInput(in), MidiResult::InvalidHandle);
}

TEST_F(MidiJackTest, ThruForwardsFromOurInputToOurOutput) {
    testsupport::MidiDump dump(server, "tbx-dump-thru");
    const MidiOutHandle out = OpenOnDump(dump);
    ASSERT_NE(out, kNoHandle);
    ASSERT_TRUE(LiveOnDump(*midi, out, dump));
    Received received;
    MidiInHandle in = kNoHandle;
    ASSERT_EQ(midi->OpenInput(0, received.Callback(), in), MidiResult::NoError);
    ASSERT_EQ(midi->StartInput(in), MidiResult::NoError);

    auto sender = CreateMidiService("TbxSender", MidiBackend::Jack);
    MidiOutHandle senderOut = kNoHandle;
    ASSERT_EQ(sender->OpenOutput(IndexOf(sender->ListOutputs(), "TbxTest:in"), senderOut),
              MidiResult::NoError);
    ASSERT_TRUE(LiveOnInput(*sender, senderOut, received));
    ASSERT_EQ(midi->Connect(in, out), MidiResult::NoError);
    ASSERT_EQ(sender->SendShort(senderOut, PackShortMessage(0x90, 60, 99)), MidiResult::NoError);
    ASSERT_EQ(sender->SendShort(senderOut, PackShortMessage(0xF8)), MidiResult::NoError);
    const auto events = WaitWithoutSensing(dump, 2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (Bytes{0x90, 60, 99}));
    EXPECT_EQ(events[1], (Bytes{0xF8}));

    // Disconnected, the note off reaches our input and goes no further. The input forwards before
    // it hands a message on, so once the callback has seen the note off, a marker sent straight
    // to the output afterwards would arrive behind anything forwarded.
    ASSERT_EQ(midi->Disconnect(in, out), MidiResult::NoError);
    ASSERT_EQ(sender->SendShort(senderOut, PackShortMessage(0x80, 60, 0)), MidiResult::NoError);
    ASSERT_EQ(received.WaitFor(3).size(), 3u);
    ASSERT_EQ(midi->SendShort(out, PackShortMessage(0xFC)), MidiResult::NoError);
    EXPECT_EQ(WaitWithoutSensing(dump, 3), (std::vector<Bytes>{{0x90, 60, 99}, {0xF8}, {0xFC}}));
}

TEST_F(MidiJackTest, AReopenedPortReachesItsNewTargetOnly) {
    testsupport::MidiDump a(server, "tbx-dump-a");
    testsupport::MidiDump b(server, "tbx-dump-b");
    ASSERT_TRUE(a.WaitForPort(5s) && b.WaitForPort(5s));
    const auto outputs = midi->ListOutputs();
    const int toA = IndexOf(outputs, a.PortName());
    const int toB = IndexOf(outputs, b.PortName());
    MidiOutHandle out = kNoHandle;
    // A patch switch closes and reopens: on the same target, then on another, then back.
    for (const auto& [index, value] : {std::pair{toA, 1}, {toA, 2}, {toB, 3}, {toA, 4}}) {
        ASSERT_EQ(midi->OpenOutput(index, out), MidiResult::NoError);
        std::this_thread::sleep_for(50ms);
        ASSERT_EQ(midi->SendShort(out, PackShortMessage(0xB0, 7, value)), MidiResult::NoError);
        ASSERT_EQ(midi->CloseOutput(out), MidiResult::NoError);
        EXPECT_EQ(midi->SendShort(out, PackShortMessage(0xB0, 7, 99)), MidiResult::InvalidHandle);
    }
    EXPECT_EQ(a.WaitForEvents(3, 5s),
              (std::vector<Bytes>{{0xB0, 7, 1}, {0xB0, 7, 2}, {0xB0, 7, 4}}));
    EXPECT_EQ(b.WaitForEvents(1, 5s), (std::vector<Bytes>{{0xB0, 7, 3}}));
}

TEST_F(MidiJackTest, ClosedPortAndBadMessagesGiveResultsNotCrashes) {
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(midi->OpenOutput(0, out), MidiResult::NoError);
    EXPECT_EQ(midi->SendShort(out, PackShortMessage(0x40)), MidiResult::InvalidParam);
    EXPECT_EQ(midi->SendLong(out, {}), MidiResult::InvalidParam);
    ASSERT_EQ(midi->CloseOutput(out), MidiResult::NoError);
    EXPECT_EQ(midi->SendShort(out, PackShortMessage(0x90, 1, 1)), MidiResult::InvalidHandle);
    const Bytes block = {0xF0, 0xF7};
    EXPECT_EQ(midi->SendLong(out, block), MidiResult::InvalidHandle);
    EXPECT_EQ(midi->CloseOutput(out), MidiResult::InvalidHandle);
    EXPECT_EQ(midi->SendShort(kNoHandle, 0x90), MidiResult::InvalidHandle);
}

TEST_F(MidiJackTest, SendsFromTwoThreadsAtOnceAllArrive) {
    testsupport::MidiDump dump(server, "tbx-dump-threads");
    const MidiOutHandle out = OpenOnDump(dump);
    ASSERT_NE(out, kNoHandle);
    ASSERT_TRUE(LiveOnDump(*midi, out, dump));
    // Paced like a program's sends, so that jack_midi_dump keeps up; two interleaving writers
    // are what matters.
    auto burst = [&](std::uint8_t channel) {
        for (int i = 0; i < 200; ++i) {
            EXPECT_EQ(midi->SendShort(out, PackShortMessage(0xB0 | channel, 1, i & 0x7F)),
                      MidiResult::NoError);
            if (i % 5 == 4) {
                std::this_thread::sleep_for(1ms);
            }
        }
    };
    std::thread a(burst, 0), b(burst, 1);
    a.join();
    b.join();
    const auto events = WaitWithoutSensing(dump, 400);
    ASSERT_EQ(events.size(), 400u);
    int perChannel[2] = {0, 0};
    for (const auto& e : events) {
        ASSERT_EQ(e.size(), 3u);
        ++perChannel[e[0] & 0x0F];
    }
    EXPECT_EQ(perChannel[0], 200);
    EXPECT_EQ(perChannel[1], 200);
}

TEST_F(MidiJackTest, ShortSendAllocatesNothing) {
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(midi->OpenOutput(0, out), MidiResult::NoError);
    ASSERT_EQ(midi->SendShort(out, PackShortMessage(0xB0, 1, 0)), MidiResult::NoError);
    testsupport::AllocationCounter counter;
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(midi->SendShort(out, PackShortMessage(0xB0, 1, i)), MidiResult::NoError);
    }
    EXPECT_EQ(counter.Count(), 0u);
}

TEST_F(MidiJackTest, ThruIsCopiedInsideTheCycleAtTheFrameItArrived) {
    JackPeer source("tbx-thru-source", JackPeer::Role::Source);
    JackPeer sink("tbx-thru-sink", JackPeer::Role::Sink);
    ASSERT_TRUE(source.Ok() && sink.Ok());
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(midi->OpenOutput(IndexOf(midi->ListOutputs(), sink.Port("in")), out),
              MidiResult::NoError);
    Received received;
    MidiInHandle in = kNoHandle;
    ASSERT_EQ(midi->OpenInput(0, received.Callback(), in), MidiResult::NoError);
    ASSERT_EQ(midi->StartInput(in), MidiResult::NoError);
    ASSERT_EQ(midi->Connect(in, out), MidiResult::NoError);
    ASSERT_TRUE(source.Connect(source.Port("out"), "TbxTest:in"));
    std::this_thread::sleep_for(50ms);

    const std::vector<std::uint32_t> sent = {PackShortMessage(0x90, 60, 100),
                                             PackShortMessage(0xB0, 1, 64),
                                             PackShortMessage(0x80, 60, 0)};
    source.Send(sent[0], 3, 5);
    source.Send(sent[1], 3, 17);
    source.Send(sent[2], 3, 40);
    const auto arrivals = sink.WaitForArrivals(3, 5s);
    ASSERT_EQ(arrivals.size(), 3u);
    const auto frames = source.SentFrames();
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(arrivals[i].frame, frames[i])
            << "message " << i << " was not copied in its cycle";
        EXPECT_EQ(arrivals[i].bytes[0], sent[i] & 0xFF);
    }
    // The program still sees every message, in order, on its own thread.
    EXPECT_EQ(received.WaitFor(3), sent);
    EXPECT_EQ(midi->Counters().thru, 3u);
}

TEST_F(MidiJackTest, ABurstIsCarriedOverCyclesNotDropped) {
    JackPeer sink("tbx-burst-sink", JackPeer::Role::Sink);
    ASSERT_TRUE(sink.Ok());
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(midi->OpenOutput(IndexOf(midi->ListOutputs(), sink.Port("in")), out),
              MidiResult::NoError);
    std::this_thread::sleep_for(50ms);
    // A thousand blocks of 100 bytes: far more than one cycle's port buffer holds.
    constexpr int kBurst = 1000;
    Bytes block(100, 0x55);
    block.back() = 0xF7;
    for (int i = 0; i < kBurst; ++i) {
        block[0] = 0xF0;
        block[1] = static_cast<std::uint8_t>(i >> 7);
        block[2] = static_cast<std::uint8_t>(i & 0x7F);
        ASSERT_EQ(midi->SendLong(out, block), MidiResult::NoError);
    }
    const auto arrivals = sink.WaitForArrivals(kBurst, 5s);
    ASSERT_EQ(arrivals.size(), static_cast<std::size_t>(kBurst));
    for (int i = 0; i < kBurst; ++i) {
        ASSERT_EQ(arrivals[i].size, block.size());
        ASSERT_EQ((arrivals[i].bytes[1] << 7) | arrivals[i].bytes[2], i) << "out of order";
    }
    EXPECT_GT(arrivals.back().frame, arrivals.front().frame) << "all in one cycle";
    const MidiCounters counters = midi->Counters();
    EXPECT_GT(counters.carried, 0u);
    EXPECT_EQ(counters.dropped, 0u);
    EXPECT_EQ(counters.sent, static_cast<std::uint64_t>(kBurst));
}

// A 14-bit value's halves (and an NRPN sequence) arrive as separate events of one frame, many
// times over with other sends between the groups, never split across cycles.
TEST_F(MidiJackTest, GroupsOfShortMessagesArriveAsSeparateEventsAtOneFrame) {
    JackPeer sink("tbx-group-sink", JackPeer::Role::Sink);
    ASSERT_TRUE(sink.Ok());
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(midi->OpenOutput(IndexOf(midi->ListOutputs(), sink.Port("in")), out),
              MidiResult::NoError);
    std::this_thread::sleep_for(50ms);
    constexpr int kGroups = 300;
    for (int i = 0; i < kGroups; ++i) {
        const std::uint32_t pair[] = {PackShortMessage(0xB1, 0x01, i & 0x7F),
                                      PackShortMessage(0xB1, 0x21, (i * 3) & 0x7F)};
        ASSERT_EQ(midi->SendShorts(out, pair), MidiResult::NoError);
        ASSERT_EQ(midi->SendShort(out, PackShortMessage(0x91, 0x40, 0x01)), MidiResult::NoError);
        if (i % 50 == 0) {
            std::this_thread::sleep_for(1ms);
        }
    }
    const auto arrivals = sink.WaitForArrivals(3 * kGroups, 5s);
    ASSERT_EQ(arrivals.size(), 3u * kGroups);
    for (int i = 0; i < kGroups; ++i) {
        const auto& msb = arrivals[3 * i];
        const auto& lsb = arrivals[3 * i + 1];
        ASSERT_EQ(msb.size, 3u);
        ASSERT_EQ(lsb.size, 3u);
        ASSERT_EQ(msb.bytes,
                  (std::array<std::uint8_t, 3>{0xB1, 0x01, static_cast<std::uint8_t>(i & 0x7F)}));
        ASSERT_EQ(lsb.bytes, (std::array<std::uint8_t, 3>{
                                 0xB1, 0x21, static_cast<std::uint8_t>((i * 3) & 0x7F)}));
        ASSERT_EQ(msb.frame, lsb.frame) << i;
    }
    // jack_midi_dump, an outside reader, sees two events, not one of six bytes.
    testsupport::MidiDump dump(server, "tbx-dump-group");
    const MidiOutHandle toDump = OpenOnDump(dump);
    ASSERT_NE(toDump, kNoHandle);
    std::this_thread::sleep_for(50ms);
    const std::uint32_t pitch[] = {PackShortMessage(0xE0, 0x00, 0x40),
                                   PackShortMessage(0xB0, 0x65, 0x7F),
                                   PackShortMessage(0xB0, 0x64, 0x7F)};
    ASSERT_EQ(midi->SendShorts(toDump, pitch), MidiResult::NoError);
    const auto events = dump.WaitForEvents(3, 5s);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], (Bytes{0xE0, 0x00, 0x40}));
    EXPECT_EQ(events[1], (Bytes{0xB0, 0x65, 0x7F}));
    EXPECT_EQ(events[2], (Bytes{0xB0, 0x64, 0x7F}));
}

TEST_F(MidiJackTest, SwitchingOutputsLeavesOneClientAndOnlyTheOpenPort) {
    JackPeer a("tbx-switch-a", JackPeer::Role::Sink);
    JackPeer b("tbx-switch-b", JackPeer::Role::Sink);
    ASSERT_TRUE(a.Ok() && b.Ok());
    MidiOutHandle out = kNoHandle;
    ASSERT_EQ(midi->OpenOutput(IndexOf(midi->ListOutputs(), a.Port("in")), out),
              MidiResult::NoError);
    // Active sensing until one arrives: the connection is then live in the server's graph (a
    // loaded machine, or the sanitizers, can take longer than any fixed pause), and what came
    // of it has settled.
    std::size_t live = 0;
    for (int i = 0; i < 250 && live == 0; ++i) {
        ASSERT_EQ(midi->SendShort(out, PackShortMessage(0xFE)), MidiResult::NoError);
        live = a.WaitForArrivals(1, 20ms).size();
    }
    ASSERT_GT(live, 0u);
    for (std::size_t now = 0; (now = a.WaitForArrivals(live + 1, 200ms).size()) != live;) {
        live = now;
    }
    ASSERT_EQ(midi->SendShort(out, PackShortMessage(0x90, 60, 1)), MidiResult::NoError);
    ASSERT_EQ(midi->CloseOutput(out), MidiResult::NoError);
    ASSERT_EQ(midi->OpenOutput(IndexOf(midi->ListOutputs(), b.Port("in")), out),
              MidiResult::NoError);
    // What was sent before the close still went out, on the port that was closed.
    const auto arrived = a.WaitForArrivals(live + 1, 5s);
    ASSERT_EQ(arrived.size(), live + 1);
    EXPECT_EQ(arrived.back().bytes[0], 0x90);

    jack_status_t status{};
    jack_client_t* probe = jack_client_open("tbx-switch-probe", JackNoStartServer, &status);
    ASSERT_NE(probe, nullptr);
    std::vector<std::string> ours;
    const char** ports = jack_get_ports(probe, "^TbxTest", nullptr, 0);
    for (const char** p = ports; p != nullptr && *p != nullptr; ++p) {
        ours.emplace_back(*p);
    }
    jack_free(ports);
    jack_client_close(probe);
    EXPECT_EQ(ours, (std::vector<std::string>{"TbxTest:to " + b.Port("in")}));
}

// Not on the shared server: this one is killed and started again.
TEST(MidiJackServerLoss, SendsFailAtOnceWhileTheServerIsGoneAndThePortsComeBackWithIt) {
    // A name of its own but the same every run, whatever the build: JACK frees a killed
    // server's slot only when a server of the same name starts again.
    ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
    const std::string previous = testsupport::FixtureJackServer();
    auto doomed = std::make_unique<testsupport::JackTestServer>("tamborex-test-doomed");
    ASSERT_TRUE(doomed->Running());
    doomed->MakeDefault();
    auto midi = CreateMidiService("TbxDoomed", MidiBackend::Jack);
    ASSERT_EQ(midi->BackendName(), "JACK") << midi->BackendReason();
    std::atomic<int> delivered{0};
    MidiOutHandle out = kNoHandle;
    MidiInHandle in = kNoHandle;
    {
        JackPeer sink("tbx-doomed-sink", JackPeer::Role::Sink);
        ASSERT_TRUE(sink.Ok());
        ASSERT_EQ(midi->OpenOutput(IndexOf(midi->ListOutputs(), sink.Port("in")), out),
                  MidiResult::NoError);
        ASSERT_EQ(midi->OpenInput(
                      0, [&](std::uint32_t, std::uint32_t) { ++delivered; }, in),
                  MidiResult::NoError);
        ASSERT_EQ(midi->StartInput(in), MidiResult::NoError);
        ASSERT_EQ(midi->SendShort(out, PackShortMessage(0x90, 60, 100)), MidiResult::NoError);
        ASSERT_EQ(sink.WaitForArrivals(1, 5s).size(), 1u);

        doomed->Kill();
        // Far more sends than any queue holds: each fails at once, none blocks.
        const auto start = std::chrono::steady_clock::now();
        MidiResult last = MidiResult::NoError;
        std::uint64_t failed = 0;
        for (int i = 0; i < 100000 && (last == MidiResult::NoError || i < 50000); ++i) {
            last = midi->SendShort(out, PackShortMessage(0x90, 60, 100));
            failed += last == MidiResult::NoError ? 0 : 1;
            if (last == MidiResult::NoError && i % 100 == 0) {
                std::this_thread::sleep_for(1ms);
            }
        }
        EXPECT_EQ(last, MidiResult::NoDevice);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        const Bytes block = {0xF0, 0x01, 0xF7};
        EXPECT_EQ(midi->SendLong(out, block), MidiResult::NoDevice);
        // Every one that failed is counted, as are those still queued when the server went.
        EXPECT_GE(midi->Counters().dropped, failed + 1);
        MidiOutHandle again = kNoHandle;
        EXPECT_NE(midi->OpenOutput(1, again), MidiResult::NoError);
    }

    // The server returns, and so does the synth: the same handles reach it again, and our own
    // input is back under its name, without anything being reopened by hand.
    doomed = std::make_unique<testsupport::JackTestServer>("tamborex-test-doomed");
    ASSERT_TRUE(doomed->Running());
    JackPeer sink("tbx-doomed-sink", JackPeer::Role::Sink);
    JackPeer source("tbx-doomed-source", JackPeer::Role::Source);
    ASSERT_TRUE(sink.Ok() && source.Ok());
    bool back = false;
    for (int i = 0; i < 100 && !back; ++i) {
        std::this_thread::sleep_for(50ms);
        back = midi->SendShort(out, PackShortMessage(0x91, 61, 101)) == MidiResult::NoError &&
               !sink.WaitForArrivals(1, 100ms).empty();
    }
    EXPECT_TRUE(back) << "the output never reached the returned synth";
    EXPECT_EQ(midi->Counters().reconnects, 1u);
    ASSERT_TRUE(source.Connect(source.Port("out"), "TbxDoomed:in"));
    std::this_thread::sleep_for(50ms);
    const int before = delivered;
    source.Send(PackShortMessage(0xF8), 1);
    for (int i = 0; i < 100 && delivered == before; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(delivered, before + 1);
    EXPECT_EQ(midi->CloseInput(in), MidiResult::NoError);
    EXPECT_EQ(midi->CloseOutput(out), MidiResult::NoError);
    midi.reset();
    setenv("JACK_DEFAULT_SERVER", previous.c_str(), 1);
}

TEST(MidiBackendChoice, NoneGivesAnHonestEmptySystem) {
    auto midi = CreateMidiService("TbxNone", MidiBackend::None);
    EXPECT_EQ(midi->BackendName(), "none");
    EXPECT_TRUE(midi->ListOutputs().empty());
    EXPECT_TRUE(midi->ListInputs().empty());
    MidiOutHandle out = kNoHandle;
    EXPECT_EQ(midi->OpenOutput(0, out), MidiResult::BadDeviceId);
    EXPECT_EQ(midi->SendShort(out, 0x90), MidiResult::InvalidHandle);
}

TEST(MidiBackendChoice, AutomaticExplainsItsChoice) {
    auto midi = CreateMidiService("TbxAuto");
    EXPECT_FALSE(midi->BackendReason().empty());
    if (midi->BackendName() == "JACK") {
        EXPECT_NE(midi->BackendReason().find("ALSA sequencer unavailable: "), std::string::npos);
    }
}

}  // namespace
}  // namespace platform
