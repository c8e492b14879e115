#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/timer.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

void WaitFor(const std::atomic<int>& count, int atLeast) {
    for (int i = 0; i < 2000 && count.load() < atLeast; ++i) {
        std::this_thread::sleep_for(1ms);
    }
}

TEST(PeriodicTimer, RefusesPeriodsOutsideItsCapsAndEmptyCallbacks) {
    auto timer = CreatePeriodicTimer();
    const TimerCaps caps = timer->GetCaps();
    EXPECT_FALSE(timer->Start(caps.minPeriodMs - 1, [] {}));
    EXPECT_FALSE(timer->Start(caps.maxPeriodMs + 1, [] {}));
    EXPECT_FALSE(timer->Start(10, nullptr));
    EXPECT_FALSE(timer->Running());
    EXPECT_TRUE(timer->BeginResolution(1));
    EXPECT_TRUE(timer->EndResolution(1));
}

TEST(PeriodicTimer, NoTickRunsOrStartsAfterStopReturns) {
    auto timer = CreatePeriodicTimer();
    std::atomic<int> ticks{0};
    std::atomic<bool> inside{false};
    ASSERT_TRUE(timer->Start(1, [&] {
        inside = true;
        std::this_thread::sleep_for(3ms);  // make it likely Stop lands mid-tick
        ++ticks;
        inside = false;
    }));
    WaitFor(ticks, 3);
    timer->Stop();
    EXPECT_FALSE(inside.load());
    const int after = ticks.load();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(ticks.load(), after);
    EXPECT_FALSE(timer->Running());
}

TEST(PeriodicTimer, StopFromInsideTheTickEndsTicking) {
    auto timer = CreatePeriodicTimer();
    std::atomic<int> ticks{0};
    ASSERT_TRUE(timer->Start(1, [&] {
        if (++ticks == 2) {
            timer->Stop();
        }
    }));
    WaitFor(ticks, 2);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(ticks.load(), 2);
    timer->Stop();  // from outside as well: joins the finished thread
    EXPECT_FALSE(timer->Running());
}

TEST(PeriodicTimer, RestartReplacesTheCallbackAndOverrunsNeverOverlap) {
    auto timer = CreatePeriodicTimer();
    std::atomic<int> first{0};
    ASSERT_TRUE(timer->Start(1, [&] { ++first; }));
    WaitFor(first, 1);
    std::atomic<int> concurrent{0};
    std::atomic<int> worst{0};
    std::atomic<int> second{0};
    ASSERT_TRUE(timer->Start(1, [&] {
        const int now = ++concurrent;
        worst = std::max(worst.load(), now);
        std::this_thread::sleep_for(4ms);  // longer than the period
        --concurrent;
        ++second;
    }));
    const int firstFinal = first.load();
    WaitFor(second, 5);
    timer->Stop();
    EXPECT_EQ(first.load(), firstFinal);
    EXPECT_EQ(worst.load(), 1);
}

TEST(PeriodicTimer, TickSoonRunsOneTickAtOnceOnTheTimersThread) {
    auto timer = CreatePeriodicTimer();
    timer->TickSoon();  // stopped: nothing
    std::atomic<int> ticks{0};
    std::atomic<bool> onCaller{false};
    const auto caller = std::this_thread::get_id();
    ASSERT_TRUE(timer->Start(1000, [&] {
        onCaller = onCaller || std::this_thread::get_id() == caller;
        ++ticks;
    }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ticks, 0);
    timer->TickSoon();
    WaitFor(ticks, 1);
    EXPECT_EQ(ticks, 1);  // long before the first period ends
    timer->TickSoon();
    timer->TickSoon();
    std::this_thread::sleep_for(50ms);
    EXPECT_GE(ticks, 2);
    EXPECT_LE(ticks, 3);  // requests made before a tick runs are one
    EXPECT_FALSE(onCaller);
    timer->Stop();
}

}  // namespace
}  // namespace platform
