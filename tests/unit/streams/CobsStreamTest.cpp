// Packetised serial links: COBS and CRC-8 as such, and the framed stream over a pseudo-terminal,
// where each packet travels as its wire form and CRC, COBS-encoded, ended by a zero byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PseudoTerminal.h"
#include "StreamPolling.h"
#include "cobs.h"
#include "crc8.h"
#include "unix_streamserial.h"

namespace {

std::vector<uint8_t> bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> encode(const std::vector<uint8_t>& plain) {
    std::vector<uint8_t> out(plain.size() + plain.size() / 254 + 2);
    out.resize(cobs_encode(plain.data(), plain.size(), out.data()));
    return out;
}

std::vector<uint8_t> decode(const std::vector<uint8_t>& coded) {
    std::vector<uint8_t> out(coded.size());
    out.resize(cobs_decode(coded.data(), coded.size(), out.data()));
    return out;
}

// What a module sends for a packet: wire form, CRC-8, COBS, delimiter.
std::string frameOf(const std::vector<uint8_t>& wire) {
    std::vector<uint8_t> plain = wire;
    plain.push_back(crc8_create(wire.data(), wire.size()));
    std::vector<uint8_t> coded = encode(plain);
    coded.push_back(0);
    return std::string(coded.begin(), coded.end());
}

TEST(Cobs, KnownVectorsAndRoundTrips) {
    EXPECT_EQ(encode({0x11, 0x22, 0x00, 0x33}),
              (std::vector<uint8_t>{0x03, 0x11, 0x22, 0x02, 0x33}));
    EXPECT_EQ(decode({0x03, 0x11, 0x22, 0x02, 0x33}),
              (std::vector<uint8_t>{0x11, 0x22, 0x00, 0x33}));
    EXPECT_EQ(encode({0x00}), (std::vector<uint8_t>{0x01, 0x01}));
    EXPECT_EQ(encode({}), (std::vector<uint8_t>{0x01}));
    // A run of 254 non-zero bytes takes a full-run code; 255 bytes continue in a second run.
    std::vector<uint8_t> run(255);
    for (size_t i = 0; i < run.size(); ++i) {
        run[i] = static_cast<uint8_t>(i % 255 + 1);
    }
    std::vector<uint8_t> coded = encode(run);
    EXPECT_EQ(coded[0], 0xFF);
    EXPECT_EQ(coded[255], 0x02);
    EXPECT_EQ(decode(coded), run);
    // In place, as the framed stream encodes.
    uint8_t buffer[8] = {0x11, 0x22, 0x00, 0x33};
    ASSERT_EQ(cobs_encode_inplace(buffer, 4), 5u);
    ASSERT_EQ(cobs_decode_inplace(buffer, 5), 4u);
    EXPECT_EQ(buffer[2], 0x00);
    EXPECT_EQ(buffer[3], 0x33);
}

TEST(Cobs, MalformedInputDecodesToNothing) {
    EXPECT_TRUE(decode({0x05, 0x11, 0x22}).empty());        // code points beyond the input
    EXPECT_TRUE(decode({0x02, 0x11, 0x00, 0x22}).empty());  // a zero inside the frame
}

TEST(Crc8, MaximCheckValueAndEmptyInput) {
    std::vector<uint8_t> digits = bytes("123456789");
    EXPECT_EQ(crc8_create(digits.data(), digits.size()), 0xA1);
    EXPECT_EQ(crc8_create(nullptr, 0), 0);
    EXPECT_TRUE(crc8_check(digits.data(), digits.size(), 0xA1));
    EXPECT_FALSE(crc8_check(digits.data(), digits.size(), 0xA2));
    uint8_t crc = 0;
    for (uint8_t byte : digits) {
        crc = crc8_update(crc, byte);
    }
    EXPECT_EQ(crc, 0xA1);
}

// Takes count packet bytes one read at a time (within a generous limit), counting the frames
// refused on the way.
std::vector<uint8_t> readBytes(qStream* stream, size_t count, int* refused) {
    std::vector<uint8_t> got;
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < count && std::chrono::steady_clock::now() < limit) {
        uint8_t byte = 0;
        qErr err = qStream_Read(stream, &byte, 1);
        if (err == qErrNone) {
            got.push_back(byte);
        } else if (err == qErrPacket) {
            ++*refused;
        }
    }
    return got;
}

class FramedSerial : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ready());
        pty.makeRaw();
        ASSERT_EQ(qStream_CreateSerial_Packetized(pty.slavePath().c_str(), 6, 0, 0, 0, &stream),
                  qErrNone);
    }
    void TearDown() override {
        if (stream != nullptr) {
            qStream_Destroy(&stream);
        }
    }
    PseudoTerminal pty;
    qStream* stream = nullptr;
};

TEST_F(FramedSerial, LargestPacketGoesAsOneFrameOf33Bytes) {
    std::vector<uint8_t> wire = {4, 28};
    for (uint8_t i = 0; i < 28; ++i) {
        wire.push_back(i);  // a zero among the data: the encoding must stuff it
    }
    ASSERT_EQ(qStream_Write(stream, wire.data(), wire.size()), qErrNone);
    std::string frame = pty.receive(33);
    EXPECT_EQ(frame, frameOf(wire));
    EXPECT_EQ(frame.size(), 33u);
}

TEST_F(FramedSerial, BytesOutsideAPacketAreSkippedAndEachPacketIsAFrame) {
    // Deliberate: a byte a packet refuses is skipped whole, so later packets keep their shape.
    // A zero address is no packet start; then two packets in one write.
    std::vector<uint8_t> wire = {0, 2, 1, 0x30, 4, 0};
    ASSERT_EQ(qStream_Write(stream, wire.data(), wire.size()), qErrNone);
    std::string expected = frameOf({2, 1, 0x30}) + frameOf({4, 0});
    EXPECT_EQ(pty.receive(expected.size()), expected);
}

TEST_F(FramedSerial, ReceivedFramesArriveAsPacketBytesAndBadOnesAreRefused) {
    std::string damaged = frameOf({6, 2, 0x31, 0x07});
    damaged[damaged.size() - 2] ^= 0x40;  // the CRC (or the last data byte) no longer agrees
    pty.send(damaged + frameOf({6, 2, 0x31, 0x08}));
    // Bytes are taken one at a time; the damaged frame gives one qErrPacket and nothing else.
    int refused = 0;
    std::vector<uint8_t> got = readBytes(stream, 4, &refused);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(got, (std::vector<uint8_t>{6, 2, 0x31, 0x08}));
}

TEST_F(FramedSerial, FrameWhoseLengthByteDisagreesIsRefused) {
    // Length byte 5 but two data bytes: the CRC is right, the frame is not.
    pty.send(frameOf({6, 5, 0x31, 0x08}) + frameOf({8, 0}));
    int refused = 0;
    std::vector<uint8_t> got = readBytes(stream, 2, &refused);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(got, (std::vector<uint8_t>{8, 0}));
}

TEST_F(FramedSerial, EndlessGarbageWithoutDelimiterIsBounded) {
    pty.send(std::string(200, '\x55') + std::string(1, '\0') + frameOf({8, 0}));
    int refused = 0;
    std::vector<uint8_t> got = readBytes(stream, 2, &refused);
    EXPECT_EQ(got, (std::vector<uint8_t>{8, 0}));
}

}  // namespace
