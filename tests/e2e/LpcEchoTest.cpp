// "-e" during an LPC recovery: the ISP bootloader's echo stays on while the firmware is written,
// every line sent comes back and is logged, and the flash still gets exactly the image.
#include <sstream>

#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

constexpr size_t kFlashSize = 512 * 1024;
// The command that writes the first 4096-byte chunk to the bootloader's RAM at 0x10001000.
const char* const kChipWords = "0x1A2B3C4D,0xDEADBEEF,0x00000007,0x89ABCDEF";
const std::string kFirstWrite = "W 268439552 4096";

std::string lpcsimBinary() {
    return std::string(ZV_BINARY_DIR) + "/tools/lpcsim/lpcsim";
}

std::string imageBytes(size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    uint32_t state = seed * 2654435761u + 11;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

class LpcEcho : public FirmwareFixture {
  protected:
    // The bootloader simulator, tracing every line it receives into chip.log.
    void startChip() {
        chip = std::make_unique<zvtest::BackgroundProgram>(
            lpcsimBinary(),
            std::vector<std::string>{"--duration", "120", "--device-id", kChipWords, "--flash",
                                     work.file("lpc-flash.bin"), "--log"},
            work.file("chip.log"));
        ASSERT_TRUE(chip->waitReady()) << "the LPC bootloader simulator did not start";
        port = chip->startupValue("pty");
        ASSERT_NE(port, "");
    }

    // An image: 5000 bytes at 0 and 300 at 0x10000.
    std::string makeImage() {
        const std::string path = work.file("recovery.bird");
        zvtest::writeFile(path + ".low", imageBytes(5000, 1));
        zvtest::writeFile(path + ".high", imageBytes(300, 2));
        std::ostringstream description;
        description << "block type=1 address=0x00000000 file=recovery.bird.low\n"
                    << "block type=1 address=0x00010000 file=recovery.bird.high\n"
                    << "info build=2000 version=3.0.0 serial=" << kSerial
                    << " model=Hub-4\n"
                    // Recovery images are scrambled for the one chip they are made for.
                    << "scramble 0x1A2B3C4D 0xDEADBEEF 0x00000007 0x89ABCDEF\n";
        return makeBird(path, description.str());
    }

    std::string expectedFlash(const std::string& image) const {
        std::string flash(kFlashSize, '\xFF');
        std::string low = zvtest::readFile(image + ".low");
        std::string high = zvtest::readFile(image + ".high");
        flash.replace(0, low.size(), low);
        flash.replace(0x10000, high.size(), high);
        return flash;
    }

    // Stops the chip, which saves its flash and closes its trace.
    void stopChip() { chip->stop(); }
    std::string chipTrace() const { return zvtest::readFile(work.file("chip.log")); }
    std::string chipFlash() const { return zvtest::readFile(work.file("lpc-flash.bin")); }

    std::unique_ptr<zvtest::BackgroundProgram> chip;
    std::string port;
};

// The echo log lines of the diagnostic log that show the given text coming back.
size_t echoLinesHolding(const std::string& log, const std::string& text) {
    size_t count = 0;
    for (const std::string& line : lines(log)) {
        if (contains(line, "GetEcho() Received: ") && contains(line, text)) {
            ++count;
        }
    }
    return count;
}

TEST_F(LpcEcho, EchoStaysOnAndTheImageIsWritten) {
    std::string image = makeImage();
    startChip();
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image, "-e", "-X", "0x2000"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    stopChip();
    EXPECT_TRUE(chipFlash() == expectedFlash(image)) << "flash differs";
    // The echo was never switched off...
    EXPECT_FALSE(contains(chipTrace(), "< command [A 0")) << chipTrace();
    // ...so the write commands came back and were logged, one per chunk: 4096 and 904 bytes of
    // the first block and the 300 of the second, each staged as the length its copy takes.
    EXPECT_EQ(echoLinesHolding(r.err, kFirstWrite), 1u) << r.err;
    // Deliberate: a short chunk is staged padded with 0xFF to its copy length: no stale RAM copied.
    EXPECT_EQ(echoLinesHolding(r.err, "W 268439552 1024"), 1u) << r.err;
    EXPECT_EQ(echoLinesHolding(r.err, "W 268439552 512"), 1u) << r.err;
    EXPECT_TRUE(contains(r.out, "Transferred 1 blocks, 5300 total bytes\nRebooting Device\n"))
        << r.out;
}

TEST_F(LpcEcho, WithoutETheEchoIsOffWhileWriting) {
    std::string image = makeImage();
    startChip();
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image, "-X", "0x2000"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    stopChip();
    EXPECT_TRUE(chipFlash() == expectedFlash(image)) << "flash differs";
    EXPECT_TRUE(contains(chipTrace(), "< command [A 0")) << chipTrace();
    EXPECT_EQ(echoLinesHolding(r.err, kFirstWrite), 0u) << r.err;
}

}  // namespace
