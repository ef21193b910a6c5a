// "-U" when something goes wrong: the link drops in the middle, the module refuses or garbles
// what it gets, its loader stays silent, the server's certificate is not to be trusted. Each run
// ends in exactly one error line and exit 1, and the store's record of the last transfer is left
// as it was; a fault the protocol can recover from is recovered from.
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

class UpdateFaults : public FirmwareFixture {
  protected:
    void prepare() override {
        putInStore("1300.bird", zvtest::readFile(makeNewBuild()));
        putInStore(".settings", kEarlierTransfer);
    }
    // One error line, exit 1, the record of the earlier transfer untouched. Standard error also
    // carries the diagnostic lines the exchange writes whatever the debug mask.
    void expectCleanFailure(const RunResult& r) {
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_EQ(errorLines(r).size(), 1u) << r.err;
        EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER=1234.bird\n")) << settings();
        EXPECT_TRUE(contains(settings(), "LAST_TRANSFER_DATE=Mon Dec  7 10:00:00 2026\n"));
    }
};

TEST_F(UpdateFaults, LinkThatDropsDuringTheFirmwareEndsInOneError) {
    // Past the module queries and the 12 loader pieces, inside the first firmware block.
    startModule("disconnect-after=80");
    RunResult r = updater({"-U", "-d", kSerial});
    expectCleanFailure(r);
    // Deliberate: a firmware transfer that fails is reported in one line, not only in the log.
    EXPECT_TRUE(contains(r.err, "Firmware update failed")) << r.err;
    EXPECT_TRUE(contains(r.out, "Transferring firmware block 1 of 2")) << r.out;
}

TEST_F(UpdateFaults, ModuleThatRefusesEveryPieceEndsInOneError) {
    // Deliberate: a piece refused over and over is given up, and the failure shown in one line.
    startModule("always-short");
    RunResult r = updater({"-U", "-d", kSerial});
    expectCleanFailure(r);
    EXPECT_EQ(errorLines(r),
              std::vector<std::string>{"Firmware update failed [29, qErrInvalidOption]"});
}

TEST_F(UpdateFaults, SilentLoaderEndsInOneError) {
    // Deliberate: a loader that never answers ends the update with one error line for the user.
    startModule("silent-loader");
    RunResult r = updater({"-U", "-d", kSerial});
    expectCleanFailure(r);
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin")));
}

TEST_F(UpdateFaults, RefusedPrepareEndsInOneError) {
    // Deliberate: a loader that refuses PREPARE ends the update in one error line, not a log only.
    startModule("prepare-status=3");
    RunResult r = updater({"-U", "-d", kSerial});
    expectCleanFailure(r);
}

TEST_F(UpdateFaults, WrongSumIsRetriedFromThePrepareAndTheUpdateSucceeds) {
    // SUM 1 is the loader's; SUM 3 is the second piece of the first firmware block.
    startModule("bad-sum=3");
    RunResult r = updater({"-U", "-d", kSerial});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Transferring firmware block 1 of 2, 3004 bytes\n  Retry 1\n"))
        << r.out;
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
    EXPECT_TRUE(contains(settings(), "LATEST_TRANSFER=1300.bird\n"));
}

TEST_F(UpdateFaults, LoaderThatSendsNoBlockSizeForItsLoaderBlockIsUpdated) {
    // Deliberate: a loader block needs no block size, so a PREPARE reply without one is taken.
    startModule("short-loader-prepare");
    RunResult r = updater({"-U", "-d", kSerial});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
    // The loader block's PREPARE was answered without a block size, the firmware's with one.
    EXPECT_TRUE(contains(moduleLog(), "40F5849A > 04 03 5F 07 00\n")) << moduleLog().size();
    EXPECT_TRUE(contains(moduleLog(), "40F5849A > 04 05 5F 07 00 04 00\n"));
}

TEST_F(UpdateFaults, LinkThatDropsAtLoadIsFoundAgainAndTheUpdateSucceeds) {
    startModule("drop-at-load");
    RunResult r = updater({"-U", "-d", kSerial});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(flash() == expectedFlash(bird)) << "flash differs";
}

TEST_F(UpdateFaults, UntrustedServerCertificateEndsTheDownloadInOneError) {
    // Deliberate: HTTPS checks the server's certificate; a self-signed one is refused.
    const std::string certs = std::string(ZV_SOURCE_DIR) + "/tools/updateserver/certs/";
    zvtest::runProgram("/bin/mkdir", {"-p", builds + "/" + kSerial});
    zvtest::writeFile(builds + "/" + kSerial + "/1300.bird", zvtest::readFile(bird));
    startServer({"--tls", certs + "selfsigned.pem", certs + "selfsigned.key"});
    RunResult r = updater({"-G", "-d", kSerial, "-u", url}, {"CURL_CA_BUNDLE=" + certs + "ca.pem"});
    expectCleanFailure(r);
    EXPECT_EQ(r.err, "Server request failed for " + url + "\n");
    EXPECT_TRUE(contains(settings(), "LATEST_DOWNLOAD=1300.bird\n"));
}

}  // namespace
