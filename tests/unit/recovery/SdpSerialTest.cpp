// The UART transport on a pseudo-terminal whose far end the test plays: line set-up, what goes on
// the wire, reads that must not block, a line that stops taking bytes, and a whole loader
// transfer against a played ROM.
#include <gtest/gtest.h>

#include <termios.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../streams/PseudoTerminal.h"
#include "SDPLoader.h"
#include "Serial_SDPLoader.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string OPEN_CONFIGURATION("\x56\x78\x78\x56", 4);

uint32_t bigEndianAt(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<uint8_t>(bytes.at(at + i));
    }
    return value;
}

Bytes writeFileCommand() {
    return {0x01, 0x04, 0x04, 0x20, 0x00, 0x00, 0x00, 0x20, 0x00,
            0x00, 0x09, 0xC4, 0x00, 0x00, 0x00, 0x00, 0x00};
}

class SdpSerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pty = std::make_unique<PseudoTerminal>();
        ASSERT_TRUE(pty->ready());
        pty->makeRaw();
    }

    // Reads until count bytes are in or a generous deadline passes.
    static Bytes readAtLeast(Serial_SDPLoader& serial, size_t count) {
        Bytes answer;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (answer.size() < count && std::chrono::steady_clock::now() < deadline) {
            serial.readData(answer, 10);
        }
        return answer;
    }

    std::unique_ptr<PseudoTerminal> pty;
};

TEST_F(SdpSerialTest, InitSetsARaw115200EightBitLine) {
    Serial_SDPLoader serial(pty->slavePath().c_str());
    ASSERT_TRUE(serial.init());
    termios line = pty->slaveSettings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(line.c_cflag & CREAD, 0u);
    EXPECT_NE(line.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
}

TEST_F(SdpSerialTest, InitRefusesWhatIsNotATerminal) {
    zvtest::TempDir dir;
    zvtest::writeFile(dir.file("plain"), "not a line");
    Serial_SDPLoader plain(dir.file("plain").c_str());
    EXPECT_FALSE(plain.init());
    Serial_SDPLoader missing(dir.file("absent").c_str());
    EXPECT_FALSE(missing.init());
    Bytes answer;
    EXPECT_LT(missing.writeData(writeFileCommand()), 0);
    EXPECT_LT(missing.readData(answer, 0), 0);
}

TEST_F(SdpSerialTest, CommandGoesOutWithoutItsReportId) {
    Serial_SDPLoader serial(pty->slavePath().c_str());
    ASSERT_TRUE(serial.init());
    const Bytes command = writeFileCommand();
    EXPECT_EQ(serial.writeData(command), 16);
    std::string wire = pty->receive(17, 500);
    EXPECT_EQ(wire, std::string(command.begin() + 1, command.end()));
}

TEST_F(SdpSerialTest, ReadsTakeWhatArrivedAndAnEmptyLineDoesNotBlock) {
    Serial_SDPLoader serial(pty->slavePath().c_str());
    ASSERT_TRUE(serial.init());
    Bytes answer;
    EXPECT_EQ(serial.readData(answer, 0), 0);
    EXPECT_TRUE(answer.empty());

    pty->send(OPEN_CONFIGURATION + std::string("\x12\x34\x56\x78", 4));
    answer = readAtLeast(serial, 8);
    ASSERT_EQ(answer.size(), 8u);
    uint32_t value = 0;
    ASSERT_TRUE(serial.getDataFromBuffer(answer, 0, value));
    EXPECT_EQ(value, 0x78563412u);
}

TEST_F(SdpSerialTest, InitDiscardsWhatWaitedOnTheLine) {
    pty->send("stale bytes");
    Serial_SDPLoader serial(pty->slavePath().c_str());
    ASSERT_TRUE(serial.init());
    Bytes answer;
    EXPECT_EQ(serial.readData(answer, 0), 0);
}

TEST_F(SdpSerialTest, LineThatStopsTakingBytesEndsTheWrite) {
    // Deliberate: a write stops after 2 s without progress, so a stuck line never hangs recovery.
    Serial_SDPLoader serial(pty->slavePath().c_str());
    ASSERT_TRUE(serial.init());
    // Nobody reads the far end, so the line's buffers fill up long before this is out.
    Bytes huge(4 * 1024 * 1024 + 1, 0x5A);
    long written = serial.writeData(huge);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<long>(huge.size() - 1));
}

TEST_F(SdpSerialTest, HungUpLineFailsTheWrite) {
    // Deliberate: a hard write error ends the write at once instead of retrying it forever.
    Serial_SDPLoader serial(pty->slavePath().c_str());
    ASSERT_TRUE(serial.init());
    pty.reset();
    EXPECT_LT(serial.writeData(writeFileCommand()), 0);
}

// Plays the ROM's side of the line: answers each command with the open security configuration
// and a status, takes file data, and stops after the jump.
struct PlayedRom {
    std::vector<std::string> commands;
    std::string fileData;

    void play(PseudoTerminal& line) {
        for (;;) {
            std::string command = line.receive(16, 10000);
            if (command.size() < 16) {
                return;
            }
            commands.push_back(command);
            uint32_t type = bigEndianAt(command, 0) >> 16;
            if (type == 0x0505) {
                line.send(OPEN_CONFIGURATION + std::string("\xF0\xF0\xF0\xF0", 4));
            } else if (type == 0x0404) {
                fileData = line.receive(bigEndianAt(command, 7), 10000);
                line.send(OPEN_CONFIGURATION + std::string("\x88\x88\x88\x88", 4));
            } else if (type == 0x0B0B) {
                line.send(OPEN_CONFIGURATION);
                return;
            }
        }
    }
};

TEST_F(SdpSerialTest, LoaderIsWrittenAndStartedOverTheLine) {
    Bytes loader(3000);
    for (size_t i = 0; i < loader.size(); ++i) {
        loader[i] = static_cast<uint8_t>(i ^ (i >> 8));
    }
    PlayedRom rom;
    std::thread romThread([&] { rom.play(*pty); });
    int result = -1;
    {
        SDPLoader sdp;
        ASSERT_TRUE(sdp.setLoader(new Serial_SDPLoader(pty->slavePath().c_str())));
        if (sdp.init() == 0) {
            result = sdp.writeLoader(loader, 0x20000000);
            sdp.startLoader(0x20000400);
        }
    }
    romThread.join();
    EXPECT_EQ(result, 0);
    ASSERT_EQ(rom.commands.size(), 3u);
    EXPECT_EQ(bigEndianAt(rom.commands[0], 0), 0x05050000u);
    EXPECT_EQ(rom.commands[1], std::string("\x04\x04\x20\x00\x00\x00\x20\x00\x00\x0B\xB8\x00\x00"
                                           "\x00\x00\x00",
                                           16));
    EXPECT_EQ(rom.fileData, std::string(loader.begin(), loader.end()));
    EXPECT_EQ(bigEndianAt(rom.commands[2], 0), 0x0B0B2000u);
    EXPECT_EQ(bigEndianAt(rom.commands[2], 4), 0x04000000u);
}

}  // namespace
