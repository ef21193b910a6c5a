// The single-producer single-consumer ring that carries stream callbacks to their worker.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "LocklessQueue_SPSC.h"

using Pelmorax::LocklessQueue_SPSC;

TEST(LocklessQueue, OneSlotAlwaysStaysEmpty) {
    LocklessQueue_SPSC<int> queue(500);
    for (int i = 0; i < 499; ++i) {
        int value = i;
        ASSERT_TRUE(queue.push(std::move(value))) << i;
    }
    int refused = 499;
    EXPECT_FALSE(queue.push(std::move(refused)));
    int value = -1;
    ASSERT_TRUE(queue.pop(value));
    EXPECT_EQ(value, 0);
    int again = 500;
    EXPECT_TRUE(queue.push(std::move(again)));
}

TEST(LocklessQueue, PopsInOrderAcrossTheWrap) {
    LocklessQueue_SPSC<int> queue(4);
    int out = 0;
    EXPECT_FALSE(queue.pop(out));
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 3; ++i) {
            int v = round * 10 + i;
            ASSERT_TRUE(queue.push(std::move(v)));
        }
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(queue.pop(out));
            EXPECT_EQ(out, round * 10 + i);
        }
        EXPECT_FALSE(queue.pop(out));
    }
}

TEST(LocklessQueue, RefusedElementStaysWithTheCaller) {
    LocklessQueue_SPSC<std::unique_ptr<int>> queue(2);
    auto first = std::make_unique<int>(1);
    ASSERT_TRUE(queue.push(std::move(first)));
    auto second = std::make_unique<int>(2);
    EXPECT_FALSE(queue.push(std::move(second)));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(*second, 2);
}

TEST(LocklessQueue, ProducerAndConsumerThreadsHandOverEverything) {
    LocklessQueue_SPSC<uint32_t> queue(64);
    constexpr uint32_t kCount = 100000;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kCount;) {
            uint32_t v = i;
            if (queue.push(std::move(v))) {
                ++i;
            } else {
                std::this_thread::yield();
            }
        }
    });
    uint32_t expected = 0;
    uint32_t outOfOrder = 0;
    while (expected < kCount) {
        uint32_t v;
        if (queue.pop(v)) {
            outOfOrder += v != expected ? 1 : 0;
            ++expected;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_EQ(outOfOrder, 0u);
}
