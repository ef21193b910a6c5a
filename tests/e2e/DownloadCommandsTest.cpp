// "-B", "-L" and "-G" run as a user runs them, against the update server simulator.
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

class DownloadCommands : public FirmwareFixture {
  protected:
    void prepare() override {
        older = makeBuild(builds + "/" + kSerial + "/1234.bird", 1234, "2.12.4");
        newer = makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
        startServer();
    }
    std::string older, newer;
};

TEST_F(DownloadCommands, BuildListIsPrintedHighestVersionFirst) {
    RunResult r = updater({"-B", "-d", kSerial, "-u", url});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<std::string> out = lines(r.out);
    ASSERT_GE(out.size(), 5u) << r.out;
    size_t at = out.size() - 5;
    EXPECT_EQ(out[at], "Build List for device [40F5849A]:");
    EXPECT_EQ(out[at + 1], "");
    EXPECT_EQ(out[at + 2], "Build          \tVersion        ");
    EXPECT_EQ(out[at + 3], "1300           \t2.13.0         ");
    EXPECT_EQ(out[at + 4], "1234           \t2.12.4         ");
}

TEST_F(DownloadCommands, LatestBuildIsDownloadedValidatedAndRecorded) {
    RunResult r = updater({"-G", "-d", kSerial, "-u", url});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "Retrieving build 1300\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Validating build 1300 with server\nBuild 1300 is valid\n"));
    // Stored byte for byte as the server holds it, and remembered as the latest download.
    EXPECT_TRUE(storedFile("1300.bird") == zvtest::readFile(newer));
    EXPECT_TRUE(contains(settings(), "LATEST_DOWNLOAD=1300.bird\n")) << settings();
    EXPECT_TRUE(contains(settings(), "LAST_DOWNLOAD_DATE="));

    // "-L" now lists it with the version from its information block.
    r = updater({"-L", "-d", kSerial});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "1300           \t2.13.0         \n")) << r.out;
}

TEST_F(DownloadCommands, UnlistedBuildIsRefusedUnlessOverridden) {
    RunResult r = updater({"-G", "-d", kSerial, "-b", "999", "-u", url});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "No valid build 999\n");
    EXPECT_FALSE(zvtest::pathExists(deviceFile("999.bird")));

    // With the override the list is not asked; the older build is fetched by number.
    r = updater({"-G", "-d", kSerial, "-b", "1234", "-OVERRIDE", "-u", url});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Override specified, skipping validation of build 1234\n"));
    EXPECT_FALSE(contains(r.out, "Validating build"));
    EXPECT_TRUE(storedFile("1234.bird") == zvtest::readFile(older));
}

TEST_F(DownloadCommands, LocalListShowsStoredFilesAndOnesWithoutVersion) {
    zvtest::runProgram("/bin/mkdir", {"-p", deviceDir()});
    zvtest::writeFile(deviceFile("1234.bird"), zvtest::readFile(older));
    zvtest::writeFile(deviceFile("77.bird"), "not a bird file");
    RunResult r = updater({"-L", "-d", kSerial});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> out = lines(r.out);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[out.size() - 2], "1234           \t2.12.4         ");
    EXPECT_EQ(out.back(), "77             \t               ");
}

TEST_F(DownloadCommands, ServerThatAnswersWithAnErrorStatusFailsInOneLine) {
    server.reset();
    startServer({"--status", "500"});
    RunResult r = updater({"-G", "-d", kSerial, "-u", url});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Server request failed for " + url + "\n");
    EXPECT_FALSE(contains(settings(), "LATEST_DOWNLOAD=1"));
}

TEST_F(DownloadCommands, StalledDownloadIsAbortedInsteadOfSpinningForever) {
    // Deliberate: a stalled download ends in time, reported once as "Download failed".
    server.reset();
    startServer({"--stall", "--fault-op", "bird"});
    RunResult r = updater({"-G", "-d", kSerial, "-u", url});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Download failed\n");
    EXPECT_FALSE(zvtest::pathExists(deviceFile("1300.bird")));
    EXPECT_FALSE(contains(settings(), "LATEST_DOWNLOAD=1"));
}

TEST_F(DownloadCommands, ReplyThatIsNotABirdFileIsNotStored) {
    // Deliberate: decoded bytes that are no BIRD file are refused, so no garbage is stored.
    // The server holds garbage under a build number: it decodes, but is no BIRD file.
    zvtest::writeFile(builds + "/" + kSerial + "/1400.bird", "garbage, not a BIRD file");
    RunResult r = updater({"-G", "-d", kSerial, "-b", "1400", "-OVERRIDE", "-u", url});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_FALSE(zvtest::pathExists(deviceFile("1400.bird")));
    EXPECT_FALSE(contains(settings(), "LATEST_DOWNLOAD=1"));
}

TEST_F(DownloadCommands, DownloadThatCannotBeWrittenRecordsNothing) {
    // Deliberate: a file that could not be written is not recorded as the latest download.
    zvtest::runProgram("/bin/mkdir", {"-p", deviceDir()});
    // A directory where the file should go: the write must fail.
    zvtest::runProgram("/bin/mkdir", {"-p", deviceFile("1300.bird")});
    RunResult r = updater({"-G", "-d", kSerial, "-u", url});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "Failed to write file with")) << r.err;
    EXPECT_FALSE(contains(settings(), "LATEST_DOWNLOAD=1300"));
}

TEST_F(DownloadCommands, HttpsNeedsACertificateTheClientTrusts) {
    const std::string certs = std::string(ZV_SOURCE_DIR) + "/tools/updateserver/certs/";
    const std::string trust = "CURL_CA_BUNDLE=" + certs + "ca.pem";
    server.reset();
    startServer({"--tls", certs + "server.pem", certs + "server.key"});
    RunResult r = updater({"-B", "-d", kSerial, "-u", url}, {trust});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "1300           \t2.13.0         ")) << r.out << r.err;

    // Deliberate: HTTPS checks the server's certificate and name; untrusted ones are refused.
    // A certificate from nobody the client trusts is refused.
    server.reset();
    startServer({"--tls", certs + "selfsigned.pem", certs + "selfsigned.key"});
    r = updater({"-G", "-d", kSerial, "-u", url}, {trust});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Server request failed for " + url + "\n");

    // So is a trusted certificate made out to another host.
    server.reset();
    startServer({"--tls", certs + "wronghost.pem", certs + "wronghost.key"});
    r = updater({"-G", "-d", kSerial, "-u", url}, {trust});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Server request failed for " + url + "\n");
}

}  // namespace
