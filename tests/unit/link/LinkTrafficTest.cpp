#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "LinkFixture.h"
#include "unix_time.h"

namespace {

using LinkTrafficTest = LinkOverPair;

TEST_F(LinkTrafficTest, PacketsTravelInWireForm) {
    ASSERT_EQ(put({0x04, 0x03, 0x0A, 0x4B, 0x21}), qErrNone);
    EXPECT_EQ(hex(module.receive(5)), hex(bytes({0x04, 0x03, 0x0A, 0x4B, 0x21})));

    // Packets arrive back to back, split anywhere; an empty packet completes at its length byte.
    module.send(bytes({0x06, 0x02, 0x0A}));
    module.send(bytes({0x0B, 0x08, 0x00, 0x04, 0x01, 0x55}));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x06, 0x02, 0x0A, 0x0B})));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x08, 0x00})));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x55})));
}

TEST_F(LinkTrafficTest, HeartbeatsAreAnsweredAndNotQueued) {
    module.send(bytes({0x04, 0x02, 0x00, 0x00}));
    EXPECT_EQ(hex(module.receive(4)), hex(bytes({0x04, 0x02, 0x00, 0x02})));
    module.send(bytes({0x04, 0x02, 0x00, 0x01}));
    EXPECT_EQ(hex(module.receive(4)), hex(bytes({0x04, 0x02, 0x00, 0x03})));
    // The next packet is the first one on the inbound queue.
    module.send(bytes({0x04, 0x01, 0x33}));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x33})));
    EXPECT_EQ(qLink_GetPacket(id), nullptr);
}

TEST_F(LinkTrafficTest, HeartbeatsOfAnyStateByteAreAnsweredWithThatBytePlusTwo) {
    module.send(bytes({0x04, 0x02, 0x00, 0x02}));
    EXPECT_EQ(hex(module.receive(4)), hex(bytes({0x04, 0x02, 0x00, 0x04})));
    module.send(bytes({0x06, 0x02, 0x00, 0x7F}));
    EXPECT_EQ(hex(module.receive(4)), hex(bytes({0x06, 0x02, 0x00, 0x81})));
    // The answer is one byte wide and wraps.
    module.send(bytes({0x04, 0x02, 0x00, 0xFF}));
    EXPECT_EQ(hex(module.receive(4)), hex(bytes({0x04, 0x02, 0x00, 0x01})));
    module.send(bytes({0x04, 0x01, 0x33}));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x33})));
    EXPECT_EQ(qLink_GetPacket(id), nullptr);
}

TEST_F(LinkTrafficTest, CommandZeroOfOtherShapesIsAnOrdinaryPacket) {
    module.send(bytes({0x04, 0x03, 0x00, 0x00, 0x09}));
    module.send(bytes({0x04, 0x01, 0x00}));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x03, 0x00, 0x00, 0x09})));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x00})));
    EXPECT_EQ(module.receiveUntilSilent(100), "");
}

TEST_F(LinkTrafficTest, PooledWriterBatchesQueuedPackets) {
    ASSERT_EQ(qLink_EnablePooledPackets(id, true), qErrNone);
    module.clearWriteSizes();
    module.holdWrites();
    // The first packet is taken at once and holds the writer while the rest pile up.
    ASSERT_EQ(put({0x02, 0x01, 0xEE}), qErrNone);
    ASSERT_TRUE(eventually([this] { return module.writesBegun() == 1; }));
    std::string expected = bytes({0x02, 0x01, 0xEE});
    for (int i = 0; i < 200; ++i) {
        qPacket* packet = qPacket_Create();
        packet->address = 0x04;
        packet->dataSize = qPACKET_MAX_DATA;
        packet->curIndex = qPACKET_MAX_WIRE;
        for (int b = 0; b < qPACKET_MAX_DATA; ++b) {
            packet->data[b] = static_cast<uint8_t>(i + b);
        }
        ASSERT_EQ(qLink_PutPacket(id, packet), qErrNone);
        uint8_t wire[qPACKET_MAX_WIRE];
        qPacket_GetBytes(packet, wire, sizeof wire, nullptr);
        expected.append(reinterpret_cast<char*>(wire), sizeof wire);
        qPacket_Destroy(&packet);
    }
    module.releaseWrites();
    EXPECT_EQ(module.receive(expected.size()), expected);

    std::vector<size_t> sizes = module.writeSizes();
    ASSERT_GE(sizes.size(), 2u);
    EXPECT_EQ(sizes[0], 3u);
    size_t total = 0;
    for (size_t i = 1; i < sizes.size(); ++i) {
        EXPECT_LE(sizes[i], 4096u);
        total += sizes[i];
    }
    EXPECT_EQ(total, 200u * qPACKET_MAX_WIRE);
    // 6000 bytes fit in two buffers.
    EXPECT_EQ(sizes.size(), 3u);
}

TEST_F(LinkTrafficTest, UnpooledWriterWritesEachPacketAlone) {
    module.clearWriteSizes();
    module.holdWrites();
    ASSERT_EQ(put({0x02, 0x01, 0xEE}), qErrNone);
    ASSERT_TRUE(eventually([this] { return module.writesBegun() == 1; }));
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(put({0x04, 0x01, static_cast<uint8_t>(i)}), qErrNone);
    }
    module.releaseWrites();
    EXPECT_EQ(module.receive(33).size(), 33u);
    EXPECT_EQ(module.writeSizes(), std::vector<size_t>(11, 3u));
}

uint8_t acceptNothing(const qPacket*, void*) {
    return 0;
}

uint8_t firstByteIs(const qPacket* packet, void* reference) {
    return packet->dataSize > 0 && packet->data[0] == *static_cast<uint8_t*>(reference);
}

TEST_F(LinkTrafficTest, AwaitFirstTimesOutWhenNothingMatches) {
    module.send(bytes({0x04, 0x01, 0x11}));
    const uint64_t before = qTime_GetMSTicks();
    EXPECT_EQ(qLink_AwaitFirst(id, acceptNothing, nullptr, 300), nullptr);
    EXPECT_GE(qTime_GetMSTicks() - before, 290u);
    // The packet that did not match is still there.
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x11})));
}

TEST_F(LinkTrafficTest, AwaitFirstTakesTheMatchingPacketWhenItArrives) {
    module.send(bytes({0x04, 0x01, 0x11}));
    std::thread later([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        module.send(bytes({0x04, 0x01, 0x77}));
    });
    uint8_t wanted = 0x77;
    qPacket* packet = qLink_AwaitFirst(id, firstByteIs, &wanted, 5000);
    later.join();
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->data[0], 0x77);
    qPacket_Destroy(&packet);
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x11})));
}

TEST_F(LinkTrafficTest, DrainRemovesMatchingPackets) {
    module.send(bytes({0x04, 0x01, 0x77, 0x04, 0x01, 0x11, 0x04, 0x01, 0x77, 0x04, 0x01, 0x99}));
    // Packets are queued in order: once the last is there, all are.
    uint8_t wanted = 0x99;
    qPacket* last = qLink_AwaitFirst(id, firstByteIs, &wanted, 5000);
    ASSERT_NE(last, nullptr);
    qPacket_Destroy(&last);
    wanted = 0x77;
    EXPECT_EQ(qLink_DrainPackets(id, firstByteIs, &wanted), 2u);
    EXPECT_EQ(hex(awaitInbound(0)), hex(bytes({0x04, 0x01, 0x11})));
    EXPECT_EQ(qLink_GetPacket(id), nullptr);
}

// Records what the user filter saw; consumes packets whose first data byte is 0x42.
struct FilterLog {
    std::mutex lock;
    std::vector<uint8_t> seen;
};

uint8_t consume42(const qPacket* packet, void* reference) {
    FilterLog* log = static_cast<FilterLog*>(reference);
    std::lock_guard<std::mutex> guard(log->lock);
    log->seen.push_back(packet->data[0]);
    return packet->data[0] == 0x42 ? 1 : 0;
}

TEST_F(LinkTrafficTest, UserFilterConsumesPacketsOnTheReader) {
    FilterLog log;
    ASSERT_EQ(qLink_InstallUserPacketFilter(id, consume42, &log), qErrNone);
    module.send(bytes({0x04, 0x01, 0x42, 0x04, 0x01, 0x43}));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x43})));
    EXPECT_EQ(qLink_GetPacket(id), nullptr);
    {
        std::lock_guard<std::mutex> guard(log.lock);
        EXPECT_EQ(log.seen, std::vector<uint8_t>({0x42, 0x43}));
    }
    // Without the filter the same packet is queued again.
    ASSERT_EQ(qLink_InstallUserPacketFilter(id, nullptr, nullptr), qErrNone);
    module.send(bytes({0x04, 0x01, 0x42}));
    EXPECT_EQ(hex(awaitInbound()), hex(bytes({0x04, 0x01, 0x42})));
}

TEST_F(LinkTrafficTest, UserFilterSeesHeartbeatsFirst) {
    FilterLog log;
    ASSERT_EQ(qLink_InstallUserPacketFilter(id, consume42, &log), qErrNone);
    module.send(bytes({0x04, 0x02, 0x00, 0x00}));
    EXPECT_EQ(hex(module.receive(4)), hex(bytes({0x04, 0x02, 0x00, 0x02})));
    std::lock_guard<std::mutex> guard(log.lock);
    EXPECT_EQ(log.seen, std::vector<uint8_t>({0x00}));
}

TEST_F(LinkTrafficTest, ModuleAddressAndModelQueries) {
    std::thread module_([this] {
        if (module.receive(2) == bytes({0xAD, 0x00})) {
            module.send(bytes({0x06, 0x00}));
        }
        if (module.receive(5) == bytes({0x06, 0x03, 0x03, 0x48, 0x20})) {
            module.send(bytes({0x06, 0x04, 0x03, 0x08, 0x00, 0x11}));
        }
    });
    uint8_t address = 0;
    EXPECT_EQ(_qLink_GetModuleAddress(id, &address), qErrNone);
    EXPECT_EQ(address, 6);
    uint8_t model = 0;
    EXPECT_EQ(_qLink_GetModel(id, 6, &model), qErrNone);
    EXPECT_EQ(model, 0x11);
    module_.join();
}

TEST_F(LinkTrafficTest, ModuleQueriesWithoutOrWithWrongAnswers) {
    uint8_t address = 0;
    EXPECT_EQ(_qLink_GetModuleAddress(id, &address), qErrTimeout);
    module.send(bytes({0x06, 0x01, 0x00}));
    EXPECT_EQ(_qLink_GetModuleAddress(id, &address), qErrIO);
    uint8_t model = 0;
    module.send(bytes({0x08, 0x04, 0x03, 0x08, 0x00, 0x11}));
    EXPECT_EQ(_qLink_GetModel(id, 6, &model), qErrIO);
    EXPECT_EQ(model, 0);
    EXPECT_EQ(_qLink_GetModuleAddress(id, nullptr), qErrParam);
}

TEST(LinkTrafficUnknownTest, UnknownIdsAreRefused) {
    const uint8_t data = 1;
    qPacket* packet = qPacket_CreateWithData(4, 1, &data);
    EXPECT_EQ(qLink_PutPacket(424242, packet), qErrParam);
    qPacket_Destroy(&packet);
    EXPECT_EQ(qLink_GetPacket(424242), nullptr);
    EXPECT_EQ(qLink_AwaitPacket(424242, 10), nullptr);
    EXPECT_EQ(qLink_AwaitFirst(424242, acceptNothing, nullptr, 10), nullptr);
    EXPECT_EQ(qLink_DrainPackets(424242, acceptNothing, nullptr), 0u);
    EXPECT_EQ(qLink_ForceRoute(424242, 1), qErrNotFound);
    EXPECT_EQ(qLink_GetStatus(424242), qLINK_STATUS_INVALID);
    EXPECT_EQ(qLink_InstallUserPacketFilter(424242, acceptNothing, nullptr), qErrParam);
    EXPECT_EQ(qLink_EnablePooledPackets(424242, true), qErrParam);
    EXPECT_EQ(qLink_Start(424242), qErrParam);
    EXPECT_EQ(qLink_Reset(424242), qErrParam);
}

}  // namespace
