// The LPC ISP host's single-line commands against a scripted bootloader on a pseudo-terminal:
// the exact bytes sent, echo handling in both orders of the final line end, return codes, and
// the checks made before anything is sent.
#include <gtest/gtest.h>

#include <termios.h>

#include <string>

#include "NXPScriptedRom.h"
#include "NXPSerialClass.h"

namespace {

using Step = NXPScriptedRom::Step;

class NXPSerialCommandTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(rom.ready()); }
    void connect(uint32_t baud = 115200) { ASSERT_EQ(nxp.Connect(rom.path(), baud), qErrNone); }

    NXPScriptedRom rom;
    NXPSerialClass nxp;
};

// A bootloader that echoes every byte itself, as the real one does with echo on.
class NXPSerialEchoingTest : public NXPSerialCommandTest {
  protected:
    NXPSerialEchoingTest() : echoingRom(true) {}
    void SetUp() override { ASSERT_TRUE(echoingRom.ready()); }
    void connect() { ASSERT_EQ(nxp.Connect(echoingRom.path(), 115200), qErrNone); }

    NXPScriptedRom echoingRom;
};

speed_t lineSpeed(const std::string& path) {
    termios t{};
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        tcgetattr(fd, &t);
        close(fd);
    }
    return cfgetospeed(&t);
}

TEST_F(NXPSerialCommandTest, ConnectPicksTheTableRate) {
    connect(10000);
    EXPECT_EQ(nxp.BaudRate(), 19200u);
    EXPECT_EQ(lineSpeed(rom.path()), static_cast<speed_t>(B19200));
    EXPECT_EQ(nxp.PortName(), rom.path());
    connect(1000000);
    EXPECT_EQ(nxp.BaudRate(), 9600u);
    EXPECT_EQ(lineSpeed(rom.path()), static_cast<speed_t>(B9600));
    EXPECT_EQ(nxp.Disconnect(), qErrNone);
    EXPECT_FALSE(nxp.IsConnected());
}

TEST_F(NXPSerialCommandTest, ConnectToAMissingPortFails) {
    EXPECT_EQ(nxp.Connect("/dev/nxp-no-such-port", 115200), qErrNotFound);
    EXPECT_FALSE(nxp.IsConnected());
    EXPECT_NE(nxp.Unlock(), qErrNone);
}

TEST_F(NXPSerialCommandTest, UnlockWithEchoBeforeTheCode) {
    rom.start({{"U 23130\r\n", "U 23130\r\n0\r\n"}});
    connect();
    EXPECT_EQ(nxp.Unlock(), qErrNone);
    EXPECT_EQ(rom.finish(), "U 23130\r\n");
}

TEST_F(NXPSerialCommandTest, EchoedLineEndMayFollowTheCode) {
    // The bootloader ends the command at "\r", answers, and only then echoes the "\n".
    rom.start({{"U 23130\r\n", "U 23130\r0\r\n\n"}, {"P 0 29\r\n", "P 0 29\r0\r\n\n"}});
    connect();
    EXPECT_EQ(nxp.Unlock(), qErrNone);
    EXPECT_EQ(nxp.Prepare(0, 29), qErrNone);
    EXPECT_EQ(rom.finish(), "U 23130\r\nP 0 29\r\n");
}

TEST_F(NXPSerialCommandTest, TwoDigitCodesWithEchoAreFailures) {
    // Deliberate: return codes are read as whole numbers, so 10 to 19 never pass as success.
    rom.start({{"U 23130\r\n", "U 23130\r\n19\r\n"},
               {"U 23130\r\n", "U 23130\r10\r\n\n"},
               {"E 3 4\r\n", "E 3 4\r\n8\r\n"}});
    connect();
    EXPECT_EQ(nxp.Unlock(), qErrParam);
    EXPECT_EQ(nxp.Unlock(), qErrParam);
    EXPECT_EQ(nxp.Erase(3, 4), qErrParam);
    EXPECT_EQ(rom.finish(), "U 23130\r\nU 23130\r\nE 3 4\r\n");
}

TEST_F(NXPSerialCommandTest, EchoOffReadsNoEcho) {
    rom.start({{"A 0\r\n", "A 0\r0\r\n"}, {"U 23130\r\n", "0\r\n"}, {"A 1\r\n", "0\r\n\n"}});
    connect();
    EXPECT_TRUE(nxp.Echo());
    EXPECT_EQ(nxp.SetEcho(false), qErrNone);
    EXPECT_FALSE(nxp.Echo());
    EXPECT_EQ(nxp.Unlock(), qErrNone);
    EXPECT_EQ(nxp.SetEcho(true), qErrNone);
    EXPECT_TRUE(nxp.Echo());
    EXPECT_EQ(rom.finish(), "A 0\r\nU 23130\r\nA 1\r\n");
}

TEST_F(NXPSerialCommandTest, RefusedEchoChangeKeepsTheSetting) {
    rom.start({{"A 0\r\n", "A 0\r\n1\r\n"}});
    connect();
    EXPECT_EQ(nxp.SetEcho(false), qErrParam);
    EXPECT_TRUE(nxp.Echo());
}

TEST_F(NXPSerialCommandTest, BadArgumentsAreRefusedBeforeSending) {
    rom.start({});
    connect();
    uint8_t buffer[8] = {};
    EXPECT_EQ(nxp.Prepare(5, 3), qErrParam);
    EXPECT_EQ(nxp.Erase(5, 3), qErrParam);
    EXPECT_EQ(nxp.CopyToFlash(0x1080, NXPSerialClass::WRITE_ADDRESS, 256), qErrParam);
    EXPECT_EQ(nxp.CopyToFlash(0x1000, NXPSerialClass::WRITE_ADDRESS, 300), qErrParam);
    EXPECT_EQ(nxp.Read(0, 6, buffer), qErrParam);
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 6, buffer), qErrParam);
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 0, buffer), qErrParam);
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 8, buffer, 4), qErrParam);
    EXPECT_EQ(rom.finish(), "");
}

TEST_F(NXPSerialCommandTest, CopyToFlashSendsDecimalArguments) {
    rom.start({{"C 8192 268439552 4096\r\n", "C 8192 268439552 4096\r\n0\r\n"},
               {"C 65536 268439552 256\r\n", "C 65536 268439552 256\r\n9\r\n"}});
    connect();
    EXPECT_EQ(nxp.CopyToFlash(0x2000, NXPSerialClass::WRITE_ADDRESS, 4096), qErrNone);
    EXPECT_EQ(nxp.CopyToFlash(0x10000, NXPSerialClass::WRITE_ADDRESS, 256), qErrParam);
    EXPECT_EQ(rom.finish(), "C 8192 268439552 4096\r\nC 65536 268439552 256\r\n");
}

TEST_F(NXPSerialCommandTest, CompareReadsTheOffsetOfTheFirstDifference) {
    // With echo on the ROM answers at the "\r": the code and the offset line come before the
    // echoed "\n".
    rom.start({{"M 8192 268439552 4096\r\n", "M 8192 268439552 4096\r0\r\n\n"},
               {"M 4160 268439616 4032\r\n", "M 4160 268439616 4032\r10\r\n1284\r\n\n"},
               {"M 65536 268439552 256\r\n", "M 65536 268439552 256\r14\r\n\n"}});
    connect();
    uint32_t offset = 99;
    EXPECT_EQ(nxp.Compare(0x2000, NXPSerialClass::WRITE_ADDRESS, 4096, &offset), qErrNone);
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(nxp.Compare(0x1040, NXPSerialClass::WRITE_ADDRESS + 64, 4032, &offset),
              NXPSerialClass::COMPARE_MISMATCH);
    EXPECT_EQ(offset, 1284u);
    EXPECT_EQ(nxp.Compare(0x10000, NXPSerialClass::WRITE_ADDRESS, 256, &offset), qErrParam);
    // Words only, and a whole number of them: refused before sending.
    EXPECT_EQ(nxp.Compare(0x2002, NXPSerialClass::WRITE_ADDRESS, 256), qErrParam);
    EXPECT_EQ(nxp.Compare(0x2000, NXPSerialClass::WRITE_ADDRESS + 1, 256), qErrParam);
    EXPECT_EQ(nxp.Compare(0x2000, NXPSerialClass::WRITE_ADDRESS, 6), qErrParam);
    EXPECT_EQ(nxp.Compare(0x2000, NXPSerialClass::WRITE_ADDRESS, 0), qErrParam);
    EXPECT_EQ(rom.finish(),
              "M 8192 268439552 4096\r\nM 4160 268439616 4032\r\nM 65536 268439552 256\r\n");
}

TEST_F(NXPSerialCommandTest, EraseWaitsForASlowChip) {
    // Deliberate: slow commands are awaited 100 ms per sector plus 2 s, so a long erase succeeds.
    // Erasing every sector keeps the chip busy for seconds before its return code.
    rom.start({{"E 0 29\r\n", "E 0 29\r\n"}, {"", "0\r\n", 3000}});
    connect();
    EXPECT_EQ(nxp.Erase(0, 29), qErrNone);
    EXPECT_EQ(rom.finish(), "E 0 29\r\n");
}

TEST_F(NXPSerialCommandTest, SilentChipFailsInBoundedTime) {
    rom.start({});
    connect();
    EXPECT_EQ(nxp.Prepare(0, 0), qErrParam);
    EXPECT_EQ(rom.finish(), "P 0 0\r\n");
}

TEST_F(NXPSerialCommandTest, SetBaudRateAnnouncesOneStopBit) {
    rom.start({{"B 115200 1\r\n", "B 115200 1\r\n0\r\n"}, {"B 9600 1\r\n", "B 9600 1\r\n17\r\n"}});
    connect();
    EXPECT_EQ(nxp.SetBaudRate(115200), qErrNone);
    EXPECT_EQ(nxp.SetBaudRate(9600), qErrParam);
    EXPECT_EQ(nxp.BaudRate(), 115200u);
    EXPECT_EQ(rom.finish(), "B 115200 1\r\nB 9600 1\r\n");
}

TEST_F(NXPSerialCommandTest, DeviceIdWordsInAnyBase) {
    rom.start({{"N\r\n", "N\r0\r\n\n0x1F\r\n017\r\n12345\r\n4294967295\r\n"}});
    connect();
    ASSERT_EQ(nxp.GetDeviceID(), qErrNone);
    EXPECT_EQ(nxp.DeviceIDWord(0), 0x1Fu);
    EXPECT_EQ(nxp.DeviceIDWord(1), 15u);
    EXPECT_EQ(nxp.DeviceIDWord(2), 12345u);
    EXPECT_EQ(nxp.DeviceIDWord(3), 0xFFFFFFFFu);
    EXPECT_EQ(rom.finish(), "N\r\n");
}

TEST_F(NXPSerialCommandTest, DeviceIdWithMissingWordsFails) {
    // Deliberate: a missing identifier word fails the read, never reported as zeros.
    rom.start({{"N\r\n", "N\r\n0\r\n1\r\n2\r\n"}});
    connect();
    EXPECT_NE(nxp.GetDeviceID(), qErrNone);
}

TEST_F(NXPSerialCommandTest, VersionAndPartNumber) {
    rom.start({{"K\r\n", "K\r\n0\r\n4\r\n13\r\n"}, {"J\r\n", "J\r0\r\n\n638664503\r\n"}});
    connect();
    uint8_t major = 0;
    uint8_t minor = 0;
    EXPECT_EQ(nxp.GetBootLoaderVersion(&major, &minor), qErrNone);
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 13);
    int64_t part = 0;
    EXPECT_EQ(nxp.GetPartNumber(&part), qErrNone);
    EXPECT_EQ(part, 638664503);
    EXPECT_EQ(rom.finish(), "K\r\nJ\r\n");
}

TEST_F(NXPSerialCommandTest, SyncWithAFreshChip) {
    rom.start({{"?", "Synchronized\r\n"},
               {"Synchronized\r\n", "Synchronized\r\nOK\r\n"},
               {"14746\r\n", "14746\r\nOK\r\n"}});
    connect();
    EXPECT_EQ(nxp.Sync(), qErrNone);
    EXPECT_EQ(rom.finish(), "?Synchronized\r\n14746\r\n");
}

TEST_F(NXPSerialCommandTest, SyncWithAChipStillSynchronised) {
    // Deliberate: a ROM still synchronised is recognised, so "-N" works twice in a row.
    // The "?" is command text for it: ending the line brings INVALID_COMMAND, and the session
    // goes on as before.
    rom.start({{"?", "?"}, {"\r\n", "\r1\r\n\n"}, {"N\r\n", "N\r0\r\n\n1\r\n2\r\n3\r\n4\r\n"}});
    connect();
    EXPECT_EQ(nxp.Sync(), qErrNone);
    EXPECT_EQ(nxp.GetDeviceID(), qErrNone);
    EXPECT_EQ(nxp.DeviceIDWord(3), 4u);
    EXPECT_EQ(rom.finish(), "?\r\nN\r\n");
}

TEST_F(NXPSerialCommandTest, SyncWithAChipStillSynchronisedAndEchoOff) {
    // Deliberate: a ROM still synchronised (echo off) is recognised, so a second run works.
    rom.start({{"?\r\n", "1\r\n"}});
    connect();
    EXPECT_EQ(nxp.Sync(), qErrNone);
    EXPECT_EQ(rom.finish(), "?\r\n");
}

TEST_F(NXPSerialCommandTest, SyncFailsWhenTheHandshakeIsRefused) {
    rom.start({{"?", "Synchronized\r\n"}, {"Synchronized\r\n", "Synchronized\r\nNO\r\n"}});
    connect();
    EXPECT_EQ(nxp.Sync(), qErrIO);
    EXPECT_EQ(rom.finish(), "?Synchronized\r\n");
}

TEST_F(NXPSerialCommandTest, SyncWithASilentLineFails) {
    rom.start({});
    connect();
    EXPECT_EQ(nxp.Sync(), qErrNotReady);
}

TEST_F(NXPSerialEchoingTest, ExecuteReadsNoReply) {
    echoingRom.start({});
    connect();
    EXPECT_EQ(nxp.ExecuteFrom(0), qErrNone);
    EXPECT_EQ(echoingRom.finish(), "G 0 T\r\n");
}

}  // namespace
