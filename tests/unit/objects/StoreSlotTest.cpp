// Store slots: open, chunked writes with byte sums, reads bounded by the buffer, and close.
#include <gtest/gtest.h>

#include "ObjectsFixture.h"

using namespace Pelmorax::Zendrival;
using namespace zvtest;

namespace {

constexpr uint8_t kHandle = 0x33;

uint8_t sumOf(const Bytes& d, size_t from) {
    uint8_t sum = 0;
    for (size_t i = from; i < d.size(); ++i) {
        sum = static_cast<uint8_t>(sum + d[i]);
    }
    return sum;
}

// A slot of the given content; wrongSumOnWrite (1-based) answers that write with a bad sum.
std::vector<WirePacket> slotModule(const Bytes& d, const Bytes& content, int wrongSumOnWrite,
                                   int* writes) {
    switch (d[1]) {
        case 2:
            return {from(kModule, {4, 2, d[2], d[3], 0, static_cast<uint8_t>(content.size())})};
        case 3:
        case 4:
            return {from(kModule, {4, d[1], d[2], d[3], kHandle})};
        case 6: {
            Bytes reply{4, 6, kHandle};
            reply.insert(reply.end(), content.begin(),
                         content.begin() + std::min<size_t>(25, content.size()));
            return {from(kModule, reply)};
        }
        case 7: {
            ++*writes;
            uint8_t sum = sumOf(d, 3);
            if (*writes == wrongSumOnWrite) {
                sum ^= 0xFF;
            }
            return {from(kModule, {4, 7, kHandle, sum})};
        }
        case 8:
            return {from(kModule, {4, 8, kHandle, 0})};
        default:
            return {};
    }
}

}  // namespace

using StoreSlots = ConnectedModule;

TEST_F(StoreSlots, SixtyBytesAreWrittenInChunksOfTwentyFive) {
    int writes = 0;
    respond([&](const Bytes& d) { return slotModule(d, {}, 0, &writes); });
    Bytes data(60);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i + 100);
    }
    ASSERT_EQ(link().loadStoreSlot(kModule, 1, 2, data.data(), data.size()), qErrNone);
    auto seen = requestData();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], Bytes({4, 4, 1, 2}));
    EXPECT_EQ(seen[1].size(), 3u + 25);
    EXPECT_EQ(seen[2].size(), 3u + 25);
    EXPECT_EQ(seen[3].size(), 3u + 10);
    EXPECT_EQ(Bytes(seen[3].begin(), seen[3].begin() + 3), Bytes({4, 7, kHandle}));
    EXPECT_EQ(Bytes(seen[3].begin() + 3, seen[3].end()), Bytes(data.begin() + 50, data.end()));
    EXPECT_EQ(seen[4], Bytes({4, 8, kHandle}));
}

TEST_F(StoreSlots, WrongSumStopsTheTransferButTheSlotIsClosed) {
    int writes = 0;
    respond([&](const Bytes& d) { return slotModule(d, {}, 2, &writes); });
    Bytes data(60, 1);
    EXPECT_EQ(link().loadStoreSlot(kModule, 1, 2, data.data(), data.size()), qErrIO);
    auto seen = requestData();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen.back(), Bytes({4, 8, kHandle}));
}

TEST_F(StoreSlots, ReadingASmallBufferStopsAtItsEnd) {
    Bytes content(30);
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<uint8_t>(i + 1);
    }
    int writes = 0;
    respond([&](const Bytes& d) { return slotModule(d, content, 0, &writes); });
    uint8_t buffer[11];
    buffer[10] = 0xEE;
    size_t length = 0;
    EXPECT_EQ(link().unloadStoreSlot(kModule, 1, 2, buffer, 10, &length), qErrOverrun);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(Bytes(buffer, buffer + 10), Bytes(content.begin(), content.begin() + 10));
    EXPECT_EQ(buffer[10], 0xEE);
    EXPECT_EQ(requestData(),
              std::vector<Bytes>({{4, 2, 1, 2}, {4, 3, 1, 2}, {4, 6, kHandle}, {4, 8, kHandle}}));
}

TEST_F(StoreSlots, MalformedAndMissingReplies) {
    respond([](const Bytes& d) {
        if (d[1] == 2) {
            return std::vector<WirePacket>{from(kModule, {4, 2, d[2], d[3], 0})};
        }
        if (d[1] == 1) {
            return std::vector<WirePacket>{from(kModule, {4, 0x81, d[2], d[3], qErrInvalidEntity})};
        }
        return std::vector<WirePacket>{
            from(kModule, {4, static_cast<uint8_t>(d[1] | 0x80), d[2], d[3], qErrBusy})};
    });
    size_t size = 0;
    EXPECT_EQ(link().storeSlotSize(kModule, 1, 2, &size), qErrUnknown);
    EXPECT_EQ(link().storeSlotCapacity(kModule, 1, 2, &size), qErrInvalidEntity);
    uint8_t byte = 0;
    EXPECT_EQ(link().loadStoreSlot(kModule, 1, 2, &byte, 1), qErrMedia);
    EXPECT_EQ(link().storeSlotSize(kModule, 1, 2, nullptr), qErrParam);
    respond(nullptr);
    // Deliberate: a slot size, capacity or close with no reply is a time-out, not a success.
    // No answer is a time-out, never a success with an unset size.
    EXPECT_EQ(link().storeSlotSize(kModule, 1, 2, &size), qErrTimeout);
}

TEST(StoreSlotsOffline, ArgumentChecksComeBeforeTheConnection) {
    Link link("offline");
    size_t size;
    EXPECT_EQ(link.storeSlotSize(kModule, 1, 2, nullptr), qErrParam);
    EXPECT_EQ(link.storeSlotCapacity(kModule, 1, 2, nullptr), qErrConnection);
    EXPECT_EQ(link.loadStoreSlot(kModule, 1, 2, nullptr, 1), qErrParam);
    EXPECT_EQ(link.unloadStoreSlot(kModule, 1, 2, nullptr, 1, &size), qErrParam);
    EXPECT_EQ(link.storeSlotSize(kModule, 1, 2, &size), qErrConnection);
}
