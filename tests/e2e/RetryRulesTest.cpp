// How "-U" retries a firmware block: each block gets at most five attempts, each from its PREPARE;
// a PREPARE the loader refuses is not asked again. The module simulator refuses on purpose, only
// in the firmware blocks, and its packet log shows what the host sent.
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

// The loader's PREPARE for the first firmware block (flags 0, load address 0x00004000), as the
// module at bus address 4 receives it, and its WRITE refusal (status 30) as it answers it.
const std::string kFirstBlockPrepare = " < 04 07 5F 03 00 00 00 40 00";
const std::string kSecondBlockPrepare = " < 04 07 5F 03 00 00 00 50 00";
const std::string kWriteRefused = " > 04 03 5F 07 1E";
const std::string kFirstBlockLine = "Transferring firmware block 1 of 2, 3004 bytes\n";
// A refused PREPARE and a refused WRITE both end the block with the same code.
const std::string kInvalidOptionLine = "Firmware update failed [29, qErrInvalidOption]";

class RetryRules : public FirmwareFixture {
  protected:
    RunResult updateWith(const std::string& keys) {
        makeNewBuild();
        startModule(keys);
        return updater({"-U", "-d", kSerial, "-f", bird});
    }

    // A failed update leaves no image and no record of a transfer.
    void expectNothingRecorded() {
        EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin"))) << "nothing was committed";
        EXPECT_FALSE(zvtest::pathExists(deviceFile(".settings")) &&
                     contains(settings(), "LATEST_TRANSFER"))
            << settings();
    }
};

TEST_F(RetryRules, FirmwareBlockRefusedFiveTimesEndsTheUpdate) {
    RunResult r = updateWith("firmware-write-refused=5");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(appearances(r.out, kFirstBlockLine), 5u) << r.out;
    EXPECT_TRUE(contains(r.out, "  Retry 4\nTransferred 0 blocks, 0 total bytes\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "  Retry 5\n")) << r.out;
    EXPECT_EQ(appearances(moduleLog(), kFirstBlockPrepare), 5u);
    EXPECT_EQ(appearances(moduleLog(), kWriteRefused), 5u);
    EXPECT_EQ(appearances(moduleLog(), kSecondBlockPrepare), 0u) << "the update went on";
    EXPECT_EQ(errorLines(r), std::vector<std::string>{kInvalidOptionLine}) << r.err;
    expectNothingRecorded();
}

TEST_F(RetryRules, FirmwareBlockRefusedFourTimesGoesThroughOnItsLastAttempt) {
    RunResult r = updateWith("firmware-write-refused=4");
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(appearances(r.out, kFirstBlockLine), 5u) << r.out;
    EXPECT_TRUE(contains(r.out, "  Retry 4\nTransferring firmware block 2 of 2, 1504 bytes\n"))
        << r.out;
    EXPECT_EQ(appearances(moduleLog(), kFirstBlockPrepare), 5u);
    EXPECT_EQ(appearances(moduleLog(), kWriteRefused), 4u);
    EXPECT_TRUE(contains(r.out, "Transferred 2 blocks, 4508 total bytes\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Verified: module 40F5849A runs build 1300\nUpdate time: "))
        << r.out;
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
    EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER=" + bird + "\n")) << settings();
}

TEST_F(RetryRules, RefusedFirmwarePrepareIsNotAskedAgain) {
    // Only the first firmware PREPARE is refused: a host that asked again would get through.
    RunResult r = updateWith("firmware-prepare-status=11:1");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Transferred 1 blocks, 304 total bytes\n")) << "loader refused";
    EXPECT_EQ(appearances(moduleLog(), kFirstBlockPrepare), 1u);
    EXPECT_EQ(appearances(moduleLog(), " > 04 05 5F 07 0B "), 1u) << "the refusal was not sent";
    EXPECT_EQ(appearances(r.out, kFirstBlockLine), 1u) << r.out;
    EXPECT_TRUE(contains(r.out, kFirstBlockLine + "Transferred 0 blocks, 0 total bytes\n"))
        << r.out;
    EXPECT_FALSE(contains(r.out, "  Retry")) << r.out;
    // The transfer ends there: after the refused PREPARE no upgrade request, no block data and
    // no REBOOT, reaches the module.
    const std::string trace = moduleLog();
    EXPECT_EQ(upgradePackets(trace.substr(trace.find(kFirstBlockPrepare)), '<'), 1u) << trace;
    EXPECT_EQ(errorLines(r), std::vector<std::string>{kInvalidOptionLine}) << r.err;
    expectNothingRecorded();
}

}  // namespace
