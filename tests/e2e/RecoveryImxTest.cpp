// "-N" and "-U -t RECOVER" against an i.MX boot ROM: the recovery loader of a BIRD file goes into
// the chip's RAM through the serial download protocol (on a pseudo-terminal, or USB HID), the
// chip jumps to it, and the loader comes up on the (emulated) USB bus as module DEADDEAD, which
// reports the chip's identifier and takes the firmware through the normal upgrade protocol.
#include <unistd.h>

#include <cstdlib>

#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

const std::string kChipUid = "0x0A0B0C0D:0x11111111:0x22222222:0x33333333";
const std::string kFingerprintLine = "[ 0A0B0C0D 11111111 22222222 33333333 ]";

class ImxRecovery : public FirmwareFixture {
  protected:
    // The default recovery image the server offers for chips it does not know yet (DEADDEAD),
    // and the build that recovers module kSerial.
    void prepare() override {
        zvtest::runProgram("/bin/mkdir", {"-p", builds + "/DEADDEAD"});
        // The loader block is written at 0x10000000, where the chip must jump to run it.
        makeBuild(builds + "/DEADDEAD/1000.bird", 1000, "2.10.0", "recovery-start 0x10000000\n");
        recoveryImage = makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0",
                                  "recovery-start 0x10000000\n");
    }

    // The chip in its ROM: "imx-rom" on a pseudo-terminal or "imx-rom-hid" on USB HID.
    void startChip(const std::string& rom, const std::string& knobs = "") {
        std::string description =
            std::string("serial=") + kSerial + ",model=3,address=4,reboot-ms=300," + rom +
            ",uid=" + kChipUid + ",imx-ram=" + work.file("ram.txt") +
            ",flash=" + work.file("flash.bin") + (knobs.empty() ? "" : "," + knobs);
        simLog = work.file("sim.log");
        chip = std::make_unique<zvtest::BackgroundProgram>(
            zvtest::modulesimBinary(),
            std::vector<std::string>{"--duration", "120", "--log", "--module", description},
            simLog);
        ASSERT_TRUE(chip->waitReady()) << zvtest::readFile(simLog);
        port = rom == "imx-rom" ? chip->startupValue("imx-rom") : std::string("USB");
        if (rom == "imx-rom") {
            port = port.substr(port.find(' ') + 1);  // "SERIAL /dev/pts/N"
        }
    }

    RunResult updaterBesideChip(const std::vector<std::string>& args) {
        return updater(args, usbBusEnvironment(chip->startupValue("umockdev")));
    }

    std::string log() const { return zvtest::readFile(simLog); }
    // What the chip does after Updater let go of it (a reset, a reboot) takes it a moment.
    bool logShowsSoon(const std::string& text) const {
        for (int attempt = 0; attempt < 50 && !contains(log(), text); ++attempt) {
            usleep(100 * 1000);
        }
        return contains(log(), text);
    }

    std::string recoveryImage;
    std::unique_ptr<zvtest::BackgroundProgram> chip;
    std::string port;
    std::string simLog;
};

TEST_F(ImxRecovery, FingerprintStartsTheDefaultLoaderAndResetsTheChip) {
    startServer();
    startChip("imx-rom");
    RunResult r = updaterBesideChip({"-N", "-s", port, "-u", url});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "\n" + kFingerprintLine + "\n")) << r.out;
    // The default image's loader block (300 bytes at 0x10000000) reached the chip's RAM, and
    // the chip was reset back into its ROM afterwards.
    std::string ram = zvtest::readFile(work.file("ram.txt"));
    EXPECT_EQ(ram.rfind("WRITE 10000000 300\n", 0), 0u) << ram.substr(0, 40);
    EXPECT_EQ(ram.substr(19, 300), zvtest::readFile(builds + "/DEADDEAD/1000.bird.loader"));
    EXPECT_TRUE(contains(log(), "recovery loader runs as DEADDEAD")) << log();
    EXPECT_TRUE(logShowsSoon("imx-rom runs again")) << log();
    EXPECT_TRUE(contains(zvtest::readFile(store.path() + "/updater/DEADDEAD/.settings"),
                         "LATEST_DOWNLOAD=1000.bird\n"));
}

TEST_F(ImxRecovery, FingerprintOverUsbHid) {
    startServer();
    startChip("imx-rom-hid");
    RunResult r = updaterBesideChip({"-N", "-s", "USB", "-u", url});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "\n" + kFingerprintLine + "\n")) << r.out;
    EXPECT_TRUE(contains(log(), "imx-rom write of 300 bytes at 10000000")) << log();
}

TEST_F(ImxRecovery, RecoveryWritesTheServersBuildThroughTheLoader) {
    zvtest::writeFile(builds + "/recovery.txt",
                      "0A0B0C0D 11111111 22222222 33333333 " + std::string(kSerial) + " 1300\n");
    startServer();
    startChip("imx-rom");
    RunResult r = updaterBesideChip({"-U", "-t", "RECOVER", "-s", port, "-u", url});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "Recovering firmware with build: 1300\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Transferred 2 blocks, 4508 total bytes\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Verified: module 40F5849A runs build 1300\nUpdate time: "))
        << r.out;
    EXPECT_TRUE(flash() == expectedFlash(recoveryImage)) << "flash differs";
    EXPECT_TRUE(contains(settings(), "LATEST_DOWNLOAD=1300.bird\n")) << settings();
    EXPECT_TRUE(logShowsSoon("runs its new firmware")) << log();
}

TEST_F(ImxRecovery, LoaderThatNeverRebootsDidNotBringTheModuleBack) {
    // Deliberate: recovery succeeds only if the module comes back; a failed one shows no time.
    // The recovery loader runs as DEADDEAD; without REBOOT no firmware comes up as 40F5849A.
    zvtest::writeFile(builds + "/recovery.txt",
                      "0A0B0C0D 11111111 22222222 33333333 " + std::string(kSerial) + " 1300\n");
    startServer();
    startChip("imx-rom", "lost-reboot");
    RunResult r = updaterBesideChip({"-U", "-t", "RECOVER", "-s", port, "-u", url});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(errorLines(r),
              std::vector<std::string>{"Module 40F5849A did not come back after the update"})
        << r.err;
    EXPECT_FALSE(contains(r.out, "Update time")) << r.out;
    EXPECT_TRUE(contains(log(), "DEADDEAD < 04 02 5F 06\n")) << "no REBOOT reached the loader";
    EXPECT_FALSE(contains(log(), "runs its new firmware")) << log();
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin")));
}

TEST_F(ImxRecovery, RecoveryOverUsbHid) {
    zvtest::writeFile(builds + "/recovery.txt",
                      "0A0B0C0D 11111111 22222222 33333333 " + std::string(kSerial) + " 1300\n");
    startServer();
    startChip("imx-rom-hid");
    RunResult r = updaterBesideChip({"-U", "-t", "RECOVER", "-s", "USB", "-u", url});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(flash() == expectedFlash(recoveryImage)) << "flash differs";
}

TEST_F(ImxRecovery, ChipTheServerDoesNotKnowIsOneErrorLine) {
    zvtest::writeFile(builds + "/recovery.txt", "1 2 3 4 40F5849A 1300\n");
    startServer();
    startChip("imx-rom");
    RunResult r = updaterBesideChip({"-U", "-t", "RECOVER", "-s", port, "-u", url});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "Failed to retrieve recovery information from Pelmorax server\n");
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin")));
}

TEST_F(ImxRecovery, BirdFileWithoutADeviceSerialNumberIsRefused) {
    startChip("imx-rom");
    RunResult r = updaterBesideChip({"-N", "-s", port, "-f", recoveryImage});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err,
              "Add serial number or remove the bird filename to use a default recovery image.\n"
              "Got no response from chip\n");
    EXPECT_FALSE(contains(log(), "imx-rom write")) << log();
}

TEST_F(ImxRecovery, ImageWithoutBlocksIsOneErrorLineAndTheRomIsNotStarted) {
    // Deliberate: an image without loader blocks is refused; the ROM never jumps into empty RAM.
    std::string image = makeBird(work.file("empty.bird"), "");
    startChip("imx-rom");
    RunResult r =
        updaterBesideChip({"-U", "-t", "RECOVER", "-s", port, "-f", image, "-d", kSerial});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "Recovery image has no blocks\n");
    EXPECT_FALSE(contains(log(), "imx-rom jumps")) << log();
    EXPECT_FALSE(contains(log(), "imx-rom write")) << log();
}

TEST_F(ImxRecovery, LoaderStartedWhereNothingWasWrittenIsNeverFound) {
    // Without a start block the chip jumps to 0x20000400, where this image put nothing.
    makeBuild(builds + "/DEADDEAD/1001.bird", 1001, "2.10.1");
    startServer();
    startChip("imx-rom");
    RunResult r = updaterBesideChip({"-N", "-s", port, "-u", url});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "Got no response from chip\n");
    EXPECT_TRUE(contains(log(), "imx-rom jumps to 20000400")) << log();
}

TEST_F(ImxRecovery, RomThatFailsTheLoaderGivesNoFingerprint) {
    startServer();
    for (const char* knob : {"imx-silent", "imx-data-error", "imx-bad-complete"}) {
        startChip("imx-rom", knob);
        RunResult r = updaterBesideChip({"-N", "-s", port, "-u", url});
        EXPECT_EQ(r.exitCode, 1) << knob << r.out << r.err;
        EXPECT_EQ(r.err, "Got no response from chip\n") << knob;
        EXPECT_FALSE(contains(log(), "recovery loader runs")) << knob;
    }
}

}  // namespace
