// Byte transfers: store slots, factory data, and stream sampling.
#include "SimFixture.h"

namespace {

using simtest::WirePacket;

const char kModule[] = "serial=0A0B0C0D,tcp,hb-ms=0,address=4,model=19,stream-ms=20";

uint8_t sum8(const Bytes& bytes) {
    uint8_t sum = 0;
    for (uint8_t b : bytes)
        sum = static_cast<uint8_t>(sum + b);
    return sum;
}

Bytes pattern(size_t count, uint8_t seed) {
    Bytes bytes;
    for (size_t i = 0; i < count; ++i)
        bytes.push_back(static_cast<uint8_t>(seed + 7 * i));
    return bytes;
}

TEST_F(TcpSimTest, StoreSlotWriteAndReadBackWithSums) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    EXPECT_EQ(link.exchange(4, {4, 1, 0, 2}).data, (Bytes{4, 1, 0, 2, 1, 0}));
    EXPECT_EQ(link.exchange(4, {4, 1, 1, 1}).data, (Bytes{4, 1, 1, 1, 4, 0}));
    EXPECT_EQ(link.exchange(4, {4, 1, 5, 0}).data, (Bytes{4, 0x81, 5, 0, 26}));

    WirePacket opened = link.exchange(4, {4, 4, 0, 2});
    ASSERT_EQ(opened.data.size(), 5u);
    uint8_t handle = opened.data[4];
    EXPECT_NE(handle, 255);
    const Bytes first = pattern(25, 3), second = pattern(10, 200);
    for (const Bytes& chunk : {first, second}) {
        Bytes request{4, 7, handle};
        request.insert(request.end(), chunk.begin(), chunk.end());
        EXPECT_EQ(link.exchange(4, request).data, (Bytes{4, 7, handle, sum8(chunk)}));
    }
    EXPECT_EQ(link.exchange(4, {4, 8, handle}).data, (Bytes{4, 8, handle, 0}));
    EXPECT_EQ(link.exchange(4, {4, 2, 0, 2}).data, (Bytes{4, 2, 0, 2, 0, 35}));

    opened = link.exchange(4, {4, 3, 0, 2});
    ASSERT_EQ(opened.data.size(), 5u);
    handle = opened.data[4];
    Bytes expect1{4, 6, handle}, expect2{4, 6, handle};
    expect1.insert(expect1.end(), first.begin(), first.end());
    expect2.insert(expect2.end(), second.begin(), second.end());
    EXPECT_EQ(link.exchange(4, {4, 6, handle}).data, expect1);
    EXPECT_EQ(link.exchange(4, {4, 6, handle}).data, expect2);
    EXPECT_EQ(link.exchange(4, {4, 6, handle}).data, (Bytes{4, 0x86, handle, 10}));  // end
    EXPECT_EQ(link.exchange(4, {4, 7, handle, 1}).data, (Bytes{4, 0x87, handle, 7}));
    EXPECT_EQ(link.exchange(4, {4, 8, handle}).data, (Bytes{4, 8, handle, 0}));
    EXPECT_EQ(link.exchange(4, {4, 6, handle}).data, (Bytes{4, 0x86, handle, 2}));  // closed
}

TEST_F(TcpSimTest, StoreSlotWriteBeyondCapacityIsRefused) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    uint8_t handle = link.exchange(4, {4, 4, 0, 0}).data.back();
    Bytes chunk{4, 7, handle};
    chunk.insert(chunk.end(), 25, 0x5A);
    for (int i = 0; i < 10; ++i) {  // 250 of 256 bytes
        ASSERT_EQ(link.exchange(4, chunk).data, (Bytes{4, 7, handle, 0xCA})) << i;
    }
    EXPECT_EQ(link.exchange(4, chunk).data, (Bytes{4, 0x87, handle, 15}));
}

TEST_F(TcpSimTest, FactoryDataReadsInChunksUntilAShortReply) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    // Block 2 holds exactly one full reply, so a second, empty reply ends it.
    WirePacket full = link.exchange(4, {94, 0x42});
    Bytes expect{94, 2};
    for (uint8_t i = 0; i < 26; ++i)
        expect.push_back(static_cast<uint8_t>(32 + i));
    EXPECT_EQ(full.data, expect);
    EXPECT_EQ(link.exchange(4, {94, 2}).data, (Bytes{94, 2}));
    EXPECT_EQ(link.exchange(4, {94, 0x20, 0, 26}).data, (Bytes{94, 0, 0}));

    const std::string identity = "SN=0A0B0C0D;MODEL=19";
    Bytes block0{94, 0};
    block0.insert(block0.end(), identity.begin(), identity.end());
    EXPECT_EQ(link.exchange(4, {94, 0x40}).data, block0);
    EXPECT_EQ(link.exchange(4, {94, 0x20, 0, 21}).data, (Bytes{94, 0x80, 14}));  // wrong count
}

TEST_F(TcpSimTest, FactoryDataWriteIsStoredAtTheEndRequest) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    Bytes data = pattern(30, 1);
    Bytes piece1{94, 0x53}, piece2{94, 0x13};
    piece1.insert(piece1.end(), data.begin(), data.begin() + 26);
    piece2.insert(piece2.end(), data.begin() + 26, data.end());
    EXPECT_EQ(link.exchange(4, piece1).data, (Bytes{94, 3}));
    EXPECT_EQ(link.exchange(4, piece2).data, (Bytes{94, 3}));
    EXPECT_EQ(link.exchange(4, {94, 0x20, 0, 30}).data, (Bytes{94, 0, 0}));

    Bytes readBack;
    WirePacket reply = link.exchange(4, {94, 0x43});
    readBack.insert(readBack.end(), reply.data.begin() + 2, reply.data.end());
    reply = link.exchange(4, {94, 3});
    readBack.insert(readBack.end(), reply.data.begin() + 2, reply.data.end());
    EXPECT_EQ(readBack, data);
    link.exchange(4, {94, 0x20, 0, 30});

    // A write whose end request names another count is discarded.
    EXPECT_EQ(link.exchange(4, {94, 0x54, 9, 9, 9}).data, (Bytes{94, 4}));
    EXPECT_EQ(link.exchange(4, {94, 0x20, 0, 5}).data, (Bytes{94, 0x80, 14}));
    EXPECT_EQ(link.exchange(4, {94, 0x44}).data[2], 64);  // block 4 as it was
    EXPECT_EQ(link.exchange(4, {94, 0x20, 0, 26}).data, (Bytes{94, 0, 0}));
    // A continuation without a transfer, and an empty write.
    EXPECT_EQ(link.exchange(4, {94, 0x15, 1}).data, (Bytes{94, 0x85, 11}));
    EXPECT_EQ(link.exchange(4, {94, 0x20, 0, 0}).data, (Bytes{94, 0, 0}));
}

// Waits for the next packet that is not a stream sample.
WirePacket nextReply(simtest::PacketChannel& link) {
    WirePacket packet;
    while (link.receive(packet)) {
        if (packet.data.size() < 3 || (packet.data[2] & 0x40) == 0)
            return packet;
    }
    return WirePacket();
}

TEST_F(TcpSimTest, StreamEnableSendsSamplePacketsUntilDisabled) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    EXPECT_EQ(link.exchange(4, {93, 0x41, 0x20}).data, (Bytes{93, 1, 0, 0}));
    EXPECT_EQ(link.exchange(4, {93, 0x81, 0x20, 4, 3, 9, 0}).data,
              (Bytes{93, 0xC1, 0, 4, 3, 9, 0}));
    uint64_t lastTimestamp = 0;
    for (int i = 0; i < 3; ++i) {
        WirePacket sample;
        ASSERT_TRUE(link.receive(sample));
        ASSERT_EQ(sample.data.size(), 17u);  // 32-bit sample
        EXPECT_EQ(Bytes(sample.data.begin(), sample.data.begin() + 4), (Bytes{3, 9, 0x40, 3}));
        uint64_t timestamp = (uint64_t(simtest::bigEndian32(sample.data, 4)) << 32) |
                             simtest::bigEndian32(sample.data, 8);
        EXPECT_GE(timestamp, lastTimestamp);
        lastTimestamp = timestamp;
        EXPECT_EQ(simtest::bigEndian32(sample.data, 12), 0x0A0B0C0Du);
        EXPECT_EQ(sample.data.back(), 0);
    }
    link.sendPacket(4, {93, 0x41, 0x20});
    EXPECT_EQ(nextReply(link).data, (Bytes{93, 1, 0, 1}));

    // An 8-bit value streams in the short form.
    link.sendPacket(4, {93, 0x81, 0x20, 4, 3, 8, 0});
    EXPECT_EQ(nextReply(link).data, (Bytes{93, 0xC1, 0, 4, 3, 8, 0}));
    WirePacket sample;
    do {
        ASSERT_TRUE(link.receive(sample));
    } while (sample.data[1] != 8);
    EXPECT_EQ(sample.data.size(), 14u);
    EXPECT_EQ(sample.data[3], 1);
    EXPECT_EQ(sample.data[12], 19);

    link.sendPacket(4, {93, 0x82, 0x20, 4, 3, 9, 0});
    EXPECT_EQ(nextReply(link).data, (Bytes{93, 0xC2, 0, 4, 3, 9, 0}));
    link.sendPacket(4, {93, 0x82, 0x20, 4, 3, 8, 0});
    EXPECT_EQ(nextReply(link).data, (Bytes{93, 0xC2, 0, 4, 3, 8, 0}));
    EXPECT_TRUE(link.quietFor(300));
}

TEST_F(TcpSimTest, StreamRequestsForValuesTheModuleLacksAreRefused) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    EXPECT_EQ(link.exchange(4, {93, 0x81, 0x20, 4, 18, 1, 0}).data, (Bytes{93, 0xC1, 0x80, 3}));
    EXPECT_EQ(link.exchange(4, {93, 0x81, 0x20, 4, 3, 32, 0}).data, (Bytes{93, 0xC1, 0x80, 3}));
    EXPECT_EQ(link.exchange(4, {93, 0x83, 0x20, 4, 3, 9, 0}).data, (Bytes{93, 0xC3, 0x80, 29}));
    EXPECT_TRUE(link.quietFor(200));
}

TEST_F(TcpSimTest, StreamingStopsWithTheConnection) {
    ASSERT_TRUE(start({kModule}, "0A0B0C0D"));
    link.sendPacket(4, {93, 0x81, 0x20, 4, 3, 255, 0});  // every value of the system entity
    EXPECT_EQ(nextReply(link).data, (Bytes{93, 0xC1, 0, 4, 3, 255, 0}));
    ASSERT_TRUE(link.connectTcp(endpoint));
    EXPECT_TRUE(link.quietFor(300));
}

}  // namespace
