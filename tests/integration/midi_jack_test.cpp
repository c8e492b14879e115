// The real MIDI service on a private JACK server, checked from the outside with jack_midi_dump
// and with plain RtMidi ports.

#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "alloc_counter.h"
#include "jack_server.h"
#include "platform/midi.h"

namespace platform {
namespace {

using testsupport::IndexOf;

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
        EXPECT_EQ(name.rfind("TbxTest In:", 0), std::string::npos) << name;
    }
    for (const auto& name : midi->ListInputs()) {
        EXPECT_EQ(name.rfind("TbxTest:", 0), std::string::npos) << name;
    }
    // Another program sees our virtual ports under our name.
    auto other = CreateMidiService("Other", MidiBackend::Jack);
    EXPECT_GT(IndexOf(other->ListInputs(), "TbxTest:out"), 0);
    EXPECT_GT(IndexOf(other->ListOutputs(), "TbxTest In:in"), 0);

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
    const int index = IndexOf(sender->ListOutputs(), "TbxTest In:in");
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
    Received received;
    MidiInHandle in = kNoHandle;
    ASSERT_EQ(midi->OpenInput(0, received.Callback(), in), MidiResult::NoError);
    ASSERT_EQ(midi->StartInput(in), MidiResult::NoError);
    ASSERT_EQ(midi->Connect(in, out), MidiResult::NoError);

    auto sender = CreateMidiService("TbxSender", MidiBackend::Jack);
    MidiOutHandle senderOut = kNoHandle;
    ASSERT_EQ(sender->OpenOutput(IndexOf(sender->ListOutputs(), "TbxTest In:in"), senderOut),
              MidiResult::NoError);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(sender->SendShort(senderOut, PackShortMessage(0x90, 60, 99)), MidiResult::NoError);
    ASSERT_EQ(sender->SendShort(senderOut, PackShortMessage(0xF8)), MidiResult::NoError);
    const auto events = dump.WaitForEvents(2, 5s);
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
    EXPECT_EQ(dump.WaitForEvents(3, 5s), (std::vector<Bytes>{{0x90, 60, 99}, {0xF8}, {0xFC}}));
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
    std::this_thread::sleep_for(50ms);
    // Paced: a JACK cycle carries only as many events as its port buffer (period x 4 bytes)
    // holds, and RtMidi drops the rest of a burst. Two interleaving writers are what matters.
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
    const auto events = dump.WaitForEvents(400, 5s);
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

// Not on the shared server: this one is killed.
TEST(MidiJackServerLoss, ServerGoingAwayGivesFailingResultsAndNoHang) {
    // A name of its own but the same every run, whatever the build: JACK frees a killed
    // server's slot only when a server of the same name starts again.
    ASSERT_FALSE(testsupport::FixtureJackServer().empty()) << "run through ctest";
    testsupport::JackTestServer doomed("tamborex-test-doomed");
    ASSERT_TRUE(doomed.Running());
    const std::string previous = testsupport::FixtureJackServer();
    doomed.MakeDefault();
    auto midi = CreateMidiService("TbxDoomed", MidiBackend::Jack);
    ASSERT_EQ(midi->BackendName(), "JACK") << midi->BackendReason();
    std::atomic<int> delivered{0};
    MidiOutHandle out = kNoHandle;
    MidiInHandle in = kNoHandle;
    ASSERT_EQ(midi->OpenOutput(0, out), MidiResult::NoError);
    ASSERT_EQ(midi->OpenInput(
                  0, [&](std::uint32_t, std::uint32_t) { ++delivered; }, in),
              MidiResult::NoError);
    ASSERT_EQ(midi->StartInput(in), MidiResult::NoError);
    ASSERT_EQ(midi->SendShort(out, PackShortMessage(0x90, 60, 100)), MidiResult::NoError);

    doomed.Kill();
    // Enough sends to fill the backend's ring many times over if they were still queued.
    MidiResult last = MidiResult::NoError;
    for (int i = 0; i < 5000 && last == MidiResult::NoError; ++i) {
        last = midi->SendShort(out, PackShortMessage(0x90, 60, 100));
        if (i % 100 == 0) {
            std::this_thread::sleep_for(1ms);
        }
    }
    EXPECT_EQ(last, MidiResult::NoDevice);
    const Bytes block = {0xF0, 0x01, 0xF7};
    EXPECT_EQ(midi->SendLong(out, block), MidiResult::NoDevice);
    MidiOutHandle again = kNoHandle;
    EXPECT_NE(midi->OpenOutput(1, again), MidiResult::NoError);
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
