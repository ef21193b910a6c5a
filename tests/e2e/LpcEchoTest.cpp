// "-e" during an LPC recovery: the ISP bootloader's echo stays on while the firmware is written,
// every line sent comes back and is logged, and the flash still gets exactly the image.
#include "LpcChipFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

// The command that writes the first 4096-byte chunk to the bootloader's RAM at 0x10001000.
const std::string kFirstWrite = "W 268439552 4096";

class LpcEcho : public LpcChipFixture {
  protected:
    // An image: 5000 bytes at 0 and 300 at 0x10000.
    std::string makeImage() {
        return makeRecoveryImage(work.file("recovery.bird"), true, "", 5000, 300);
    }
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
    startChip({"--log"});
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image, "-e", "-X", "0x2000"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(chipFlash() == expectedFlash(image)) << "flash differs";
    // The echo was never switched off...
    EXPECT_FALSE(contains(chipLog(), "< command [A 0")) << chipLog();
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
    startChip({"--log"});
    RunResult r = updater({"-U", "-t", "RECOVER", "-s", port, "-f", image, "-X", "0x2000"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(chipFlash() == expectedFlash(image)) << "flash differs";
    EXPECT_TRUE(contains(chipLog(), "< command [A 0")) << chipLog();
    EXPECT_EQ(echoLinesHolding(r.err, kFirstWrite), 0u) << r.err;
}

}  // namespace
