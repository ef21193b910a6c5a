#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "packetfifo.h"

namespace {

// A queue for one test, destroyed at its end.
struct Fifo {
    qPacketFifoHandle handle = qPacketFifo_Create();
    ~Fifo() { qPacketFifo_Destroy(&handle); }
};

qErr putTagged(qPacketFifoHandle handle, uint8_t tag) {
    const uint8_t data[] = {10, 0, tag};
    qPacket* packet = qPacket_CreateWithData(2, 3, data);
    qErr err = qPacketFifo_Put(handle, packet);
    qPacket_Destroy(&packet);
    return err;
}

// Tag of a returned packet, which it releases; -1 for none.
int takeTag(qPacket* packet) {
    if (packet == nullptr) {
        return -1;
    }
    int tag = packet->data[2];
    qPacket_Destroy(&packet);
    return tag;
}

struct TagFilter {
    int wanted;
    std::vector<int> offered;
    // Lets another thread see that a waiter has entered the queue.
    std::atomic<int> calls{0};

    explicit TagFilter(int tag) : wanted(tag) {}
    void awaitCalls(int count) const {
        while (calls < count) {
            std::this_thread::yield();
        }
    }
};

uint8_t acceptTag(const qPacket* packet, void* reference) {
    auto* filter = static_cast<TagFilter*>(reference);
    filter->offered.push_back(packet->data[2]);
    ++filter->calls;
    return packet->data[2] == filter->wanted;
}

uint8_t acceptAll(const qPacket*, void*) {
    return 1;
}

}  // namespace

TEST(PacketFifo, FifoOrderAndCallerKeepsPacket) {
    Fifo fifo;
    ASSERT_NE(fifo.handle, 0u);
    const uint8_t data[] = {10, 0, 1};
    qPacket* mine = qPacket_CreateWithData(2, 3, data);
    ASSERT_EQ(qPacketFifo_Put(fifo.handle, mine), qErrNone);
    mine->data[2] = 9;  // the queue holds its own copy
    EXPECT_EQ(putTagged(fifo.handle, 2), qErrNone);
    EXPECT_EQ(qPacketFifo_GetLength(fifo.handle), 2u);
    EXPECT_EQ(takeTag(qPacketFifo_Await(fifo.handle, 0)), 1);
    EXPECT_EQ(takeTag(qPacketFifo_Get(fifo.handle)), 2);
    EXPECT_EQ(qPacketFifo_Get(fifo.handle), nullptr);
    EXPECT_EQ(qPacketFifo_Await(fifo.handle, 0), nullptr);
    qPacket_Destroy(&mine);
    EXPECT_EQ(qPacketFifo_Put(fifo.handle, nullptr), qErrParam);
}

TEST(PacketFifo, BoundEmptiesQueueOnOverflow) {
    Fifo fifo;
    for (int i = 0; i < qPACKETFIFO_MAX_PACKETS; ++i) {
        ASSERT_EQ(putTagged(fifo.handle, i & 0xFF), qErrNone);
    }
    EXPECT_EQ(qPacketFifo_GetLength(fifo.handle), 1000u);
    EXPECT_EQ(putTagged(fifo.handle, 7), qErrNone);
    EXPECT_EQ(qPacketFifo_GetLength(fifo.handle), 0u);
    EXPECT_EQ(putTagged(fifo.handle, 8), qErrNone);
    EXPECT_EQ(takeTag(qPacketFifo_Get(fifo.handle)), 8);
}

TEST(PacketFifo, GetFirstTakesOnlyTheMatch) {
    Fifo fifo;
    for (uint8_t tag = 1; tag <= 3; ++tag) {
        putTagged(fifo.handle, tag);
    }
    TagFilter filter(3);
    EXPECT_EQ(takeTag(qPacketFifo_AwaitFirst(fifo.handle, acceptTag, &filter, 0)), 3);
    EXPECT_EQ(filter.offered, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(takeTag(qPacketFifo_Get(fifo.handle)), 1);
    EXPECT_EQ(takeTag(qPacketFifo_Get(fifo.handle)), 2);
    putTagged(fifo.handle, 1);
    filter.offered.clear();
    EXPECT_EQ(qPacketFifo_AwaitFirst(fifo.handle, acceptTag, &filter, 20), nullptr);
    EXPECT_EQ(filter.offered, (std::vector<int>{1}));
    EXPECT_EQ(qPacketFifo_GetLength(fifo.handle), 1u);
    EXPECT_EQ(qPacketFifo_GetFirst(fifo.handle, nullptr, nullptr), nullptr);
}

// Every put wakes the waiter; already refused packets must not be offered again.
TEST(PacketFifo, AwaitFirstOffersEachPacketOnce) {
    Fifo fifo;
    putTagged(fifo.handle, 1);
    TagFilter filter(4);
    int result = -2;
    std::thread waiter(
        [&] { result = takeTag(qPacketFifo_AwaitFirst(fifo.handle, acceptTag, &filter, 30000)); });
    filter.awaitCalls(1);  // the waiter is now scanning or blocked
    for (uint8_t tag = 2; tag <= 5; ++tag) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        putTagged(fifo.handle, tag);
    }
    waiter.join();
    EXPECT_EQ(result, 4);
    EXPECT_EQ(filter.offered, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(qPacketFifo_GetLength(fifo.handle), 4u);
}

TEST(PacketFifo, DestroyWakesBlockedWaiter) {
    qPacketFifoHandle handle = qPacketFifo_Create();
    putTagged(handle, 1);
    TagFilter filter(9);
    qPacket* result = reinterpret_cast<qPacket*>(1);
    const auto start = std::chrono::steady_clock::now();
    std::thread waiter([&] { result = qPacketFifo_AwaitFirst(handle, acceptTag, &filter, 60000); });
    filter.awaitCalls(1);  // the waiter holds the queue lock until it blocks
    qPacketFifoHandle copy = handle;
    EXPECT_EQ(qPacketFifo_Destroy(&copy), qErrNone);
    waiter.join();
    EXPECT_EQ(result, nullptr);
    // Generous: only tells a wake-up from sitting out the minute-long time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(PacketFifo, DestroyedHandleIsUnknown) {
    qPacketFifoHandle handle = qPacketFifo_Create();
    qPacketFifoHandle stale = handle;
    putTagged(handle, 1);
    ASSERT_EQ(qPacketFifo_Destroy(&handle), qErrNone);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(qPacketFifo_Destroy(&handle), qErrNotFound);
    EXPECT_EQ(qPacketFifo_Destroy(&stale), qErrNotFound);
    EXPECT_EQ(qPacketFifo_Destroy(nullptr), qErrParam);
    EXPECT_EQ(putTagged(stale, 2), qErrParam);
    EXPECT_EQ(qPacketFifo_GetLength(stale), 0u);
    EXPECT_EQ(qPacketFifo_Get(stale), nullptr);
    EXPECT_EQ(qPacketFifo_DrainPackets(stale, acceptAll, nullptr), 0u);
    qPacketFifoHandle next = qPacketFifo_Create();
    EXPECT_NE(next, stale);  // handles are not reused
    qPacketFifo_Destroy(&next);
}

TEST(PacketFifo, DrainKeepsOrderOfTheRest) {
    Fifo fifo;
    for (uint8_t tag = 1; tag <= 6; ++tag) {
        putTagged(fifo.handle, tag);
    }
    auto evenTags = [](const qPacket* packet, void*) -> uint8_t {
        return packet->data[2] % 2 == 0;
    };
    EXPECT_EQ(qPacketFifo_DrainPackets(fifo.handle, evenTags, nullptr), 3u);
    EXPECT_EQ(takeTag(qPacketFifo_Get(fifo.handle)), 1);
    EXPECT_EQ(takeTag(qPacketFifo_Get(fifo.handle)), 3);
    EXPECT_EQ(qPacketFifo_DrainPackets(fifo.handle, acceptAll, nullptr), 1u);
    EXPECT_EQ(qPacketFifo_GetLength(fifo.handle), 0u);
}

TEST(PacketFifo, ConcurrentProducersAndConsumers) {
    Fifo fifo;
    constexpr int kProducers = 3;
    constexpr int kPerProducer = 200;
    std::atomic<int> received{0};
    std::vector<std::thread> threads;
    std::vector<std::vector<int>> seen(2);
    for (int c = 0; c < 2; ++c) {
        threads.emplace_back([&, c] {
            // Bounded so that a lost packet fails the count instead of hanging.
            for (int idle = 0; received < kProducers * kPerProducer && idle < 3000;) {
                qPacket* packet = qPacketFifo_Await(fifo.handle, 10);
                idle = packet == nullptr ? idle + 1 : 0;
                if (packet != nullptr) {
                    seen[c].push_back(packet->data[1] * 256 + packet->data[2]);
                    qPacket_Destroy(&packet);
                    ++received;
                }
            }
        });
    }
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                const uint8_t data[] = {10, uint8_t(p), uint8_t(i)};
                qPacket* packet = qPacket_CreateWithData(2, 3, data);
                EXPECT_EQ(qPacketFifo_Put(fifo.handle, packet), qErrNone);
                qPacket_Destroy(&packet);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    // Each consumer sees each producer's packets in put order, and nothing is lost.
    for (const auto& consumed : seen) {
        std::vector<int> last(kProducers, -1);
        for (int value : consumed) {
            EXPECT_GT(value % 256, last[value / 256]);
            last[value / 256] = value % 256;
        }
    }
    EXPECT_EQ(seen[0].size() + seen[1].size(), size_t{kProducers * kPerProducer});
}

TEST(PacketFifo, PutAllAppendsEveryPacketInOrderOrNothing) {
    Fifo fifo;
    ASSERT_EQ(putTagged(fifo.handle, 1), qErrNone);
    std::vector<qPacket*> batch;
    for (uint8_t tag = 2; tag <= 4; ++tag) {
        const uint8_t data[] = {10, 0, tag};
        batch.push_back(qPacket_CreateWithData(2, 3, data));
    }
    ASSERT_EQ(qPacketFifo_PutAll(fifo.handle, batch.data(), batch.size()), qErrNone);
    EXPECT_EQ(qPacketFifo_GetLength(fifo.handle), 4u);

    // One invalid packet in a batch: none of it is queued.
    qPacket broken{};
    std::vector<const qPacket*> bad = {batch[0], &broken};
    EXPECT_EQ(qPacketFifo_PutAll(fifo.handle, bad.data(), bad.size()), qErrParam);
    EXPECT_EQ(qPacketFifo_PutAll(0, batch.data(), batch.size()), qErrParam);
    for (qPacket*& packet : batch) {
        qPacket_Destroy(&packet);
    }
    for (int tag = 1; tag <= 4; ++tag) {
        EXPECT_EQ(takeTag(qPacketFifo_Get(fifo.handle)), tag);
    }
    EXPECT_EQ(qPacketFifo_Get(fifo.handle), nullptr);
}

// Puts a tagged packet after a pause, on a thread of its own.
class LatePut {
  public:
    LatePut(qPacketFifoHandle handle, uint8_t tag, std::chrono::microseconds after)
        : thread_([handle, tag, after] {
              std::this_thread::sleep_for(after);
              putTagged(handle, tag);
          }) {}
    ~LatePut() { thread_.join(); }

  private:
    std::thread thread_;
};

// Once a queue's packets have come about a millisecond after each wait began, its waiters sleep
// most of that time and watch around it. A packet that comes much sooner or later, or not at all,
// must still be taken at once or the wait end at its deadline.
TEST(PacketFifo, PacedWaitsTakeEarlyAndLatePacketsAndKeepTheirDeadline) {
    using namespace std::chrono;
    Fifo fifo;
    for (uint8_t tag = 1; tag <= 8; ++tag) {
        LatePut put(fifo.handle, tag, microseconds(1000));
        EXPECT_EQ(takeTag(qPacketFifo_Await(fifo.handle, 5000)), tag);
    }
    auto waitFor = [&fifo](uint8_t tag, microseconds after, uint32_t timeoutMs) {
        // The clock starts before the putter can: its pause must not begin before the wait's.
        const auto start = steady_clock::now();
        LatePut put(fifo.handle, tag, after);
        EXPECT_EQ(takeTag(qPacketFifo_Await(fifo.handle, timeoutMs)), tag);
        return duration_cast<microseconds>(steady_clock::now() - start);
    };
    // Woken by the put during the sleep, not held until the watch begins.
    EXPECT_LT(waitFor(9, microseconds(0), 5000), milliseconds(500));
    // Found after the watch has ended.
    EXPECT_GE(waitFor(10, microseconds(20000), 5000), milliseconds(20));
    EXPECT_EQ(takeTag(qPacketFifo_Await(fifo.handle, 0)), -1);
    const auto start = steady_clock::now();
    EXPECT_EQ(qPacketFifo_Await(fifo.handle, 3), nullptr);
    const auto waited = steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(3));
    EXPECT_LT(waited, milliseconds(500));
}

TEST(PacketFifo, AwaitAnyWaitsForAPacketAndTakesNothing) {
    Fifo fifo;
    EXPECT_FALSE(qPacketFifo_AwaitAny(fifo.handle, 20));
    {
        LatePut put(fifo.handle, 5, std::chrono::milliseconds(30));
        EXPECT_TRUE(qPacketFifo_AwaitAny(fifo.handle, 5000));
    }
    EXPECT_TRUE(qPacketFifo_AwaitAny(fifo.handle, 0));
    EXPECT_EQ(qPacketFifo_GetLength(fifo.handle), 1u);
    EXPECT_EQ(takeTag(qPacketFifo_Get(fifo.handle)), 5);
    EXPECT_FALSE(qPacketFifo_AwaitAny(0, 10));
}
