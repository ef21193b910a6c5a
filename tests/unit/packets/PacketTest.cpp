#include <gtest/gtest.h>

#include <vector>

#include "qPacket.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct PacketGuard {
    qPacket* packet;
    ~PacketGuard() { qPacket_Destroy(&packet); }
};

Bytes wireOf(const qPacket* packet) {
    uint8_t buffer[qPACKET_MAX_WIRE];
    size_t written = 0;
    EXPECT_EQ(qPacket_GetBytes(packet, buffer, sizeof buffer, &written), qErrNone);
    return Bytes(buffer, buffer + written);
}

// Feeds bytes and returns the result of each.
std::vector<qErr> feed(qPacket* packet, const Bytes& bytes) {
    std::vector<qErr> results;
    for (uint8_t byte : bytes) {
        results.push_back(qPacket_AddByte(packet, byte));
    }
    return results;
}

}  // namespace

TEST(Packet, CreateCopyAndWireForm) {
    uint8_t data[29] = {3, 0x48, 0x20};
    PacketGuard p{qPacket_CreateWithData(6, 3, data)};
    PacketGuard copy{qPacket_Copy(p.packet)};
    p.packet->data[0] = 99;
    ASSERT_TRUE(qPacket_IsComplete(copy.packet));
    EXPECT_EQ(wireOf(copy.packet), (Bytes{6, 3, 3, 0x48, 0x20}));

    PacketGuard empty{qPacket_CreateWithData(173, 0, data)};
    EXPECT_TRUE(qPacket_IsComplete(empty.packet));
    EXPECT_EQ(wireOf(empty.packet), (Bytes{0xAD, 0}));
    PacketGuard full{qPacket_CreateWithData(2, 28, data)};
    EXPECT_NE(full.packet, nullptr);
    EXPECT_EQ(qPacket_CreateWithData(2, 29, data), nullptr);
    EXPECT_EQ(qPacket_CreateWithData(2, 1, nullptr), nullptr);
    qPacket forged = *full.packet;
    forged.check = 0xDEAD;
    EXPECT_EQ(qPacket_Copy(&forged), nullptr);
}

TEST(Packet, AssemblesWireBytes) {
    PacketGuard p{qPacket_Create()};
    EXPECT_EQ(feed(p.packet, {8, 3, 0x21, 0x45}), std::vector<qErr>(4, qErrNone));
    EXPECT_FALSE(qPacket_IsComplete(p.packet));
    ASSERT_EQ(qPacket_AddByte(p.packet, 0x07), qErrNone);
    EXPECT_TRUE(qPacket_IsComplete(p.packet));
    EXPECT_EQ(wireOf(p.packet), (Bytes{8, 3, 0x21, 0x45, 0x07}));
    // Framing is the link's business: an odd address passes through.
    ASSERT_EQ(qPacket_Reset(p.packet), qErrNone);
    EXPECT_EQ(feed(p.packet, {173, 0}), std::vector<qErr>(2, qErrNone));
    EXPECT_TRUE(qPacket_IsComplete(p.packet));
    EXPECT_EQ(p.packet->address, 173);
}

// A refused byte leaves the packet as it was, so skipping it keeps the following bytes in role.
TEST(Packet, AssemblyRefusesBadBytes) {
    // Deliberate: a refused byte leaves the packet as it was, so later bytes keep their role.
    PacketGuard p{qPacket_Create()};
    EXPECT_EQ(
        feed(p.packet, {0, 2, 29, 1, 0x55, 0x66}),
        (std::vector<qErr>{qErrPacket, qErrNone, qErrPacket, qErrNone, qErrNone, qErrPacket}));
    EXPECT_TRUE(qPacket_IsComplete(p.packet));
    EXPECT_EQ(wireOf(p.packet), (Bytes{2, 1, 0x55}));

    // Deliberate: a complete empty packet refuses more bytes instead of reading one as a length.
    // A complete empty packet does not take a further byte as a new length.
    qPacket_Reset(p.packet);
    EXPECT_EQ(feed(p.packet, {2, 0, 5}), (std::vector<qErr>{qErrNone, qErrNone, qErrPacket}));
    EXPECT_TRUE(qPacket_IsComplete(p.packet));

    Bytes longest = {2, 28};
    longest.resize(qPACKET_MAX_WIRE + 2, 0xA5);
    qPacket_Reset(p.packet);
    std::vector<qErr> results = feed(p.packet, longest);
    EXPECT_EQ(results[qPACKET_MAX_WIRE - 1], qErrNone);
    EXPECT_EQ(results[qPACKET_MAX_WIRE], qErrOverrun);
    EXPECT_EQ(results[qPACKET_MAX_WIRE + 1], qErrOverrun);
    EXPECT_TRUE(qPacket_IsComplete(p.packet));
}

TEST(Packet, GetBytesCapacityEdge) {
    const uint8_t data[] = {1, 2, 3, 4};
    PacketGuard p{qPacket_CreateWithData(2, 4, data)};
    uint8_t buffer[6];
    EXPECT_EQ(qPacket_GetBytes(p.packet, buffer, 6, nullptr), qErrNone);
    EXPECT_EQ(qPacket_GetBytes(p.packet, buffer, 5, nullptr), qErrOverrun);
    EXPECT_EQ(qPacket_GetBytes(p.packet, nullptr, 6, nullptr), qErrParam);
    // Deliberate: a corrupted data size is refused instead of read past the packet's data.
    p.packet->dataSize = 200;  // a corrupted size must not be read beyond the data
    EXPECT_EQ(qPacket_GetBytes(p.packet, buffer, 6, nullptr), qErrParam);
}

TEST(Packet, FieldAccessorsMaskAndCheckLength) {
    const uint8_t data[] = {92, 0xC5, 0xA3};
    PacketGuard p{qPacket_CreateWithData(2, 3, data)};
    uint8_t cmd = 0, option = 0, index = 0;
    EXPECT_EQ(qPacket_GetCmd(p.packet, &cmd), qErrNone);
    EXPECT_EQ(qPacket_GetOption(p.packet, &option), qErrNone);
    EXPECT_EQ(qPacket_GetIndex(p.packet, &index), qErrNone);
    EXPECT_EQ((Bytes{cmd, option, index}), (Bytes{92, 5, 3}));
    EXPECT_EQ(qPacket_GetIndex(p.packet, nullptr), qErrParam);
    PacketGuard shortPacket{qPacket_CreateWithData(2, 2, data)};
    EXPECT_EQ(qPacket_GetIndex(shortPacket.packet, &index), qErrPacket);
    EXPECT_EQ(qPacket_GetCmd(nullptr, &cmd), qErrPacket);
}

TEST(Packet, DestroyClearsPointer) {
    qPacket* packet = qPacket_Create();
    EXPECT_EQ(qPacket_Destroy(&packet), qErrNone);
    EXPECT_EQ(packet, nullptr);
    EXPECT_EQ(qPacket_Destroy(&packet), qErrParam);
    EXPECT_EQ(qPacket_Destroy(nullptr), qErrParam);
    EXPECT_EQ(qPacket_AddByte(nullptr, 1), qErrParam);
}
