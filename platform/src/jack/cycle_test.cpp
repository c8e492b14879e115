#include "cycle.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace platform::jack {
namespace {

// A port buffer kept as JACK keeps one: events in time order within the cycle, a fixed room.
class TestBuffer final : public CycleBuffer {
  public:
    struct Stored {
        std::uint32_t time;
        std::vector<std::uint8_t> bytes;
    };

    TestBuffer(std::uint32_t frames, std::size_t room) : frames_(frames), room_(room) {}

    std::uint32_t EventCount() const override { return static_cast<std::uint32_t>(events.size()); }
    bool Event(std::uint32_t index, CycleEvent& event) const override {
        if (index >= events.size()) {
            return false;
        }
        event = {events[index].time, events[index].bytes.data(), events[index].bytes.size()};
        return true;
    }
    std::uint8_t* Reserve(std::uint32_t frame, std::size_t size) override {
        if (frame >= frames_ || (!events.empty() && frame < events.back().time) ||
            size > Largest()) {
            return nullptr;
        }
        used_ += size;
        events.push_back({frame, std::vector<std::uint8_t>(size)});
        return events.back().bytes.data();
    }
    std::size_t Largest() const override { return room_ - used_; }

    void Add(std::uint32_t time, std::vector<std::uint8_t> bytes) {
        events.push_back({time, std::move(bytes)});
    }

    std::vector<Stored> events;

  private:
    std::uint32_t frames_;
    std::size_t room_;
    std::size_t used_ = 0;
};

constexpr std::uint32_t kFrames = 64;

std::vector<std::uint8_t> Numbered(int n) {
    return {static_cast<std::uint8_t>(0xB0 | ((n >> 14) & 0x0F)),
            static_cast<std::uint8_t>((n >> 7) & 0x7F), static_cast<std::uint8_t>(n & 0x7F)};
}

int NumberOf(const std::vector<std::uint8_t>& bytes) {
    return ((bytes[0] & 0x0F) << 14) | (bytes[1] << 7) | bytes[2];
}

// Sends from the program's thread race the cycle that takes them: every message must come out
// once, whole and in order, however the two interleave, with records of several sizes wrapping
// around a small queue at every offset.
TEST(JackCycleTest, SendsRacingTheCycleComeOutOnceWholeAndInOrder) {
    constexpr int kMessages = 200000;
    OutputCarry carry(256);
    CycleCounters counters;
    std::thread producer([&] {
        for (int n = 0; n < kMessages; ++n) {
            std::vector<std::uint8_t> bytes = Numbered(n);
            bytes.resize(3 + static_cast<std::size_t>(n % 7), 0x55);  // 3 to 9 bytes
            while (!carry.sends.Push(0, bytes.data(), bytes.size())) {
                std::this_thread::yield();
            }
        }
    });
    int expected = 0;
    bool whole = true;
    for (std::uint32_t cycle = 0; expected < kMessages && whole; ++cycle) {
        TestBuffer out(kFrames, 64);
        carry.Merge(out, 1, kFrames, cycle * kFrames, {}, counters);
        for (const auto& e : out.events) {
            whole = e.bytes.size() == 3 + static_cast<std::size_t>(expected % 7) &&
                    NumberOf(e.bytes) == expected;
            ASSERT_TRUE(whole) << "message " << expected << " came out as number "
                               << NumberOf(e.bytes) << " of " << e.bytes.size() << " bytes";
            ++expected;
        }
    }
    producer.join();
    EXPECT_EQ(expected, kMessages);
    EXPECT_EQ(counters.sent.load(), static_cast<std::uint64_t>(kMessages));
    EXPECT_EQ(counters.dropped.load(), 0u);
}

// Thru copies from two inputs and the program's own sends share one output in time order; what
// a full buffer cannot take comes first in the next cycle, each message exactly once.
TEST(JackCycleTest, ThruAndSendsMergeInTimeAndWhatDoesNotFitComesNextCycleOnce) {
    constexpr MidiOutHandle kOut = 33;
    OutputCarry carry(1 << 12);
    CycleCounters counters;
    const std::uint32_t cycleStart = 1000;
    // Sent during the previous period at its frames 10 and 40: they play at 10 and 40 here.
    for (const auto& [frame, n] : {std::pair{10u, 100}, std::pair{40u, 101}}) {
        const auto bytes = Numbered(n);
        carry.sends.Push(cycleStart - kFrames + frame, bytes.data(), bytes.size());
    }
    TestBuffer inA(kFrames, 1024);
    inA.Add(5, Numbered(1));
    inA.Add(30, Numbered(2));
    inA.Add(50, Numbered(3));
    TestBuffer inB(kFrames, 1024);
    inB.Add(20, Numbered(11));
    inB.Add(45, Numbered(12));
    TestBuffer elsewhere(kFrames, 1024);  // an input whose thru goes to another output
    elsewhere.Add(0, Numbered(99));
    std::array<ThruSource, 3> thru{{{&inA, 0, inA.EventCount(), kOut},
                                    {&inB, 0, inB.EventCount(), kOut},
                                    {&elsewhere, 0, elsewhere.EventCount(), kOut + 32}}};

    // Room for four messages in this cycle.
    TestBuffer first(kFrames, 12);
    EXPECT_FALSE(carry.Merge(first, kOut, kFrames, cycleStart, thru, counters));
    std::vector<int> order;
    std::vector<std::uint32_t> times;
    for (const auto& e : first.events) {
        order.push_back(NumberOf(e.bytes));
        times.push_back(e.time);
    }
    EXPECT_EQ(order, (std::vector<int>{1, 100, 11, 2}));
    EXPECT_EQ(times, (std::vector<std::uint32_t>{5, 10, 20, 30}));

    TestBuffer second(kFrames, 1024);
    std::array<ThruSource, 0> none{};
    EXPECT_TRUE(carry.Merge(second, kOut, kFrames, cycleStart + kFrames, none, counters));
    order.clear();
    for (const auto& e : second.events) {
        order.push_back(NumberOf(e.bytes));
    }
    // The carried thru copies first, at the start, then the send that waited.
    EXPECT_EQ(order, (std::vector<int>{12, 3, 101}));
    EXPECT_EQ(counters.thru.load(), 5u);
    EXPECT_EQ(counters.sent.load(), 2u);
    EXPECT_EQ(counters.carried.load(), 3u);
    EXPECT_EQ(counters.dropped.load(), 0u);

    // Nothing is left to come out again.
    TestBuffer third(kFrames, 1024);
    EXPECT_TRUE(carry.Merge(third, kOut, kFrames, cycleStart + 2 * kFrames, none, counters));
    EXPECT_TRUE(third.events.empty());
}

// A message no buffer of this server can hold is dropped and counted, and the ones behind it
// still go; what waits when the server goes is counted as dropped, not sent later.
TEST(JackCycleTest, OversizedAndDiscardedMessagesAreCountedNotSent) {
    OutputCarry carry(1 << 12);
    CycleCounters counters;
    const std::vector<std::uint8_t> huge(100, 0xF7);
    const auto small = Numbered(7);
    carry.sends.Push(0, huge.data(), huge.size());
    carry.sends.Push(0, small.data(), small.size());
    TestBuffer out(kFrames, 50);
    EXPECT_TRUE(carry.Merge(out, 1, kFrames, 0, {}, counters));
    ASSERT_EQ(out.events.size(), 1u);
    EXPECT_EQ(NumberOf(out.events[0].bytes), 7);
    EXPECT_EQ(counters.dropped.load(), 1u);

    carry.sends.Push(0, small.data(), small.size());
    carry.sends.Push(0, small.data(), small.size());
    carry.Discard(counters);
    EXPECT_TRUE(carry.sends.Empty());
    EXPECT_EQ(counters.dropped.load(), 3u);
    EXPECT_EQ(counters.sent.load(), 1u);
}

// The halves of a 14-bit value go out as separate events at one frame, with no thru copy
// between them, and a cycle without room for both leaves both for the next.
TEST(JackCycleTest, AGroupOfShortMessagesComesOutTogetherOrWaitsTogether) {
    constexpr MidiOutHandle kOut = 5;
    OutputCarry carry(1 << 12);
    CycleCounters counters;
    const std::uint32_t cycleStart = 640;
    const std::uint8_t pair[6] = {0xB0, 0x01, 0x40, 0xB0, 0x21, 0x05};
    carry.sends.Push(cycleStart - kFrames + 20, pair, sizeof pair, 2);
    TestBuffer in(kFrames, 1024);
    in.Add(19, Numbered(1));
    in.Add(20, Numbered(2));
    std::array<ThruSource, 1> thru{{{&in, 0, in.EventCount(), kOut}}};
    TestBuffer out(kFrames, 1024);
    EXPECT_TRUE(carry.Merge(out, kOut, kFrames, cycleStart, thru, counters));
    ASSERT_EQ(out.events.size(), 4u);
    EXPECT_EQ(NumberOf(out.events[0].bytes), 1);
    EXPECT_EQ(out.events[1].bytes, (std::vector<std::uint8_t>{0xB0, 0x01, 0x40}));
    EXPECT_EQ(out.events[2].bytes, (std::vector<std::uint8_t>{0xB0, 0x21, 0x05}));
    EXPECT_EQ(out.events[1].time, 20u);
    EXPECT_EQ(out.events[2].time, 20u);
    EXPECT_EQ(NumberOf(out.events[3].bytes), 2);  // at the same frame, but after the group
    EXPECT_EQ(counters.sent.load(), 2u);

    // Room for one half only: neither goes, and both come in the next cycle.
    carry.sends.Push(cycleStart, pair, sizeof pair, 2);
    TestBuffer tight(kFrames, 20);
    EXPECT_FALSE(carry.Merge(tight, kOut, kFrames, cycleStart + kFrames, {}, counters));
    EXPECT_TRUE(tight.events.empty());
    TestBuffer next(kFrames, 1024);
    EXPECT_TRUE(carry.Merge(next, kOut, kFrames, cycleStart + 2 * kFrames, {}, counters));
    ASSERT_EQ(next.events.size(), 2u);
    EXPECT_EQ(next.events[0].time, next.events[1].time);
    EXPECT_EQ(counters.dropped.load(), 0u);
}

}  // namespace
}  // namespace platform::jack
