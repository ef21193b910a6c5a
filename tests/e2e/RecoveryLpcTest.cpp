// "-N" and "-U -t RECOVER" against an LPC17xx ISP bootloader on a pseudo-terminal: the chip's
// serial number words are its fingerprint, the update server says which module and build it
// belongs to, and the build's firmware goes straight into flash, unscrambled with the fingerprint.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "LpcChipFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

const std::string kFingerprintLine = "[ 1A2B3C4D DEADBEEF 00000007 89ABCDEF ]";

class LpcRecovery : public LpcChipFixture {
  protected:
    // The command lines the chip received in order, from its --log trace.
    std::vector<std::string> chipCommands() const {
        const std::string marker = "lpcsim: < command [";
        std::vector<std::string> commands;
        for (const std::string& line : lines(chipLog())) {
            if (line.rfind(marker, 0) == 0 && line.back() == ']') {
                commands.push_back(line.substr(marker.size(), line.size() - marker.size() - 1));
            }
        }
        return commands;
    }
};

unsigned countOf(const std::string& text, const std::string& part) {
    unsigned count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(LpcRecovery, FingerprintIsTheChipSerialNumberEvenTwiceInARow) {
    // Deliberate: a ROM still synchronised from the first run is recognised, so "-N" works twice.
    startChip();
    for (int run = 0; run < 2; ++run) {
        RunResult r = updater({"-N", "-s", port});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(contains(r.out, "\n" + kFingerprintLine + "\n")) << r.out;
    }
}

TEST_F(LpcRecovery, ImageFromTheServerIsUnscrambledIntoFlash) {
    std::string image = makeRecoveryImage(builds + "/" + kSerial + "/2000.bird");
    zvtest::writeFile(builds + "/recovery.txt",
                      std::string("1A2B3C4D DEADBEEF 00000007 89ABCDEF ") + kSerial + " 2000\n");
    startServer();
    startChip();
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-u", url});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "Transferring firmware block 1 of 1, 10000 bytes\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Transferring firmware block 2 of 1, 40000 bytes\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Transferred 1 blocks, 50000 total bytes\nRebooting Device\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "Update time: ")) << r.out;
    EXPECT_TRUE(chipFlash() == expectedFlash(image)) << "flash differs";
    EXPECT_TRUE(contains(settings(), "LATEST_DOWNLOAD=2000.bird\n")) << settings();
    // The module the server named keeps the recovery in its history.
    std::vector<std::string> history = lines(readIfThere(deviceFile(".history")));
    ASSERT_EQ(history.size(), 1u);
    const nlohmann::json entry = nlohmann::json::parse(history[0]);
    EXPECT_EQ(entry["serial"], kSerial);
    EXPECT_EQ(entry["link_type"], "RECOVER");
    EXPECT_EQ(entry["result"], "updated");
    EXPECT_EQ(entry["file"], deviceFile("2000.bird"));
}

TEST_F(LpcRecovery, ImageGivenWithFIsWrittenWithoutTheServer) {
    std::string image = makeRecoveryImage(work.file("recovery.bird"));
    startChip();
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Recovering from Birdfile: " + image + "\n")) << r.out;
    EXPECT_TRUE(chipFlash() == expectedFlash(image)) << "flash differs";
    // Nobody said which module the chip is: there is no history to write to.
    EXPECT_EQ(zvtest::runProgram("/usr/bin/find", {store.path(), "-name", ".history"}).out, "");
}

TEST_F(LpcRecovery, ImageWithASerialNumberBlockIsRefusedBeforeTheChipIsTouched) {
    std::string image = makeRecoveryImage(work.file("recovery.bird"), true,
                                          "serial-offsets word=0x00000010 descriptor=0\n");
    startChip();
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "Updater does not support offline recovery\n");
    EXPECT_TRUE(chipFlash() == std::string(kLpcFlashSize, '\xFF')) << "the chip was written";
}

TEST_F(LpcRecovery, ChipTheServerDoesNotKnowIsOneErrorLine) {
    makeRecoveryImage(builds + "/" + kSerial + "/2000.bird");
    zvtest::writeFile(builds + "/recovery.txt", "01 02 03 04 40F5849A 2000\n");
    startServer();
    startChip();
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-u", url});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "Failed to retrieve recovery information from Pelmorax server\n");
    EXPECT_TRUE(chipFlash() == std::string(kLpcFlashSize, '\xFF')) << "the chip was written";
}

TEST_F(LpcRecovery, ChecksumRefusedEveryTimeFailsTheRecovery) {
    // Deliberate: a flash write that failed ends recovery with exit 1; the chip is not started.
    std::string image = makeRecoveryImage(work.file("recovery.bird"));
    startChip({"--bad-checksum-always"});
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    std::vector<std::string> errors = lines(r.err);
    ASSERT_EQ(errors.size(), 1u) << r.err;
    EXPECT_EQ(errors[0].rfind("Recovery Error transfering data to device ==> [", 0), 0u) << r.err;
    EXPECT_FALSE(contains(r.out, "Rebooting Device")) << r.out;
}

TEST_F(LpcRecovery, SilentOrUnsynchronisedChipGivesNoFingerprint) {
    for (const char* knob : {"--silent", "--no-sync"}) {
        startChip({knob});
        RunResult fingerprint = updater({"-N", "-s", port});
        EXPECT_EQ(fingerprint.exitCode, 1) << knob << fingerprint.out << fingerprint.err;
        EXPECT_EQ(fingerprint.err, "Got no response from chip\n") << knob;

        std::string image = makeRecoveryImage(work.file("recovery.bird"));
        RunResult recovery =
            updater({"-U", "-t", "RECOVER", "-s", port, "-f", image, "-d", kSerial});
        EXPECT_EQ(recovery.exitCode, 1) << knob << recovery.out << recovery.err;
        EXPECT_EQ(recovery.err, "Could not get Device Identifier\n") << knob;
        EXPECT_TRUE(chipFlash() == std::string(kLpcFlashSize, '\xFF')) << knob;
    }
}

TEST_F(LpcRecovery, SectorZeroIsCopiedLastAndEveryCopyIsCompared) {
    // Deliberate: sector 0 goes last and each copy is compared, so a cut run stays recoverable.
    std::string image = makeRecoveryImage(work.file("recovery.bird"));
    startChip({"--log"});
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Transferring sector 0 last, 4096 bytes\n")) << r.out;
    EXPECT_TRUE(chipFlash() == expectedFlash(image)) << "flash differs";

    // Block 1 (10000 bytes at 0) is chunks at 0, 4096 and 8192; block 2 (40000 at 0x10000) ten
    // chunks from 65536. Sector 0's chunk goes last; flash 0-63 shows the boot ROM's vectors, so
    // its compare starts at 64.
    std::vector<std::string> expected;
    auto chunk = [&](uint32_t target, uint32_t length) {
        const std::string ram = std::to_string(0x10001000 + (target == 0 ? 64 : 0));
        const uint32_t skip = target == 0 ? 64 : 0;
        expected.push_back("C " + std::to_string(target) + " 268439552 4096");
        expected.push_back("M " + std::to_string(target + skip) + " " + ram + " " +
                           std::to_string(length - skip));
    };
    chunk(4096, 4096);
    chunk(8192, 1808);
    for (uint32_t offset = 0; offset < 40000; offset += 4096) {
        chunk(0x10000 + offset, std::min(4096u, 40000 - offset));
    }
    chunk(0, 4096);
    std::vector<std::string> copiesAndCompares;
    for (const std::string& command : chipCommands()) {
        if (command[0] == 'C' || command[0] == 'M') {
            copiesAndCompares.push_back(command);
        }
    }
    EXPECT_EQ(copiesAndCompares, expected);
    ASSERT_FALSE(chipCommands().empty());
    EXPECT_EQ(chipCommands().back(), "G 0 T");
}

TEST_F(LpcRecovery, FlashByteThatDoesNotProgramEndsInTheVerificationError) {
    // Deliberate: a chunk that reads back wrong is written once more, then recovery fails.
    // 0x10123 lies in the first chunk of block 2, which comes before sector 0.
    std::string image = makeRecoveryImage(work.file("recovery.bird"));
    ASSERT_NE(static_cast<uint8_t>(zvtest::readFile(image + ".high")[0x123]), 0xFF);
    startChip({"--log", "--unprogrammed-byte", "0x10123"});
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "Flash verification failed at 0x00010123\n");
    EXPECT_FALSE(contains(r.out, "Rebooting Device")) << r.out;
    std::string flash = chipFlash();
    // The chunk was written twice and both copies left the byte erased; the chip was not
    // started and sector 0 was never written.
    EXPECT_EQ(countOf(chipLog(), "lpcsim: flash byte 65827 did not program\n"), 2u) << chipLog();
    std::vector<std::string> commands = chipCommands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "C 65536 268439552 4096"), 2);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "C 0 268439552 4096"), 0);
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const std::string& c) { return c[0] == 'G'; }),
              0);
    EXPECT_EQ(static_cast<uint8_t>(flash[0x10123]), 0xFF);
    EXPECT_TRUE(flash.substr(0, 4096) == std::string(4096, '\xFF')) << "sector 0 was written";
}

TEST_F(LpcRecovery, RecoveryCutShortLeavesSectorZeroErasedAndTheChipRecoverable) {
    // Deliberate: with sector 0 last, a cut recovery leaves the chip in its ROM to try again.
    std::string image = makeRecoveryImage(work.file("recovery.bird"));
    startChip({"--log", "--silent-after-copies", "3"});
    RunResult cut = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image});
    EXPECT_EQ(cut.exitCode, 1) << cut.out << cut.err;
    ASSERT_EQ(lines(cut.err).size(), 1u) << cut.err;
    EXPECT_EQ(cut.err.rfind("Recovery Error transfering data to device ==> [", 0), 0u) << cut.err;
    std::string flash = chipFlash();
    EXPECT_TRUE(contains(chipLog(), "lpcsim: stopping: copy limit reached\n")) << chipLog();
    // Three copies went in (4096, 8192, 65536); sector 0 is erased, so the chip's ROM finds no
    // user code at its next reset and stays in its bootloader.
    EXPECT_TRUE(flash.substr(0, 4096) == std::string(4096, '\xFF')) << "sector 0 was written";
    EXPECT_TRUE(flash.substr(0x10000, 4096) == zvtest::readFile(image + ".high").substr(0, 4096));

    // The chip reset into its ROM with that flash: identification and a new recovery work.
    zvtest::writeFile(work.file("cut-flash.bin"), flash);
    startChip({"--flash-initial", work.file("cut-flash.bin")});
    RunResult fingerprint = updater({"-N", "-s", port});
    EXPECT_EQ(fingerprint.exitCode, 0) << fingerprint.out << fingerprint.err;
    EXPECT_TRUE(contains(fingerprint.out, "\n" + kFingerprintLine + "\n")) << fingerprint.out;
    RunResult again = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image});
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_TRUE(contains(again.out, "Rebooting Device\n")) << again.out;
    EXPECT_TRUE(chipFlash() == expectedFlash(image)) << "flash differs";
}

TEST_F(LpcRecovery, ImageWithoutBlocksIsOneErrorLine) {
    // Deliberate: an image with nothing to write is refused before the chip is erased.
    std::string image = makeBird(work.file("empty.bird"), "");
    startChip({"--log"});
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "Recovery image has no blocks\n");
    std::vector<std::string> commands = chipCommands();
    EXPECT_EQ(commands, std::vector<std::string>({"N"})) << "only identified";
}

}  // namespace

TEST_F(LpcRecovery, ChipThatStopsAnsweringAtAnyStageEndsInOneErrorLine) {
    // Deliberate: every LPC step that fails (unlock, erase...) prints one line; waits are bounded.
    // The ROM falls silent after N command lines: at the unlock, at the erase, at the first RAM
    // write and late in the image. Each run ends in one error line, exit 1 and no start of the
    // chip; none hangs (every wait is bounded).
    std::string image = makeRecoveryImage(work.file("recovery.bird"));
    for (const char* after : {"1", "3", "5", "40"}) {
        SCOPED_TRACE(std::string("--stop-after ") + after);
        startChip({"--stop-after", after});
        RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        EXPECT_FALSE(contains(r.out, "Rebooting Device")) << r.out;
        chip.reset();
    }
}
