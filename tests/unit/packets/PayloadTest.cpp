#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "qError.h"
#include "qUEI.h"

namespace {

struct PacketGuard {
    qPacket* packet;
    ~PacketGuard() { qPacket_Destroy(&packet); }
};

PacketGuard packetOf(std::initializer_list<uint8_t> data) {
    std::vector<uint8_t> bytes(data);
    return PacketGuard{qPacket_CreateWithData(2, static_cast<uint8_t>(bytes.size()), bytes.data())};
}

}  // namespace

TEST(UEIValue, BigEndianStoreAndRetrieve) {
    uint8_t buffer[4] = {};
    ASSERT_EQ(qUEI_StoreInt(buffer, 0x01020304), qErrNone);
    EXPECT_EQ(memcmp(buffer, "\x01\x02\x03\x04", 4), 0);
    EXPECT_EQ(qUEI_RetrieveInt(buffer), 0x01020304u);
    ASSERT_EQ(qUEI_StoreShort(buffer, 0xBEEF), qErrNone);
    EXPECT_EQ(buffer[0], 0xBE);
    EXPECT_EQ(buffer[1], 0xEF);
    EXPECT_EQ(qUEI_RetrieveShort(buffer), 0xBEEF);
    EXPECT_EQ(qUEI_StoreInt(nullptr, 1), qErrParam);
    EXPECT_EQ(qUEI_RetrieveInt(nullptr), 0u);

    uint32_t words[2];
    memcpy(words, "\x12\x34\x56\x78\xFF\x00\x00\x01", 8);
    ASSERT_EQ(qUEI_ModifyIntBuffer(words, 2), qErrNone);
    EXPECT_EQ(words[0], 0x12345678u);
    EXPECT_EQ(words[1], 0xFF000001u);
}

TEST(UEIPayload, NonEntityCommands) {
    for (uint8_t command : {0, 1, 2, 4, 8, 9, 23, 24, 73, 94, 95, 173, 175}) {
        PacketGuard p = packetOf({command, 0x40, 0x20});
        EXPECT_TRUE(qUEI_isNotUEIPayload(p.packet)) << int(command);
        EXPECT_FALSE(qUEI_isUEIPayload(p.packet)) << int(command);
    }
    for (uint8_t command : {3, 10, 92, 93, 174, 255}) {
        PacketGuard p = packetOf({command, 0x40, 0x20});
        EXPECT_TRUE(qUEI_isUEIPayload(p.packet)) << int(command);
    }
    EXPECT_FALSE(qUEI_isNotUEIPayload(nullptr));
    // Deliberate: a null packet carries no UEI payload, so it is never read as one.
    EXPECT_FALSE(qUEI_isUEIPayload(nullptr));
    PacketGuard empty = packetOf({});
    EXPECT_FALSE(qUEI_isUEIPayload(empty.packet));
}

TEST(UEIPayload, StreamPacketRule) {
    PacketGuard stream = packetOf({10, 0x05, 0x41, 0x12, 0x34});
    EXPECT_TRUE(qUEI_isStreamPacket(stream.packet));
    // Too short, a get reply, no stream bit, a raw command.
    PacketGuard others[] = {
        packetOf({10, 0x05, 0x41, 0x12}), packetOf({10, 0x45, 0x41, 0x12, 0x34}),
        packetOf({10, 0x05, 0x01, 0x12, 0x34}), packetOf({8, 0x05, 0x41, 0x12, 0x34})};
    for (const PacketGuard& other : others) {
        EXPECT_FALSE(qUEI_isStreamPacket(other.packet));
    }
    EXPECT_FALSE(qUEI_isStreamPacket(nullptr));
}

TEST(UEIPayload, BytesTrailer) {
    std::vector<uint8_t> data(28, 0);
    data.back() = 0x80 | 5;
    PacketGuard full{qPacket_CreateWithData(2, 28, data.data())};
    EXPECT_EQ(qUEI_getBytesSequence(full.packet), 5);
    EXPECT_TRUE(qUEI_getBytesContinue(full.packet));
    EXPECT_TRUE(qUEI_getBytesFullPacket(full.packet));
    data[26] = 0x7F;
    PacketGuard last{qPacket_CreateWithData(2, 27, data.data())};
    EXPECT_EQ(qUEI_getBytesSequence(last.packet), 0x7F);
    EXPECT_FALSE(qUEI_getBytesContinue(last.packet));
    EXPECT_TRUE(qUEI_getBytesFullPacket(last.packet));
    PacketGuard partial{qPacket_CreateWithData(2, 26, data.data())};
    EXPECT_FALSE(qUEI_getBytesFullPacket(partial.packet));
    // Deliberate: a packet without data has no trailer, and nothing before its data is read.
    PacketGuard empty = packetOf({});
    EXPECT_EQ(qUEI_getBytesSequence(empty.packet), 0);
    EXPECT_FALSE(qUEI_getBytesContinue(nullptr));
}

TEST(ErrorTable, NamesDescriptionsAndFallback) {
    EXPECT_STREQ(qError_GetErrorText(qErrNone), "qErrNone");
    EXPECT_STREQ(qError_GetErrorDescription(qErrShortCommand), "Zendrival command to short");
    EXPECT_STREQ(qError_GetErrorText(35), "qErrUnknown");
    EXPECT_STREQ(qError_GetErrorText(1000), "qErrUnknown");
    EXPECT_STREQ(qError_GetErrorDescription(35), "Unknown error");
}
