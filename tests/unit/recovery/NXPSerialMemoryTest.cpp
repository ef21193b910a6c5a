// RAM writes and memory reads of the LPC ISP host against a scripted bootloader: data lines,
// checksums every 20 lines, RESEND handling and its limit, echo on and off.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "NXPScriptedRom.h"
#include "UuencodeOracle.h"
#include "NXPSerialClass.h"

namespace {

using Step = NXPScriptedRom::Step;

using zvtest::uuLine;

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 7 + 3) ^ (i >> 3));
    }
    return bytes;
}

unsigned byteSum(const std::vector<uint8_t>& data, size_t from, size_t to) {
    unsigned total = 0;
    for (size_t i = from; i < to; ++i) {
        total += data[i];
    }
    return total;
}

// The lines of one checksum block (at most 20 lines of 45 bytes from offset from), each with
// its line end, and the offset after them.
std::string blockLines(const std::vector<uint8_t>& data, size_t from, size_t* to) {
    std::string text;
    size_t at = from;
    for (int line = 0; line < 20 && at < data.size(); ++line) {
        size_t n = data.size() - at < 45 ? data.size() - at : 45;
        text += uuLine(data.data() + at, n) + "\r\n";
        at += n;
    }
    *to = at;
    return text;
}

std::string checksumLine(const std::vector<uint8_t>& data, size_t from, size_t to) {
    return std::to_string(byteSum(data, from, to)) + "\r\n";
}

class NXPSerialMemoryTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(rom.ready()); }
    void connectEchoOff() {
        ASSERT_EQ(nxp.Connect(rom.path(), 115200), qErrNone);
        rom.start(steps);
        ASSERT_EQ(nxp.SetEcho(false), qErrNone);
    }
    void expectEchoOff() { steps.push_back({"A 0\r\n", "A 0\r0\r\n"}); }

    NXPScriptedRom rom;
    NXPSerialClass nxp;
    std::vector<Step> steps;
};

TEST_F(NXPSerialMemoryTest, Write1000BytesIs23LinesWithTwoChecksums) {
    std::vector<uint8_t> data = pattern(1000);
    size_t mid = 0;
    size_t end = 0;
    std::string first = blockLines(data, 0, &mid);
    std::string second = blockLines(data, mid, &end);
    ASSERT_EQ(mid, 900u);
    ASSERT_EQ(end, 1000u);
    expectEchoOff();
    steps.push_back({"W 268439552 1000\r\n", "0\r\n"});
    steps.push_back({first + checksumLine(data, 0, 900), "OK\r\n"});
    steps.push_back({second + checksumLine(data, 900, 1000), "OK\r\n"});
    connectEchoOff();
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 1000, data.data()), qErrNone);
    std::string sent = rom.finish();
    EXPECT_EQ(sent, "A 0\r\nW 268439552 1000\r\n" + first + checksumLine(data, 0, 900) + second +
                        checksumLine(data, 900, 1000));
    // 23 data lines: 22 of 45 bytes (61 characters) and one of 10 (1 + 16 characters).
    EXPECT_EQ(second.size(), 2 * (61 + 2) + (17 + 2));
}

TEST_F(NXPSerialMemoryTest, WriteResendsTheBlockOnce) {
    std::vector<uint8_t> data = pattern(1000);
    size_t mid = 0;
    size_t end = 0;
    std::string first = blockLines(data, 0, &mid);
    std::string second = blockLines(data, mid, &end);
    expectEchoOff();
    steps.push_back({"W 268439552 1000\r\n", "0\r\n"});
    steps.push_back({first + checksumLine(data, 0, 900), "RESEND\r\n"});
    steps.push_back({first + checksumLine(data, 0, 900), "OK\r\n"});
    steps.push_back({second + checksumLine(data, 900, 1000), "OK\r\n"});
    connectEchoOff();
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 1000, data.data()), qErrNone);
    EXPECT_EQ(rom.finish(), "A 0\r\nW 268439552 1000\r\n" + first + checksumLine(data, 0, 900) +
                                first + checksumLine(data, 0, 900) + second +
                                checksumLine(data, 900, 1000));
}

TEST_F(NXPSerialMemoryTest, WriteGivesUpAtTheThirdResend) {
    std::vector<uint8_t> data = pattern(100);
    size_t end = 0;
    std::string block = blockLines(data, 0, &end) + checksumLine(data, 0, 100);
    expectEchoOff();
    steps.push_back({"W 268439552 100\r\n", "0\r\n"});
    for (int i = 0; i < 3; ++i) {
        steps.push_back({block, "RESEND\r\n"});
    }
    connectEchoOff();
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 100, data.data()), qErrTimeout);
    EXPECT_EQ(rom.finish(), "A 0\r\nW 268439552 100\r\n" + block + block + block);
}

TEST_F(NXPSerialMemoryTest, WriteStopsAtAnUnexpectedAnswer) {
    std::vector<uint8_t> data = pattern(8);
    size_t end = 0;
    std::string block = blockLines(data, 0, &end) + checksumLine(data, 0, 8);
    expectEchoOff();
    steps.push_back({"W 268439552 8\r\n", "0\r\n"});
    steps.push_back({block, "FAIL\r\n"});
    connectEchoOff();
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 8, data.data()), qErrIO);
}

TEST_F(NXPSerialMemoryTest, WriteRefusedByTheChipSendsNoData) {
    std::vector<uint8_t> data = pattern(8);
    expectEchoOff();
    steps.push_back({"W 268439552 8\r\n", "15\r\n"});
    connectEchoOff();
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 8, data.data()), qErrParam);
    EXPECT_EQ(rom.finish(), "A 0\r\nW 268439552 8\r\n");
}

TEST_F(NXPSerialMemoryTest, PaddedWriteFillsWithErasedBytes) {
    // Deliberate: a short chunk is sent padded with 0xFF to the length its copy takes.
    std::vector<uint8_t> data = pattern(10);
    std::vector<uint8_t> padded = data;
    padded.resize(16, 0xFF);
    size_t end = 0;
    std::string block = blockLines(padded, 0, &end) + checksumLine(padded, 0, 16);
    expectEchoOff();
    steps.push_back({"W 268439552 16\r\n", "0\r\n"});
    steps.push_back({block, "OK\r\n"});
    connectEchoOff();
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 10, data.data(), 16), qErrNone);
    EXPECT_EQ(rom.finish(), "A 0\r\nW 268439552 16\r\n" + block);
}

TEST_F(NXPSerialMemoryTest, ReadWithEchoOffSendsOkWithoutAwaitingItsEcho) {
    std::vector<uint8_t> data = pattern(100);
    size_t end = 0;
    std::string lines = blockLines(data, 0, &end);
    expectEchoOff();
    steps.push_back({"R 0 100\r\n", "0\r\n" + lines + checksumLine(data, 0, 100)});
    steps.push_back({"OK\r\n", ""});
    connectEchoOff();
    std::vector<uint8_t> buffer(100);
    EXPECT_EQ(nxp.Read(0, 100, buffer.data()), qErrNone);
    EXPECT_EQ(buffer, data);
    EXPECT_EQ(rom.finish(), "A 0\r\nR 0 100\r\nOK\r\n");
}

TEST_F(NXPSerialMemoryTest, ReadAsksAgainAfterABadChecksum) {
    std::vector<uint8_t> data = pattern(1000);
    size_t mid = 0;
    size_t end = 0;
    std::string first = blockLines(data, 0, &mid);
    std::string second = blockLines(data, mid, &end);
    std::string wrong = std::to_string(byteSum(data, 0, 900) + 1) + "\r\n";
    expectEchoOff();
    steps.push_back({"R 4096 1000\r\n", "0\r\n" + first + wrong});
    steps.push_back({"RESEND\r\n", first + checksumLine(data, 0, 900)});
    steps.push_back({"OK\r\n", second + checksumLine(data, 900, 1000)});
    steps.push_back({"OK\r\n", ""});
    connectEchoOff();
    std::vector<uint8_t> buffer(1000);
    EXPECT_EQ(nxp.Read(4096, 1000, buffer.data()), qErrNone);
    EXPECT_EQ(buffer, data);
    EXPECT_EQ(rom.finish(), "A 0\r\nR 4096 1000\r\nRESEND\r\nOK\r\nOK\r\n");
}

TEST_F(NXPSerialMemoryTest, ReadNeverWritesPastTheBufferWhateverTheLinesSay) {
    // Lines that claim 45 bytes for an 8-byte read decode nothing; the read ends after its
    // retries instead of overrunning the buffer.
    std::string hostile;
    for (int line = 0; line < 20; ++line) {
        hostile += std::string("M") + std::string(60, '!') + "\r\n";
    }
    expectEchoOff();
    steps.push_back({"R 0 8\r\n", "0\r\n" + hostile + "0\r\n"});
    steps.push_back({"RESEND\r\n", hostile + "0\r\n"});
    steps.push_back({"RESEND\r\n", hostile + "0\r\n"});
    connectEchoOff();
    std::vector<uint8_t> buffer(16, 0xEE);
    EXPECT_EQ(nxp.Read(0, 8, buffer.data()), qErrTimeout);
    for (uint8_t b : buffer) {
        EXPECT_EQ(b, 0xEE);
    }
    EXPECT_EQ(rom.finish(), "A 0\r\nR 0 8\r\nRESEND\r\nRESEND\r\n");
}

TEST_F(NXPSerialMemoryTest, ReadRefusedByTheChip) {
    expectEchoOff();
    steps.push_back({"R 0 8\r\n", "19\r\n"});
    connectEchoOff();
    uint8_t buffer[8];
    EXPECT_EQ(nxp.Read(0, 8, buffer), qErrParam);
    EXPECT_EQ(rom.finish(), "A 0\r\nR 0 8\r\n");
}

// With echo on the bootloader sends every byte back; the host must read past all of it.
TEST(NXPSerialEchoedMemoryTest, WriteAndReadWithEveryByteEchoed) {
    NXPScriptedRom rom(true);
    ASSERT_TRUE(rom.ready());
    std::vector<uint8_t> data = pattern(1000);
    size_t mid = 0;
    size_t end = 0;
    std::string first = blockLines(data, 0, &mid);
    std::string second = blockLines(data, mid, &end);
    rom.start({{"W 268439552 1000\r\n", "0\r\n"},
               {first + checksumLine(data, 0, 900), "OK\r\n"},
               {second + checksumLine(data, 900, 1000), "RESEND\r\n"},
               {second + checksumLine(data, 900, 1000), "OK\r\n"},
               {"R 268439552 100\r\n",
                "0\r\n" + blockLines(pattern(100), 0, &end) + checksumLine(pattern(100), 0, 100)}});
    NXPSerialClass nxp;
    ASSERT_EQ(nxp.Connect(rom.path(), 115200), qErrNone);
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 1000, data.data()), qErrNone);
    std::vector<uint8_t> buffer(100);
    EXPECT_EQ(nxp.Read(NXPSerialClass::WRITE_ADDRESS, 100, buffer.data()), qErrNone);
    EXPECT_EQ(buffer, pattern(100));
    EXPECT_EQ(rom.finish(), "W 268439552 1000\r\n" + first + checksumLine(data, 0, 900) + second +
                                checksumLine(data, 900, 1000) + second +
                                checksumLine(data, 900, 1000) + "R 268439552 100\r\nOK\r\n");
}

}  // namespace
