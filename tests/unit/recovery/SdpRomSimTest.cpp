// The whole host side against the module simulator's i.MX boot ROM: a loader written and started
// over the ROM's UART (a pseudo-terminal), and over USB HID on the simulator's emulated bus. The
// HID device is only visible to a process that has umockdev's preload from its start, so the HID
// exchange runs in a fresh copy of this test program (a probe) and reports through its exit code.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BackgroundProgram.h"
#include "HID_SDPLoader.h"
#include "SDPLoader.h"
#include "Serial_SDPLoader.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* PROBE_VARIABLE = "ZV_SDP_HID_PROBE";
constexpr uint32_t LOAD_ADDRESS = 0x20000000;
constexpr uint32_t START_ADDRESS = 0x20000400;

Bytes loaderImage(size_t size) {
    const std::string bytes = zvtest::pseudoRandomBytes(size, 12345);
    return Bytes(bytes.begin(), bytes.end());
}

std::string ramRecord(uint32_t address, const Bytes& bytes) {
    char head[32];
    snprintf(head, sizeof head, "WRITE %08X %zu\n", address, bytes.size());
    return head + std::string(bytes.begin(), bytes.end()) + "\n";
}

std::string withOld(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    return old != nullptr && *old != '\0' ? value + ":" + old : value;
}

// modulesim with one i.MX chip in its boot ROM; its log and RAM record in a scratch directory.
class RomSim {
  public:
    bool start(const std::string& knobs, std::string* why) {
        program_ = std::make_unique<zvtest::BackgroundProgram>(
            zvtest::modulesimBinary(),
            std::vector<std::string>{"--duration", "120", "--log", "--module",
                                     "serial=0A0B0C0D,imx-ram=" + ramFile() + "," + knobs},
            logFile());
        if (!program_->waitReady(30000)) {
            *why = "modulesim did not start: " + zvtest::readFile(logFile());
            return false;
        }
        std::string kind =
            knobs.find("imx-rom-hid") != std::string::npos ? "imx-rom-hid" : "imx-rom";
        std::string rom = program_->startupValue(kind);
        romPath_ = rom.substr(rom.find(' ') + 1);
        usbRoot_ = program_->startupValue("umockdev");
        if (rom.empty()) {
            *why = "modulesim printed no " + kind + " line";
            return false;
        }
        return true;
    }

    // Waits (generously) until the simulator's log has a line ending in text.
    bool awaitNote(const std::string& text) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            for (const std::string& line : zvtest::splitLines(zvtest::readFile(logFile()))) {
                if (line.size() >= text.size() &&
                    line.compare(line.size() - text.size(), text.size(), text) == 0) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string ram() const {
        return zvtest::pathExists(ramFile()) ? zvtest::readFile(ramFile()) : "";
    }
    std::string log() const { return zvtest::readFile(logFile()); }
    const std::string& romPath() const { return romPath_; }
    const std::string& usbRoot() const { return usbRoot_; }

  private:
    std::string ramFile() const { return scratch_.file("ram"); }
    std::string logFile() const { return scratch_.file("sim.log"); }

    zvtest::TempDir scratch_;
    std::unique_ptr<zvtest::BackgroundProgram> program_;
    std::string romPath_;
    std::string usbRoot_;
};

// Writes image and, when it was confirmed, jumps to the start address.
int writeAndStart(SDPLoader_Interface* transport, const Bytes& image) {
    SDPLoader loader;
    loader.setLoader(transport);
    if (loader.init() != 0) {
        return -1;
    }
    int result = loader.writeLoader(image, LOAD_ADDRESS);
    if (result == 0) {
        loader.startLoader(START_ADDRESS);
    }
    return result;
}

class SdpRomSim : public ::testing::Test {
  protected:
    void startRom(const std::string& knobs) {
        std::string why;
        ASSERT_TRUE(sim.start(knobs, &why)) << why;
    }
    RomSim sim;
};

TEST_F(SdpRomSim, SerialLoaderIsWrittenAndStarted) {
    startRom("imx-rom");
    const Bytes image = loaderImage(2500);
    EXPECT_EQ(writeAndStart(new Serial_SDPLoader(sim.romPath().c_str()), image), 0) << sim.log();
    EXPECT_TRUE(sim.awaitNote("imx-rom jumps to 20000400")) << sim.log();
    EXPECT_EQ(sim.ram(), ramRecord(LOAD_ADDRESS, image));
    EXPECT_TRUE(sim.awaitNote("recovery loader runs as DEADDEAD")) << sim.log();
}

TEST_F(SdpRomSim, SerialSilentRomIsNotWrittenTo) {
    startRom("imx-rom,imx-silent");
    EXPECT_EQ(writeAndStart(new Serial_SDPLoader(sim.romPath().c_str()), loaderImage(100)), 2);
    EXPECT_EQ(sim.ram(), "");
}

TEST_F(SdpRomSim, SerialWrongCompletionWordFailsTheWrite) {
    startRom("imx-rom,imx-bad-complete");
    EXPECT_EQ(writeAndStart(new Serial_SDPLoader(sim.romPath().c_str()), loaderImage(1500)), 4);
}

TEST_F(SdpRomSim, HidLoaderIsWrittenAndStarted) {
    startRom("imx-rom-hid");
    ASSERT_FALSE(sim.usbRoot().empty()) << "modulesim printed no USB bus";
    char self[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    zvtest::RunResult probe = zvtest::runProgram(
        self,
        {"--gtest_filter=SdpHidProbe.DISABLED_WriteAndStart", "--gtest_also_run_disabled_tests"},
        {std::string(PROBE_VARIABLE) + "=1", "UMOCKDEV_DIR=" + sim.usbRoot(),
         "LD_PRELOAD=" + withOld("LD_PRELOAD", "libumockdev-preload.so.0"),
         // The preload comes before a sanitizer's runtime, which it tolerates when told to.
         "ASAN_OPTIONS=" + withOld("ASAN_OPTIONS", "verify_asan_link_order=0")});
    EXPECT_EQ(probe.exitCode, 0) << probe.out << probe.err << sim.log();
    EXPECT_NE(probe.out.find("[  PASSED  ] 1 test"), std::string::npos) << probe.out;
    EXPECT_TRUE(sim.awaitNote("imx-rom jumps to 20000400")) << sim.log();
    EXPECT_EQ(sim.ram(), ramRecord(LOAD_ADDRESS, loaderImage(2500)));
}

// Runs only inside the probe process started above, beside the emulated USB bus.
TEST(SdpHidProbe, DISABLED_WriteAndStart) {
    if (std::getenv(PROBE_VARIABLE) == nullptr) {
        GTEST_SKIP() << "runs only as a probe";
    }
    {
        HID_SDPLoader hid(0x1FC9, 0x0130);
        ASSERT_TRUE(hid.init());
        // The probe's answer: report 3 (id, mode) and report 4 (id, no error, padding).
        Bytes probe(17, 0);
        probe[0] = 1;
        probe[1] = 0x05;
        probe[2] = 0x05;
        ASSERT_EQ(hid.writeData(probe), 17);
        Bytes answer;
        EXPECT_EQ(hid.readData(answer, 1000), 70);
        ASSERT_EQ(answer.size(), 70u);
        EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 10),
                  (Bytes{0x03, 0x56, 0x78, 0x78, 0x56, 0x04, 0xF0, 0xF0, 0xF0, 0xF0}));
        uint32_t value = 0;
        EXPECT_TRUE(hid.getDataFromBuffer(answer, 0, value));
        EXPECT_EQ(value, 0xF0F0F0F0u);
    }
    EXPECT_EQ(writeAndStart(new HID_SDPLoader(0x1FC9, 0x0130), loaderImage(2500)), 0);
}

}  // namespace
