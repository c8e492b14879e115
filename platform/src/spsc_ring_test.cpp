#include "platform/spsc_ring.h"

#include <gtest/gtest.h>

#include <thread>

namespace platform {
namespace {

TEST(SpscRing, RefusesWhenFullAndKeepsOrderAcrossWrap) {
    SpscRing<int, 4> ring;
    for (int round = 0; round < 3; ++round) {  // wraps the indices several times
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(ring.TryPush(round * 10 + i));
        }
        EXPECT_FALSE(ring.TryPush(99));
        int value = -1;
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(ring.TryPop(value));
            EXPECT_EQ(value, round * 10 + i);
        }
        EXPECT_FALSE(ring.TryPop(value));
    }
}

TEST(SpscRing, ProducerThreadHandsEveryItemOverInOrder) {
    SpscRing<std::uint32_t, 64> ring;
    constexpr std::uint32_t kCount = 200000;
    std::thread producer([&] {
        for (std::uint32_t i = 0; i < kCount;) {
            if (ring.TryPush(i)) {
                ++i;
            }
        }
    });
    std::uint32_t expected = 0;
    while (expected < kCount) {
        std::uint32_t value;
        if (ring.TryPop(value)) {
            ASSERT_EQ(value, expected);
            ++expected;
        }
    }
    producer.join();
}

}  // namespace
}  // namespace platform
