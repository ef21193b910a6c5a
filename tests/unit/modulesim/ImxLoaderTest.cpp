// What an i.MX module's recovery loader is once the ROM has started it: a module on the USB bus
// (serial 0xDEADDEAD unless imx-serial says otherwise) that reports the chip's unique identifier
// (system option 39) and takes firmware at once; a reset sends the chip back to its ROM, and
// committed firmware brings it back as the module itself. The library side runs in probes (see
// ImxHarness.h), which report what they found for the test to check.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "ImxHarness.h"
#include "Module.h"
#include "QuietDisplay.h"
#include "SimFixture.h"
#include "UpdaterEntity.h"
#include "autoGen_SystemClass_CPP.h"

namespace {

using imxtest::answerBytes;
using imxtest::Bytes;
using imxtest::ImxSim;
using namespace Pelmorax::Zendrival;

constexpr uint8_t kUniqueIdentifier = 39;
const Bytes kNoError = answerBytes({0x56787856, 0xF0F0F0F0});

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// Patience for the module to show up on the bus, not a measure of anything.
bool connectWithin(Module& module, uint32_t serial, int attempts) {
    for (int i = 0; i < attempts; ++i) {
        if (module.discoverAndConnect(linkTypeUSB, serial) == qErrNone && module.isConnected()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
}

bool awaitCount(const ImxSim& sim, const std::string& note, size_t count) {
    for (int i = 0; i < 500 && sim.countNotes(note) < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return sim.countNotes(note) >= count;
}

// ---- Probes: run only in the copy of this program that sees the USB bus -------------------

// Argument "SERIAL" or "SERIAL,reset": reads the serial number and the four identifier words
// (and one sub-index too many) of the module SERIAL, then resets it when asked.
TEST(ImxLoaderProbe, DISABLED_Identify) {
    std::string argument = imxtest::probeArgument();
    uint32_t serial = static_cast<uint32_t>(std::stoul(argument.substr(0, 8), nullptr, 16));
    Module module(0, 0);
    ASSERT_TRUE(connectWithin(module, serial, 40));
    SystemClass system;
    system.init(&module, 0);
    uint32_t reported = 0;
    ASSERT_EQ(system.getSerialNumber(&reported), qErrNone);
    std::string text = "serial " + hex8(reported) + "\n";
    for (uint8_t subIndex = 0; subIndex < 4; ++subIndex) {
        uint32_t word = 0;
        ASSERT_EQ(system.getUEI32(kUniqueIdentifier, subIndex, &word), qErrNone);
        text += "uid " + std::to_string(subIndex) + " " + hex8(word) + "\n";
    }
    uint32_t unused = 0;
    text += "uid 4 error " + std::to_string(system.getUEI32(kUniqueIdentifier, 4, &unused)) + "\n";
    if (argument.find(",reset") != std::string::npos) {
        text += "reset " + std::to_string(system.reset()) + "\n";
    }
    imxtest::probeReport(text);
}

// Argument "SERIAL": sends one firmware block straight to the running loader (no loader blocks,
// no LOAD), commits it with REBOOT, then finds the module SERIAL and reads its build.
TEST(ImxLoaderProbe, DISABLED_Upgrade) {
    uint32_t serial = static_cast<uint32_t>(std::stoul(imxtest::probeArgument(), nullptr, 16));
    Bytes block = {0x00, 0x00, 0x40, 0x00};  // load address, then the image
    Bytes image(1000);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7);
    }
    const Bytes stamp = {'Z', 'V', 'B', 'U', 'I', 'L', 'D', '=', 0, 0, 0x05, 0x14};  // 1300
    std::copy(stamp.begin(), stamp.end(), image.begin() + 100);
    block.insert(block.end(), image.begin(), image.end());
    {
        Module loader(0, 0);
        ASSERT_TRUE(connectWithin(loader, 0xDEADDEAD, 40));
        zvtest::QuietDisplay display;
        UpdaterEntity entity;
        entity.init(&loader, 0, true, true);
        // The whole block as one byte sequence (UEI option 10), as "-m" sends it.
        ASSERT_EQ(entity.CheckUEIDataSupport(), qErrNone);
        uint16_t blockSize = 0;
        ASSERT_EQ(
            entity.TransferPrepare(block.data(), static_cast<uint32_t>(block.size()), 0, blockSize),
            qErrNone);
        qErr transferred = entity.FirmwareTransfer(
            block.data(), static_cast<uint32_t>(block.size()), blockSize, display);
        imxtest::probeReport("transfer " + std::to_string(transferred) + "\n");
        ASSERT_EQ(entity.LoaderReboot(display), qErrNone);
    }
    Module firmware(0, 0);
    ASSERT_TRUE(connectWithin(firmware, serial, 60));
    SystemClass system;
    system.init(&firmware, 0);
    uint32_t reported = 0;
    uint32_t build = 0;
    ASSERT_EQ(system.getSerialNumber(&reported), qErrNone);
    ASSERT_EQ(system.getBuild(&build), qErrNone);
    imxtest::probeReport("serial " + hex8(reported) + "\nbuild " + std::to_string(build) + "\n");
}

// ---- The tests ------------------------------------------------------------------------------

class ImxLoader : public ::testing::Test {
  protected:
    void startChip(const std::string& knobs) {
        std::string why;
        ASSERT_TRUE(sim.start("serial=0A0B0C0D,imx-rom" + knobs, &why)) << why;
        ASSERT_TRUE(sim.openRom()) << sim.romPath();
    }

    std::string probe(const std::string& name, const std::string& argument) {
        bool passed = false;
        std::string found = imxtest::runProbe(sim, name, argument, &passed);
        EXPECT_TRUE(passed) << found;
        return found;
    }

    ImxSim sim;
};

TEST_F(ImxLoader, ReportsTheChipIdentifierOnUsbAndAResetReturnsToTheRom) {
    startChip(",uid=0x11111111:0x22222222:0x33333333:0x44444444");
    ASSERT_TRUE(sim.loadAndStart(imxtest::pattern(3000, 11)));
    EXPECT_EQ(probe("Identify", "DEADDEAD,reset"),
              "serial DEADDEAD\n"
              "uid 0 44444444\nuid 1 33333333\nuid 2 22222222\nuid 3 11111111\n"
              "uid 4 error 13\n"
              "reset 0\n");
    ASSERT_TRUE(sim.awaitNote("imx-rom runs again"));
    EXPECT_GE(sim.countNotes("DEADDEAD usb unplugged"), 1u);
    sim.send(imxtest::sdpCommand(imxtest::kErrorStatus));
    EXPECT_EQ(sim.receive(8), kNoError) << "the ROM answers again after the reset";

    // A second start brings a fresh loader onto the bus again.
    EXPECT_EQ(sim.writeFile(imxtest::kLoadAddress, imxtest::pattern(2048, 12)),
              answerBytes({0x56787856, 0x88888888}));
    sim.send(imxtest::sdpCommand(imxtest::kJumpAddress, imxtest::kStartAddress));
    EXPECT_EQ(sim.receive(4), answerBytes({0x56787856}));
    EXPECT_TRUE(awaitCount(sim, "recovery loader runs as DEADDEAD", 2));
    EXPECT_NE(probe("Identify", "DEADDEAD").find("uid 0 44444444\n"), std::string::npos);
}

TEST_F(ImxLoader, EnumeratesUnderImxSerialWithTheDefaultIdentifier) {
    startChip(",imx-serial=12345678");
    ASSERT_TRUE(sim.loadAndStart(imxtest::pattern(1500, 13), "12345678"));
    // Default words, as a host prints them: 1FC90130, the serial, its complement, "IMX".
    EXPECT_EQ(probe("Identify", "12345678"),
              "serial 12345678\n"
              "uid 0 00494D58\nuid 1 F5F4F3F2\nuid 2 0A0B0C0D\nuid 3 1FC90130\n"
              "uid 4 error 13\n");
}

TEST_F(ImxLoader, CommittedFirmwareBringsTheModuleBackUnderItsOwnSerial) {
    startChip(",hb-ms=0,flash=" + sim.file("flash"));
    ASSERT_TRUE(sim.loadAndStart(imxtest::pattern(2048, 14)));
    EXPECT_EQ(probe("Upgrade", "0A0B0C0D"), "transfer 0\nserial 0A0B0C0D\nbuild 1300\n");
    EXPECT_TRUE(sim.awaitNote("0A0B0C0D runs its new firmware"));
    EXPECT_EQ(zvtest::readFile(sim.file("flash")).size(), 1000u);
    sim.send(imxtest::sdpCommand(imxtest::kErrorStatus));
    EXPECT_TRUE(sim.quietFor(200)) << "the firmware, not the ROM, runs now";
}

// ---- The identifier option on any module ---------------------------------------------------

TEST_F(TcpSimTest, UidKnobAnswersOptionThirtyNineBySubIndex) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0,address=4,uid=1:2:3:0xCAFEF00D"}, "0A0B0C0D"));
    simtest::WirePacket reply = link.exchange(4, {3, 0x40 | 39, 0x20, 0});
    EXPECT_EQ(reply.data, (Bytes{3, 39, 0, 0xCA, 0xFE, 0xF0, 0x0D}));
    reply = link.exchange(4, {3, 0x40 | 39, 0x20, 3});
    EXPECT_EQ(reply.data, (Bytes{3, 39, 0, 0, 0, 0, 1}));
    reply = link.exchange(4, {3, 0x40 | 39, 0x20, 4});
    EXPECT_EQ(reply.data, (Bytes{3, 39, 0x80, 13})) << "sub-index out of range";
    reply = link.exchange(4, {3, 0x80 | 39, 0x20, 0, 0, 0, 0});
    EXPECT_EQ(reply.data, (Bytes{3, 0xC0 | 39, 0x80, 7})) << "the identifier cannot be set";
}

TEST_F(TcpSimTest, WithoutUidOptionThirtyNineStaysUnknown) {
    ASSERT_TRUE(start({"serial=0A0B0C0D,tcp,hb-ms=0,address=4"}, "0A0B0C0D"));
    simtest::WirePacket reply = link.exchange(4, {3, 0x40 | 39, 0x20, 0});
    EXPECT_EQ(reply.data, (Bytes{3, 39, 0x80, 29}));
}

// ---- The command line ----------------------------------------------------------------------

TEST(ImxCommandLine, HelpDescribesTheRomAndItsKnobs) {
    zvtest::RunResult result = zvtest::runProgram(zvtest::modulesimBinary(), {"--help"});
    EXPECT_EQ(result.exitCode, 0);
    for (const char* word :
         {"imx-rom", "imx-rom-hid", "imx-serial=HEX8", "imx-ram=PATH", "uid=W0:W1:W2:W3",
          "imx-silent", "imx-data-error", "imx-bad-complete", "imx-rom SERIAL /dev/pts/N"}) {
        EXPECT_NE(result.out.find(word), std::string::npos) << word;
    }
}

TEST(ImxCommandLine, RefusesMisplacedOrMalformedKnobs) {
    for (const char* module :
         {"serial=1,pty,imx-serial=DEADDEAD", "serial=1,imx-rom,imx-serial=0",
          "serial=1,imx-rom,imx-serial=123456789", "serial=1,imx-rom,uid=1:2:3",
          "serial=1,imx-rom,uid=1:2:3:4:5", "serial=1,imx-rom,uid=1:2:x:4", "serial=1,imx-rom,tcp",
          "serial=1,imx-rom,imx-silent=1", "serial=1,imx-rom,imx-ram=", "serial=1,usb,imx-silent",
          "serial=1,imx-rom,imx-rom-hid"}) {
        zvtest::RunResult result =
            zvtest::runProgram(zvtest::modulesimBinary(), {"--module", module});
        EXPECT_EQ(result.exitCode, 2) << module;
        EXPECT_EQ(result.err.rfind("modulesim: ", 0), 0u) << module << ": " << result.err;
    }
    zvtest::RunResult behind = zvtest::runProgram(
        zvtest::modulesimBinary(),
        {"--module", "serial=1,imx-rom", "--module", "serial=2,behind=1,address=4"});
    EXPECT_EQ(behind.exitCode, 2) << "a chip in its ROM has no I2C bus to offer";
}

}  // namespace
