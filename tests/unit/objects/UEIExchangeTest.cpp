// UEI requests on the wire and the matching of replies.
#include <gtest/gtest.h>

#include "ObjectsFixture.h"

using namespace Pelmorax::Zendrival;
using namespace zvtest;

namespace {

uei request(uint8_t option, ueiType type = ueiTypeNone) {
    uei r;
    r.module = kModule;
    r.command = 3;
    r.option = option;
    r.specifier = 0x20;
    r.type = type;
    return r;
}

qPacket* packetOf(uint8_t address, Bytes data) {
    return qPacket_CreateWithData(address, static_cast<uint8_t>(data.size()), data.data());
}

// Runs sUEIFilter on one packet for a get reply of command 3, option 7, index 1.
struct FilterRun {
    uint8_t accepted;
    uei reply;
};

FilterRun filterGetReply(uint8_t address, Bytes data) {
    FilterRun run{};
    run.reply.module = kModule;
    run.reply.command = 3;
    run.reply.option = 7;
    run.reply.specifier = 1;
    run.reply.value.u32 = 0xA5A5A5A5;
    qPacket* packet = packetOf(address, std::move(data));
    run.accepted = sUEIFilter(packet, &run.reply);
    qPacket_Destroy(&packet);
    return run;
}

}  // namespace

TEST(UEIFilter, MatchesAddressCommandExactOptionAndPlainIndex) {
    EXPECT_EQ(filterGetReply(kModule, {3, 7, 1}).accepted, 1);
    EXPECT_EQ(filterGetReply(kModule, {3, 7, 0x21}).accepted, 1);
    EXPECT_EQ(filterGetReply(kModule + 2, {3, 7, 1}).accepted, 0);
    EXPECT_EQ(filterGetReply(kModule, {4, 7, 1}).accepted, 0);
    EXPECT_EQ(filterGetReply(kModule, {3, 0xC7, 1}).accepted, 0);
    EXPECT_EQ(filterGetReply(kModule, {3, 7, 2}).accepted, 0);
    EXPECT_EQ(filterGetReply(kModule, {3, 7}).accepted, 0);
}

TEST(UEIFilter, DecodesTheValueByLength) {
    FilterRun none = filterGetReply(kModule, {3, 7, 1});
    EXPECT_EQ(none.reply.type, ueiTypeNone);
    FilterRun byte = filterGetReply(kModule, {3, 7, 1, 0x9C});
    EXPECT_EQ(byte.reply.type, ueiTypeByte);
    EXPECT_EQ(byte.reply.value.u32, 0x9Cu);
    FilterRun shortValue = filterGetReply(kModule, {3, 7, 1, 0x12, 0x34});
    EXPECT_EQ(shortValue.reply.type, ueiTypeShort);
    EXPECT_EQ(shortValue.reply.value.u32, 0x1234u);
    FilterRun intValue = filterGetReply(kModule, {3, 7, 1, 0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(intValue.reply.type, ueiTypeInt);
    EXPECT_EQ(intValue.reply.value.u32, 0x12345678u);
    // Six data bytes: accepted, value and type untouched.
    FilterRun odd = filterGetReply(kModule, {3, 7, 1, 1, 2, 3});
    EXPECT_EQ(odd.accepted, 1);
    EXPECT_EQ(odd.reply.value.u32, 0xA5A5A5A5u);
    EXPECT_EQ(odd.reply.type, ueiTypeNone);
}

TEST(UEIFilter, ErrorRepliesCarryTheirCode) {
    FilterRun error = filterGetReply(kModule, {3, 7, 0x81, qErrInvalidOption});
    ASSERT_EQ(error.accepted, 1);
    EXPECT_EQ(error.reply.specifier, 0x81);
    EXPECT_EQ(error.reply.value.u8, qErrInvalidOption);
    // Deliberate: an error reply without its code byte is qErrUnknown; nothing past it is read.
    // Cut short before the code byte: still an error, never a stale byte.
    FilterRun shortError = filterGetReply(kModule, {3, 7, 0x81});
    ASSERT_EQ(shortError.accepted, 1);
    EXPECT_EQ(shortError.reply.value.u8, qErrUnknown);
}

TEST(UEIFilter, AStreamedValueIsNotAReply) {
    // Deliberate: a streamed sample is never taken for the reply to a get.
    EXPECT_EQ(filterGetReply(kModule, streamSample(kModule, 3, 7, 1, 3, 5).data).accepted, 0);
}

class UEIExchange : public ConnectedModule {
  protected:
    // Sends value as one bytes request to entity 0xA0; the data of the packets the module got.
    std::vector<Bytes> sendBytes(const Bytes& value, size_t packets) {
        uei bytes = request(0xA0, ueiTypeBytes);
        bytes.value.bytes.data = value.data();
        bytes.value.bytes.bytesLength = value.size();
        EXPECT_EQ(link().sendUEI(bytes), qErrNone);
        EXPECT_TRUE(player.waitForRequests(packets));
        return requestData();
    }
};

TEST_F(UEIExchange, NumericValuesAreBigEndianAfterTheHeader) {
    uei byteValue = request(0x81, ueiTypeByte);
    byteValue.value.u8 = 0x42;
    uei shortValue = request(0x82, ueiTypeShort);
    shortValue.value.u16 = 0x1234;
    uei intValue = request(0x83, ueiTypeInt);
    intValue.value.u32 = 0x01020304;
    ASSERT_EQ(link().sendUEI(request(0x44)), qErrNone);
    ASSERT_EQ(link().sendUEI(byteValue), qErrNone);
    ASSERT_EQ(link().sendUEI(shortValue), qErrNone);
    ASSERT_EQ(link().sendUEI(intValue), qErrNone);
    ASSERT_EQ(link().sendUEI(request(0x85), 9), qErrNone);
    ASSERT_EQ(link().sendUEI(intValue, 9), qErrNone);
    ASSERT_TRUE(player.waitForRequests(6));
    const std::vector<Bytes> expected = {{3, 0x44, 0x20},
                                         {3, 0x81, 0x20, 0x42},
                                         {3, 0x82, 0x20, 0x12, 0x34},
                                         {3, 0x83, 0x20, 1, 2, 3, 4},
                                         {3, 0x85, 0x20, 9},
                                         {3, 0x83, 0x20, 9, 1, 2, 3, 4}};
    EXPECT_EQ(requestData(), expected);
}

TEST_F(UEIExchange, FiftyBytesTravelAsThreePacketsWithTrailers) {
    Bytes value(50);
    for (size_t i = 0; i < value.size(); ++i) {
        value[i] = static_cast<uint8_t>(i);
    }
    auto seen = sendBytes(value, 3);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].size(), 28u);
    EXPECT_EQ(seen[1].size(), 28u);
    EXPECT_EQ(seen[2].size(), 6u);
    EXPECT_EQ(seen[0].back(), 0x80);
    EXPECT_EQ(seen[1].back(), 0x81);
    EXPECT_EQ(seen[2].back(), 0x02);
    Bytes carried;
    for (const Bytes& p : seen) {
        EXPECT_EQ(Bytes(p.begin(), p.begin() + 3), Bytes({3, 0xA0, 0x20}));
        carried.insert(carried.end(), p.begin() + 3, p.end() - 1);
    }
    EXPECT_EQ(carried, value);
}

TEST_F(UEIExchange, EmptyBytesValueIsOnePacketWithTrailerZero) {
    uei bytes = request(0xA0, ueiTypeBytes);
    ASSERT_EQ(link().sendUEI(bytes), qErrNone);
    ASSERT_TRUE(player.waitForRequests(1));
    EXPECT_EQ(requestData(), std::vector<Bytes>({{3, 0xA0, 0x20, 0x00}}));
}

TEST_F(UEIExchange, LongRunsWrapTheSequenceNumber) {
    Bytes value(130 * 24, 0x5A);
    auto seen = sendBytes(value, 130);
    ASSERT_EQ(seen.size(), 130u);
    EXPECT_EQ(seen[127].back(), 0xFF);
    EXPECT_EQ(seen[128].back(), 0x80);
    EXPECT_EQ(seen[129].back(), 0x01);
}

TEST_F(UEIExchange, RefusesBadAddressesAndSubIndexedBytes) {
    uei odd = request(0x41);
    odd.module = 0x11;
    EXPECT_EQ(link().sendUEI(odd), qErrPacket);
    odd.module = 0;
    EXPECT_EQ(link().sendUEI(odd), qErrPacket);
    EXPECT_EQ(link().sendUEI(request(0xA0, ueiTypeBytes), 1), qErrParam);
    uei reply;
    EXPECT_EQ(link().receiveUEI(0x11, 3, 7, 0, &reply), qErrPacket);
    EXPECT_TRUE(requestData().empty());
}

TEST(UEIExchangeOffline, NotConnectedIsAConnectionError) {
    Link link("offline");
    EXPECT_EQ(link.sendUEI(request(0x41)), qErrConnection);
    uei reply;
    EXPECT_EQ(link.receiveUEI(kModule, 3, 7, 0, &reply), qErrConnection);
}

TEST_F(UEIExchange, DropRemovesOnlyMatchingReplies) {
    player.send(from(kModule, {3, 7, 0, 1}));
    player.send(from(kModule, {3, 7, 0, 2}));
    player.send(from(kModule, {3, 8, 0, 3}));
    // Packets arrive in order: once option 8 is here, both option 7 replies are queued.
    uei reply;
    ASSERT_EQ(link().receiveUEI(kModule, 3, 8, 0, &reply), qErrNone);
    EXPECT_EQ(reply.value.u32, 3u);
    ASSERT_EQ(link().dropMatchingUEIPackets(kModule, 3, 7, 0), qErrNone);
    uei probe;
    probe.module = kModule;
    probe.command = 3;
    probe.option = 7;
    qPacket* left = qLink_GetFirst(link().getEngineLinkId(), sUEIFilter, &probe);
    EXPECT_EQ(left, nullptr);
    qPacket_Destroy(&left);
}
