#include "input_hand_off.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// What the backend's thread offers reaches the callback in order, the thru step before each;
// what a full queue cannot take is counted, never blocks the backend, and once the queue has
// room again nothing more is lost.
TEST(InputHandOffTest, DeliversInOrderAndCountsWhatAFullQueueRefuses) {
    InputHandOff handOff;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint32_t> seen;  // thru steps marked with the top bit
    handOff.Start(
        [&](std::uint32_t message, std::uint32_t ms) {
            released.wait();  // the dispatcher is stuck until everything has been offered
            EXPECT_EQ(ms, message * 2);
            std::lock_guard lock(mutex);
            seen.push_back(message);
            changed.notify_all();
        },
        [&](std::uint32_t message) {
            std::lock_guard lock(mutex);
            seen.push_back(message | 0x80000000u);
        });
    constexpr std::uint32_t kOffered = 5000;  // more than the queue holds
    std::uint32_t taken = 0;
    for (std::uint32_t m = 0; m < kOffered; ++m) {
        if (handOff.Offer(m, m * 2)) {
            handOff.Wake(1);
            ++taken;
        }
    }
    EXPECT_EQ(handOff.Stats().received, taken);
    EXPECT_EQ(handOff.Stats().overflowed, kOffered - taken);
    ASSERT_LT(taken, kOffered);
    release.set_value();
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return seen.size() == 2 * taken; });
    EXPECT_TRUE(handOff.Offer(taken, taken * 2));
    handOff.Wake(1);
    changed.wait(lock, [&] { return seen.size() == 2 * (taken + 1); });
    for (std::uint32_t m = 0; m <= taken; ++m) {
        ASSERT_EQ(seen[2 * m], m | 0x80000000u);
        ASSERT_EQ(seen[2 * m + 1], m);
    }
}

// Stopping waits for a callback that is running, and no callback runs after Stop returns.
TEST(InputHandOffTest, StopWaitsForTheRunningCallbackAndNoneRunsAfter) {
    InputHandOff handOff;
    std::promise<void> entered;
    std::promise<void> leave;
    std::shared_future<void> leaving = leave.get_future().share();
    std::atomic<int> calls{0};
    std::atomic<bool> stopped{false};
    handOff.Start([&](std::uint32_t, std::uint32_t) {
        EXPECT_FALSE(stopped.load());
        if (calls.fetch_add(1) == 0) {
            entered.set_value();
            leaving.wait();
        }
    });
    for (std::uint32_t m = 0; m < 10; ++m) {
        handOff.Offer(m, 0);
    }
    handOff.Wake(10);
    entered.get_future().wait();
    auto stopping = std::async(std::launch::async, [&] {
        handOff.Stop();
        stopped.store(true);
    });
    EXPECT_EQ(stopping.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    leave.set_value();
    stopping.wait();
    EXPECT_TRUE(stopped.load());
    EXPECT_LE(calls.load(), 10);
}

}  // namespace
}  // namespace platform
