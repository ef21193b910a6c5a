#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "PseudoTerminal.h"
#include "StreamPolling.h"
#include "TestSupport.h"
#include "unix_streamserial.h"

namespace {

// Each test gets its own pseudo-terminal to open as the serial port.
class SerialStreamTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty.ready()); }

    PseudoTerminal pty;
    qStream* stream = nullptr;
};

TEST_F(SerialStreamTest, RawBytesBothWays) {
    ASSERT_EQ(qStream_CreateSerial(pty.slavePath().c_str(), 6, 0, 0, 0, &stream), qErrNone);

    termios t = pty.slaveSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON), 0u);
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);

    uint8_t byte = 0;
    EXPECT_EQ(qStream_Read(stream, &byte, 1), qErrNotReady);
    // Bytes a cooked line would have changed: CR, newline, NUL, DEL, Ctrl-C.
    const std::string binary("\r\n\0\x7f\x03\xff", 6);
    ASSERT_EQ(qStream_Write(stream, reinterpret_cast<const uint8_t*>(binary.data()), binary.size()),
              qErrNone);
    EXPECT_EQ(pty.receive(binary.size()), binary);

    pty.send(binary);
    uint8_t buffer[6];
    ASSERT_EQ(readWithin(stream, buffer, 6), qErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), binary);
    EXPECT_EQ(qStream_Destroy(&stream), qErrNone);
}

// A timed read over a real line: it waits its whole time for bytes that do not come, keeps the
// ones that did, collects bytes that come late within the time, and with no time takes what is
// already waiting.
TEST_F(SerialStreamTest, ReadWithinBoundsTheWaitAndCountsPartialReads) {
    ASSERT_EQ(qStream_CreateSerial(pty.slavePath().c_str(), 6, 0, 0, 0, &stream), qErrNone);
    using Clock = std::chrono::steady_clock;
    auto msSince = [](Clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    };

    pty.send("ab");
    uint8_t buffer[8] = {};
    qErr last = qErrNone;
    auto start = Clock::now();
    EXPECT_EQ(qStream_ReadWithin(stream, buffer, 5, 300, &last), 2u);
    EXPECT_GE(msSince(start), 300);
    EXPECT_LT(msSince(start), 3000);
    EXPECT_EQ(last, qErrNotReady);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "ab");

    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.send("cde");
    });
    start = Clock::now();
    EXPECT_EQ(qStream_ReadWithin(stream, buffer, 3, 10000, &last), 3u);
    late.join();
    EXPECT_LT(msSince(start), 5000);
    EXPECT_EQ(last, qErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "cde");

    pty.send("fgh");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(qStreamBufferChar(stream, 'z'), qErrNone);
    EXPECT_EQ(qStream_ReadWithin(stream, buffer, sizeof buffer, 0, &last), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "zfgh");
    EXPECT_EQ(qStream_Destroy(&stream), qErrNone);
}

TEST_F(SerialStreamTest, FramingCodesAndRestoreOnClose) {
    termios before = pty.slaveSettings();
    ASSERT_EQ(qStream_CreateSerial(pty.slavePath().c_str(), 2, 1, 1, 1, &stream), qErrNone);
    termios t = pty.slaveSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    // A pseudo-terminal always carries 8 data bits without parity, so only the stop bits and
    // the parity handling of the input side show here.
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_iflag & IGNPAR, 0u);
    EXPECT_EQ(qStream_Destroy(&stream), qErrNone);

    termios after = pty.slaveSettings();
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST_F(SerialStreamTest, UnknownBaudCodeOpensAtSpeedZero) {
    ASSERT_EQ(qStream_CreateSerial(pty.slavePath().c_str(), 8, 0, 0, 0, &stream), qErrNone);
    termios t = pty.slaveSettings();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B0));
    qStream_Destroy(&stream);
}

TEST_F(SerialStreamTest, OpenFailures) {
    zvtest::TempDir dir;
    const char* path = pty.slavePath().c_str();
    EXPECT_EQ(qStream_CreateSerial(path, 6, 0, 2, 0, &stream), qErrResource);
    EXPECT_EQ(qStream_CreateSerial(path, 6, 0, 0, 2, &stream), qErrResource);
    EXPECT_EQ(qStream_CreateSerial(nullptr, 6, 0, 0, 0, &stream), qErrResource);
    EXPECT_EQ(qStream_CreateSerial(path, 6, 0, 0, 0, nullptr), qErrResource);
    EXPECT_EQ(qStream_CreateSerial(std::string(5000, 'p').c_str(), 6, 0, 0, 0, &stream),
              qErrResource);
    EXPECT_EQ(qStream_CreateSerial(dir.file("ttyNone").c_str(), 6, 0, 0, 0, &stream), qErrNotFound);
    zvtest::writeFile(dir.file("plain"), "not a terminal");
    EXPECT_EQ(qStream_CreateSerial(dir.file("plain").c_str(), 6, 0, 0, 0, &stream), qErrIO);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(SerialStreamTest, PacketizedOpenFailsLikeThePort) {
    zvtest::TempDir dir;
    EXPECT_EQ(qStream_CreateSerial_Packetized(dir.file("ttyNone").c_str(), 6, 0, 0, 0, &stream),
              qErrNotFound);
    EXPECT_EQ(stream, nullptr);
}

}  // namespace
