// Stream keys and the decoding of stream packets.
#include <gtest/gtest.h>

#include "LinkImpl.h"
#include "ObjectsFixture.h"

using namespace Pelmorax::Zendrival;
using zvtest::streamSample;

namespace {

struct Packet {
    explicit Packet(const zvtest::WirePacket& p)
        : packet(qPacket_CreateWithData(p.address, static_cast<uint8_t>(p.data.size()),
                                        p.data.data())) {}
    ~Packet() { qPacket_Destroy(&packet); }
    qPacket* packet;
};

}  // namespace

TEST(StreamKey, ElementsSitInTheirBytes) {
    const uint64_t key = Link::createStreamKey(0x10, 3, 7, 2, 9);
    EXPECT_EQ(key, 0x0910030702ull);
    EXPECT_EQ(Link::getStreamKeyElement(key, Link::STREAM_KEY_MODULE), 0x10);
    EXPECT_EQ(Link::getStreamKeyElement(key, Link::STREAM_KEY_COMMAND), 3);
    EXPECT_EQ(Link::getStreamKeyElement(key, Link::STREAM_KEY_OPTION), 7);
    EXPECT_EQ(Link::getStreamKeyElement(key, Link::STREAM_KEY_INDEX), 2);
    EXPECT_EQ(Link::getStreamKeyElement(key, Link::STREAM_KEY_SUBINDEX), 9);
}

TEST(StreamKey, GenericMasksNeverWildcardTheModule) {
    EXPECT_EQ(_getGenericStreamKeyMask(0), Link::createStreamKey(0, 0, 0, 255, 0));
    EXPECT_EQ(_getGenericStreamKeyMask(6), Link::createStreamKey(0, 255, 255, 255, 0));
    EXPECT_EQ(_getGenericStreamKeyMask(14), Link::createStreamKey(0, 255, 255, 255, 255));
    for (uint8_t i = 0; i < GENERIC_STREAM_KEY_MASKS; ++i) {
        EXPECT_EQ(Link::getStreamKeyElement(_getGenericStreamKeyMask(i), Link::STREAM_KEY_MODULE),
                  0);
    }
}

TEST(StreamDecode, ThirtyTwoBitSampleNeedsSeventeenBytes) {
    zvtest::WirePacket wire = streamSample(0x10, 3, 7, 0, 3, 0xCAFEBABE);
    ASSERT_EQ(wire.data.size(), 17u);
    Packet good(wire);
    uint64_t timestamp = 0;
    uint32_t value = 0;
    uint8_t subIndex = 99;
    ASSERT_EQ(Link::getStreamSample(good.packet, &timestamp, &value, &subIndex), qErrNone);
    EXPECT_EQ(timestamp, 0x0000000100000002ull);
    EXPECT_EQ(value, 0xCAFEBABEu);
    EXPECT_EQ(subIndex, 0);
    uint32_t high = 0, low = 0;
    Link::getTimestampParts(timestamp, &high, &low);
    EXPECT_EQ(high, 1u);
    EXPECT_EQ(low, 2u);

    wire.data.erase(wire.data.begin() + 12);
    Packet shortened(wire);
    EXPECT_FALSE(Link::isStreamSample(shortened.packet));
    EXPECT_EQ(Link::getStreamSample(shortened.packet, &timestamp, &value, nullptr), qErrPacket);
}

TEST(StreamDecode, SubIndexedSamples) {
    Packet eightBit(streamSample(0x10, 3, 7, 0, 5, 0xAB, 4));
    Packet thirtyTwo(streamSample(0x10, 3, 7, 0, 7, 0x01020304, 6));
    uint32_t value = 0;
    uint8_t subIndex = 0;
    ASSERT_EQ(Link::getStreamSample(eightBit.packet, nullptr, &value, &subIndex), qErrNone);
    EXPECT_EQ(value, 0xABu);
    EXPECT_EQ(subIndex, 4);
    ASSERT_EQ(Link::getStreamSample(thirtyTwo.packet, nullptr, &value, &subIndex), qErrNone);
    EXPECT_EQ(value, 0x01020304u);
    EXPECT_EQ(subIndex, 6);
    EXPECT_TRUE(Link::isSubindexType(Link::STREAM_PACKET_SUBINDEX_U8));
    EXPECT_FALSE(Link::isSubindexType(Link::STREAM_PACKET_U32));
}

TEST(StreamDecode, ContinuedStreamIsABytesStream) {
    zvtest::WirePacket wire = streamSample(0x10, 3, 7, 0, 3, 1);
    wire.data.back() = 0x80;
    Packet continued(wire);
    Link::STREAM_PACKET type;
    ASSERT_TRUE(Link::getStreamPacketType(continued.packet, &type));
    EXPECT_EQ(type, Link::STREAM_PACKET_BYTES);
    EXPECT_EQ(Link::getStreamSample(continued.packet, nullptr, nullptr, nullptr), qErrSize);
}

TEST(StreamDecode, NonStreamPacketsHaveNoType) {
    Packet reply(zvtest::WirePacket{0x10, {3, 7, 0, 1, 2, 3, 4}});
    Packet unknownType(zvtest::WirePacket{0x10, {3, 7, 0x40, 9, 1, 2, 0}});
    Link::STREAM_PACKET type = Link::STREAM_PACKET_U8;
    EXPECT_FALSE(Link::getStreamPacketType(reply.packet, &type));
    EXPECT_EQ(type, Link::STREAM_PACKET_NONE);
    EXPECT_FALSE(Link::getStreamPacketType(unknownType.packet, &type));
    EXPECT_EQ(Link::linkStreamFilter(reply.packet, nullptr), 0);
}
