// The simulator must behave like the chip for LPC ISP tools other than ours: lpc21isp (Debian's
// package of the widely used flashing tool) synchronises, identifies the part, erases, writes
// and verifies an image through it, unchanged.
#include <gtest/gtest.h>

#include "LpcSimHarness.h"

namespace {

const char* const kLpc21isp = "/usr/bin/lpc21isp";

TEST(LpcThirdPartyTool, Lpc21ispWritesAndVerifiesAnImage) {
    ZV_NEEDS(zvtest::pathExists(kLpc21isp)
                 ? ""
                 : "lpc21isp is not installed (scripts/install-deps installs it)");
    zvtest::TempDir dir;
    lpctest::Bytes image = lpctest::patternBytes(20000, 7);
    zvtest::writeFile(dir.file("image.bin"), std::string(image.begin(), image.end()));
    zvtest::BackgroundProgram sim(
        lpctest::lpcsimBinary(),
        {"--duration", "120", "--erase-ms-per-sector", "1", "--flash", dir.file("flash.bin")});
    ASSERT_TRUE(sim.waitReady(20000));
    const std::string port = sim.startupValue("pty");

    zvtest::RunResult run = zvtest::runProgram(
        kLpc21isp, {"-bin", "-verify", dir.file("image.bin"), port, "115200", "14746"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("LPC1768"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Download Finished and Verified correct"), std::string::npos) << run.out;
    EXPECT_EQ(sim.stop(), 0);

    // lpc21isp puts the vector table's checksum into word 7, as the boot ROM requires; every
    // other byte is the image's.
    std::string flash = zvtest::readFile(dir.file("flash.bin"));
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(flash.substr(0, 28) == std::string(image.begin(), image.begin() + 28));
    EXPECT_TRUE(flash.substr(32, image.size() - 32) == std::string(image.begin() + 32, image.end()))
        << "flash differs from the image";
}

}  // namespace
