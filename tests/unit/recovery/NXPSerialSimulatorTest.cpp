// The LPC ISP host against the LPC17xx bootloader simulator (tools/lpcsim): synchronising twice
// in a row, and a whole unlock/prepare/erase/write/copy/read-back session as recovery runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "Log.h"
#include "NXPSerialClass.h"
#include "TestSupport.h"

namespace {

std::string lpcsimBinary() {
    return std::string(ZV_BINARY_DIR) + "/tools/lpcsim/lpcsim";
}

std::vector<uint8_t> image(size_t n, uint8_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 13 + seed + (i >> 8));
    }
    return bytes;
}

class NXPSerialSimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_NEEDS(zvtest::pathExists(lpcsimBinary()) ? "" : "lpcsim is not built");
    }
    // Starts the simulator with extra arguments and returns its pseudo-terminal.
    std::string startRom(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--duration", "120", "--device-id", "11,2882400018,0,4294967295",
                                   "--flash", dir.file("flash.bin")});
        rom.reset(new zvtest::BackgroundProgram(lpcsimBinary(), args, dir.file("lpcsim.err")));
        EXPECT_TRUE(rom->waitReady());
        return rom->startupValue("pty");
    }

    // Starts the simulator with extra arguments and connects nxp to it.
    void connectToRom(const std::vector<std::string>& args = {}) {
        std::string port = startRom(args);
        ASSERT_FALSE(port.empty());
        ASSERT_EQ(nxp.Connect(port, 115200), qErrNone);
    }

    zvtest::TempDir dir;
    std::unique_ptr<zvtest::BackgroundProgram> rom;
    NXPSerialClass nxp;  // ends before the simulator
};

void expectDeviceId(NXPSerialClass& nxp) {
    ASSERT_EQ(nxp.GetDeviceID(), qErrNone);
    EXPECT_EQ(nxp.DeviceIDWord(0), 11u);
    EXPECT_EQ(nxp.DeviceIDWord(1), 2882400018u);
    EXPECT_EQ(nxp.DeviceIDWord(2), 0u);
    EXPECT_EQ(nxp.DeviceIDWord(3), 4294967295u);
}

TEST_F(NXPSerialSimulatorTest, FingerprintTwiceInARow) {
    // Deliberate: a ROM still synchronised is recognised, so a second session works.
    std::string port = startRom();
    ASSERT_FALSE(port.empty());
    FILE* log = tmpfile();
    Log::SetOutput(log);
    Log::ActivatePackage(DEBUG_NXPSerial);
    for (int run = 0; run < 2; ++run) {
        NXPSerialClass nxp;
        ASSERT_EQ(nxp.Connect(port, 115200), qErrNone);
        ASSERT_EQ(nxp.Sync(), qErrNone) << "run " << run;
        expectDeviceId(nxp);
    }
    Log::DeactivatePackage(DEBUG_NXPSerial);
    Log::SetOutput(nullptr);
    // The second run found the chip synchronised by the first.
    std::string text = zvtest::readStream(log);
    fclose(log);
    EXPECT_NE(text.find("Device already synchronized"), std::string::npos);
}

TEST_F(NXPSerialSimulatorTest, FingerprintTwiceWithLineEndBeforeTheCode) {
    // Deliberate: a ROM still synchronised is recognised with either order of the echoed line end.
    std::string port = startRom({"--lf-before-code"});
    ASSERT_FALSE(port.empty());
    for (int run = 0; run < 2; ++run) {
        NXPSerialClass nxp;
        ASSERT_EQ(nxp.Connect(port, 115200), qErrNone);
        ASSERT_EQ(nxp.Sync(), qErrNone) << "run " << run;
        expectDeviceId(nxp);
        uint8_t major = 0;
        uint8_t minor = 0;
        EXPECT_EQ(nxp.GetBootLoaderVersion(&major, &minor), qErrNone);
        EXPECT_EQ(major, 4);
        EXPECT_EQ(minor, 1);
    }
}

TEST_F(NXPSerialSimulatorTest, WholeRecoverySessionWritesFlash) {
    ASSERT_NO_FATAL_FAILURE(connectToRom());
    ASSERT_EQ(nxp.Sync(), qErrNone);
    // Erasing before unlocking is refused by the chip.
    EXPECT_EQ(nxp.Erase(0, 29), qErrParam);
    ASSERT_EQ(nxp.Unlock(), qErrNone);
    ASSERT_EQ(nxp.Prepare(0, 29), qErrNone);
    ASSERT_EQ(nxp.Erase(0, 29), qErrNone);
    ASSERT_EQ(nxp.SetEcho(false), qErrNone);

    // A 4096-byte chunk, then a short last chunk padded to the copy length.
    const uint32_t WRITE = NXPSerialClass::WRITE_ADDRESS;
    std::vector<uint8_t> full = image(4096, 1);
    std::vector<uint8_t> tail = image(1808, 7);
    ASSERT_EQ(nxp.Write(WRITE, 4096, full.data()), qErrNone);
    ASSERT_EQ(nxp.Prepare(NXPSerialClass::SectorFromAddress(0x10000),
                          NXPSerialClass::SectorFromAddress(0x10000 + 4096 - 1)),
              qErrNone);
    ASSERT_EQ(nxp.CopyToFlash(0x10000, WRITE, 4096), qErrNone);
    uint32_t copy = NXPSerialClass::CopyLength(1808);
    ASSERT_EQ(nxp.Write(WRITE, 1808, tail.data(), copy), qErrNone);
    ASSERT_EQ(nxp.Prepare(16, 16), qErrNone);
    ASSERT_EQ(nxp.CopyToFlash(0x11000, WRITE, copy), qErrNone);

    std::vector<uint8_t> back(4096);
    ASSERT_EQ(nxp.Read(0x10000, 4096, back.data()), qErrNone);
    EXPECT_EQ(back, full);
    ASSERT_EQ(nxp.SetEcho(true), qErrNone);
    ASSERT_EQ(nxp.Read(0x11000, 4096, back.data()), qErrNone);
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + 1808), tail);
    EXPECT_EQ(back[1808], 0xFF);
    EXPECT_EQ(back[4095], 0xFF);

    std::string flash = zvtest::readFile(dir.file("flash.bin"));
    ASSERT_EQ(flash.size(), 512u * 1024u);
    EXPECT_EQ(flash.substr(0x10000, 4096), std::string(full.begin(), full.end()));
    EXPECT_EQ(flash.substr(0x11000, 1808), std::string(tail.begin(), tail.end()));
    EXPECT_EQ(flash.substr(0, 16), std::string(16, '\xFF'));
    EXPECT_EQ(nxp.ExecuteFrom(0), qErrNone);
}

TEST_F(NXPSerialSimulatorTest, WriteRepeatsABlockTheChipAsksFor) {
    ASSERT_NO_FATAL_FAILURE(connectToRom({"--bad-checksum-at", "2"}));
    ASSERT_EQ(nxp.Sync(), qErrNone);
    std::vector<uint8_t> data = image(2048, 3);
    ASSERT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 2048, data.data()), qErrNone);
    std::vector<uint8_t> back(2048);
    ASSERT_EQ(nxp.Read(NXPSerialClass::WRITE_ADDRESS, 2048, back.data()), qErrNone);
    EXPECT_EQ(back, data);
}

TEST_F(NXPSerialSimulatorTest, WriteGivesUpWhenEveryChecksumIsRefused) {
    ASSERT_NO_FATAL_FAILURE(connectToRom({"--bad-checksum-always"}));
    ASSERT_EQ(nxp.Sync(), qErrNone);
    std::vector<uint8_t> data = image(512, 5);
    EXPECT_EQ(nxp.Write(NXPSerialClass::WRITE_ADDRESS, 512, data.data()), qErrTimeout);
}

TEST_F(NXPSerialSimulatorTest, SilentChipDoesNotSynchronise) {
    ASSERT_NO_FATAL_FAILURE(connectToRom({"--silent"}));
    EXPECT_NE(nxp.Sync(), qErrNone);
}

}  // namespace
