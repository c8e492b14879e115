#include "tamborex/engine/midi_inbox.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// A user-interface thread that falls far behind (a modal dialog, a slow file) must still get
// every message, in the order it arrived, and the input thread is told to wake it only once.
TEST(MidiInbox, AReaderFarBehindLosesAndReordersNothing) {
    CMidiInbox inbox;
    constexpr std::uint32_t kMessages = 20000;  // several times the ring
    int wakes = 0;
    std::thread input([&] {
        for (std::uint32_t i = 0; i < kMessages; ++i) {
            wakes += inbox.Push(i) ? 1 : 0;
        }
    });
    input.join();
    EXPECT_EQ(wakes, 1);
    std::vector<std::uint32_t> got;
    inbox.Drain([&](std::uint32_t m) { got.push_back(m); });
    ASSERT_EQ(got.size(), kMessages);
    for (std::uint32_t i = 0; i < kMessages; ++i) {
        ASSERT_EQ(got[i], i);
    }
    // Drained, it takes the ring again and asks for a new wake-up.
    EXPECT_TRUE(inbox.Push(7));
    got.clear();
    inbox.Drain([&](std::uint32_t m) { got.push_back(m); });
    EXPECT_EQ(got, (std::vector<std::uint32_t>{7}));
}

// Reader and writer at once, the reader draining whenever woken: order holds across the switch
// between ring and overflow.
TEST(MidiInbox, ConcurrentBurstsArriveInOrder) {
    CMidiInbox inbox;
    constexpr std::uint32_t kMessages = 200000;
    std::atomic<int> pendingWakes{0};
    std::thread input([&] {
        for (std::uint32_t i = 0; i < kMessages; ++i) {
            if (inbox.Push(i)) {
                pendingWakes.fetch_add(1);
            }
        }
    });
    std::uint32_t next = 0;
    bool inOrder = true;
    while (next < kMessages) {
        if (pendingWakes.load() == 0) {
            std::this_thread::yield();
            continue;
        }
        pendingWakes.fetch_sub(1);
        inbox.Drain([&](std::uint32_t m) { inOrder = inOrder && m == next++; });
    }
    input.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(next, kMessages);
}

}  // namespace
