// A module on a packetised serial line (cobs-pty): every packet both ways is one COBS frame
// with a CRC-8, and frames that fail their check are dropped without an answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CobsWire.h"
#include "SimHarness.h"

namespace {

using cobstest::Bytes;
using cobstest::cobsStuff;
using cobstest::cobsUnstuff;
using cobstest::crc8Maxim;
using cobstest::frameOf;
using simtest::WirePacket;

const Bytes kEcho = {23, 0x11, 0x22};

Bytes textBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(CobsWireHelper, Crc8MaximCheckValues) {
    EXPECT_EQ(crc8Maxim(textBytes("123456789")), 0xA1);
    EXPECT_EQ(crc8Maxim({}), 0);
    EXPECT_EQ(crc8Maxim({0x01}), 0x5E);
}

TEST(CobsWireHelper, StuffingVectorsRoundTrip) {
    const std::vector<std::pair<Bytes, Bytes>> vectors = {
        {{0x11, 0x22, 0x00, 0x33}, {0x03, 0x11, 0x22, 0x02, 0x33}},
        {{}, {0x01}},
        {{0x00}, {0x01, 0x01}},
        {{0x00, 0x00}, {0x01, 0x01, 0x01}},
        {{0x11, 0x00}, {0x02, 0x11, 0x01}},
    };
    for (const auto& vector : vectors) {
        EXPECT_EQ(cobsStuff(vector.first), vector.second);
        Bytes back;
        ASSERT_TRUE(cobsUnstuff(vector.second, back));
        EXPECT_EQ(back, vector.first);
    }
    Bytes full(254, 0x42);
    Bytes stuffed = cobsStuff(full);
    ASSERT_EQ(stuffed.size(), 255u);
    EXPECT_EQ(stuffed[0], 0xFF);
    full.push_back(0x43);
    stuffed = cobsStuff(full);
    ASSERT_EQ(stuffed.size(), 257u);
    EXPECT_EQ(stuffed[255], 0x02);
    Bytes back;
    EXPECT_FALSE(cobsUnstuff({0x05, 0x11, 0x22}, back));  // the code byte points past the end
}

class CobsSimTest : public ::testing::Test {
  protected:
    bool start(const std::string& module, const std::vector<std::string>& options = {}) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {"--duration", "60", "--module", module});
        std::string why;
        if (!sim.start(args, &why)) {
            ADD_FAILURE() << why;
            return false;
        }
        std::string path = sim.where("pty", "00C0FFEE");
        if (path.rfind("/dev/pts/", 0) != 0 || !line.open(path)) {
            ADD_FAILURE() << "no pty line for the module: " << path;
            return false;
        }
        return true;
    }

    // The next frame, unstuffed but not checked.
    Bytes nextPlainFrame() {
        Bytes stuffed;
        Bytes plain;
        EXPECT_TRUE(line.receiveRaw(stuffed));
        EXPECT_TRUE(cobsUnstuff(stuffed, plain));
        return plain;
    }

    simtest::SimProcess sim;
    cobstest::FrameTerminal line;
};

TEST_F(CobsSimTest, SystemEntityGetIsAnsweredAsOneCheckedFrame) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0,model=19"));
    line.sendPacket(2, {3, 0x48, 0x20});  // the model query
    Bytes stuffed;
    ASSERT_TRUE(line.receiveRaw(stuffed));
    const Bytes plain = {2, 4, 3, 8, 0, 19};
    Bytes expected = {0x05, 2, 4, 3, 8, 0x03, 19, crc8Maxim(plain)};
    EXPECT_EQ(stuffed, expected);
    EXPECT_TRUE(line.quietFor(200));
}

TEST_F(CobsSimTest, ZerosInTheReplyAndInItsCrcAreStuffed) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0"));
    EXPECT_EQ(line.exchange(2, {23, 0x11, 0x22, 0x00, 0x33}).data,
              (Bytes{23, 0x11, 0x22, 0x00, 0x33}));
    // An echo whose frame has a CRC of 0 ends in a run code for that zero.
    int zeroCrcByte = -1;
    for (int b = 1; b < 256 && zeroCrcByte < 0; ++b) {
        if (crc8Maxim({2, 2, 23, static_cast<uint8_t>(b)}) == 0)
            zeroCrcByte = b;
    }
    ASSERT_GT(zeroCrcByte, 0);
    uint8_t b = static_cast<uint8_t>(zeroCrcByte);
    line.sendPacket(2, {23, b});
    Bytes stuffed;
    ASSERT_TRUE(line.receiveRaw(stuffed));
    EXPECT_EQ(stuffed, (Bytes{0x05, 2, 2, 23, b, 0x01}));
}

TEST_F(CobsSimTest, IdentifyRequestAndLargestPacketTravelInFrames) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0,address=8"));
    line.sendPacket(173, {});
    EXPECT_EQ(nextPlainFrame(), (Bytes{8, 0, crc8Maxim({8, 0})}));

    Bytes largest = {23};
    for (uint8_t i = 1; i < 28; ++i)
        largest.push_back(i);
    Bytes request = frameOf(8, largest);
    ASSERT_EQ(request.size(), 33u);  // 32 stuffed bytes fill the module's buffer exactly
    line.sendBytes(request);
    Bytes stuffed;
    ASSERT_TRUE(line.receiveRaw(stuffed));
    EXPECT_EQ(stuffed.size() + 1, 33u);
    Bytes plain;
    ASSERT_TRUE(cobsUnstuff(stuffed, plain));
    ASSERT_EQ(plain.size(), 31u);
    EXPECT_EQ(Bytes(plain.begin() + 2, plain.end() - 1), largest);
    EXPECT_EQ(plain.back(), crc8Maxim(Bytes(plain.begin(), plain.end() - 1)));
}

TEST_F(CobsSimTest, FramesThatFailTheirCheckAreIgnored) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0"));
    line.sendBytes(frameOf(2, {23, 1}, true));  // wrong CRC
    EXPECT_TRUE(line.quietFor(300));
    EXPECT_EQ(line.exchange(2, {23, 2}).data, (Bytes{23, 2}));

    Bytes wrongLength = {2, 5, 23, 3};
    wrongLength.push_back(crc8Maxim(wrongLength));
    Bytes frame = cobsStuff(wrongLength);
    frame.push_back(0);
    line.sendBytes(frame);
    line.sendBytes({0x05, 0x02, 0x02, 0x00});  // a code byte that points past the end
    line.sendBytes({0x00, 0x00});              // empty frames
    Bytes tooShort = {2, crc8Maxim({2})};
    frame = cobsStuff(tooShort);
    frame.push_back(0);
    line.sendBytes(frame);
    line.sendBytes(simtest::wire(2, {23, 4}));  // unframed bytes, ended by the next delimiter
    line.sendBytes({0});
    EXPECT_TRUE(line.quietFor(300));
    EXPECT_EQ(line.exchange(2, {23, 5}).data, (Bytes{23, 5}));
    EXPECT_EQ(line.badFrames, 0);
}

TEST_F(CobsSimTest, OverlongInputIsCutAtTheModulesBuffer) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0"));
    // A good frame with 4000 stray bytes before it: without a delimiter they cannot end, so
    // they and the frame become one long run that the 32-byte buffer cuts and the check fails.
    Bytes junk(4000, 0x41);
    Bytes good = frameOf(2, {23, 6});
    junk.insert(junk.end(), good.begin(), good.end());
    line.sendBytes(junk);
    EXPECT_TRUE(line.quietFor(300));
    EXPECT_EQ(line.exchange(2, {23, 8}).data, (Bytes{23, 8}));
    // Bytes past the module's 32-byte buffer are lost: a largest frame with stray bytes after
    // it, before its delimiter, still reads as that frame.
    Bytes largest(28, 0x5A);
    largest[0] = 23;
    Bytes frame = frameOf(2, largest);
    ASSERT_EQ(frame.size(), 33u);
    frame.insert(frame.end() - 1, {0x01, 0x01, 0x01});
    line.sendBytes(frame);
    WirePacket reply;
    ASSERT_TRUE(line.receive(reply));
    EXPECT_EQ(reply.data, largest);
    EXPECT_EQ(line.exchange(2, {23, 9}).data, (Bytes{23, 9}));
}

TEST_F(CobsSimTest, BadCrcEverySpoilsEveryNthReplyFrame) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0,bad-crc-every=2"));
    for (uint8_t i = 1; i <= 4; ++i) {
        line.sendPacket(2, {23, i});
        Bytes plain = nextPlainFrame();
        ASSERT_EQ(plain.size(), 5u) << int(i);
        EXPECT_EQ(Bytes(plain.begin(), plain.end() - 1), (Bytes{2, 2, 23, i}));
        uint8_t crc = crc8Maxim({2, 2, 23, i});
        EXPECT_EQ(plain.back(), i % 2 == 0 ? static_cast<uint8_t>(~crc) : crc) << int(i);
    }
}

TEST_F(CobsSimTest, HeartbeatsAreFramesToo) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=100,address=6"));
    line.sendPacket(6, kEcho);  // the line is in use from the first byte on
    WirePacket echo;
    ASSERT_TRUE(line.receive(echo));
    EXPECT_EQ(echo.data, kEcho);
    for (int beat = 0; beat < 2; ++beat) {
        WirePacket heartbeat;
        ASSERT_TRUE(line.receive(heartbeat, 3000, true));
        EXPECT_EQ(heartbeat.address, 6);
        EXPECT_EQ(heartbeat.data, (Bytes{0, 0}));
        line.sendPacket(6, {0, 2});
    }
    EXPECT_EQ(line.badFrames, 0);
}

TEST_F(CobsSimTest, DropAndCorruptKnobsWorkInsideGoodFrames) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0,drop-every=3,corrupt-every=2"));
    EXPECT_EQ(line.exchange(2, {23, 5, 6}).data, (Bytes{23, 5, 6}));
    // The damage is done to the packet, so its frame still checks out.
    EXPECT_EQ(line.exchange(2, {23, 5, 6}).data, (Bytes{23, 5, 0xF9}));
    line.sendPacket(2, {23, 5, 6});
    EXPECT_TRUE(line.quietFor(300));
    EXPECT_EQ(line.exchange(2, {23, 5, 6}).data, (Bytes{23, 5, 0xF9}));
    EXPECT_EQ(line.badFrames, 0);
}

TEST_F(CobsSimTest, LatencyKeepsReplyFramesInOrder) {
    // The simulator's packet log goes to the test's standard error, so that a reply that never
    // comes shows whether the request arrived and when the reply left.
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0", {"--log", "--latency-ms", "50"}));
    for (uint8_t i = 1; i <= 5; ++i)
        line.sendPacket(2, {23, i});
    for (uint8_t i = 1; i <= 5; ++i) {
        WirePacket reply;
        ASSERT_TRUE(line.receive(reply));
        EXPECT_EQ(reply.data, (Bytes{23, i}));
    }
}

TEST_F(CobsSimTest, SilentModuleAnswersNoFrame) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=100,silent"));
    line.sendPacket(173, {});
    line.sendPacket(2, kEcho);
    EXPECT_TRUE(line.quietFor(500));
}

TEST_F(CobsSimTest, DisconnectAfterHangsTheLineUp) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0,disconnect-after=2"));
    EXPECT_EQ(line.exchange(2, kEcho).data, kEcho);
    line.sendPacket(2, kEcho);
    EXPECT_TRUE(line.hungUp());
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(CobsSimTest, UpgradeLoaderAnswersInFrames) {
    ASSERT_TRUE(start("serial=00C0FFEE,cobs-pty,hb-ms=0"));
    EXPECT_EQ(line.exchange(2, {95, 2}).data, (Bytes{95, 2}));
    EXPECT_EQ(line.exchange(2, {95, 3, 0, 0, 0, 0x40, 0}).data, (Bytes{95, 7, 0, 4, 0}));
}

TEST(ModulesimCobsRouter, BusModulesAnswerThroughTheRoutersFrames) {
    simtest::SimProcess sim;
    std::string why;
    ASSERT_TRUE(sim.start({"--duration", "60", "--module", "serial=0A0B0C0D,cobs-pty,hb-ms=0",
                           "--module", "serial=11111111,behind=0A0B0C0D,address=4,bad-crc-every=1"},
                          &why))
        << why;
    cobstest::FrameTerminal line;
    ASSERT_TRUE(line.open(sim.where("pty", "0A0B0C0D")));
    EXPECT_EQ(line.exchange(2, kEcho).data, kEcho);
    line.sendPacket(4, kEcho);
    WirePacket none;
    EXPECT_FALSE(line.receive(none, 500));  // the bus module's only reply had a bad CRC
    EXPECT_EQ(line.badFrames, 1);
}

}  // namespace
