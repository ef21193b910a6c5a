// "-OVERRIDE" skips the server's check that a build is one it offers for the module: with it,
// "-G -U" asks the server for no build list. The update server simulator logs every request it
// is sent.
#include "FirmwareFixture.h"

using namespace firmwaretest;
using zvtest::RunResult;

namespace {

class OverrideRequests : public FirmwareFixture {
  protected:
    // "-G -U" with these extra arguments against a server that offers build 1300; the request
    // targets the server received, one a line.
    std::string downloadAndUpdate(const std::vector<std::string>& extra) {
        makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
        startServer();
        startModule();
        std::vector<std::string> args = {"-G", "-U", "-d", kSerial, "-u", url};
        args.insert(args.end(), extra.begin(), extra.end());
        run = updater(args);
        server.reset();  // every request is in the log once the server has stopped
        return serverRequests();
    }

    RunResult run;
};

// The requests of "-G -U": the server's greeting, which build is the latest, and the file.
const std::string kPing = "/cgi/u?op=hi&rv=2&\n";
const std::string kLatest = std::string("/cgi/u?op=qu&sn=") + kSerial + "&\n";
const std::string kBuildList = std::string("/cgi/u?op=builds&sn=") + kSerial + "&\n";
const std::string kFile =
    std::string("/cgi/u?bld=1300&fw=Hub-4&no_cal=false&op=bird&sn=") + kSerial + "&\n";

TEST_F(OverrideRequests, WithoutOverrideTheBuildIsCheckedAgainstTheServersList) {
    const std::string requests = downloadAndUpdate({});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "Build 1300 is valid\n")) << run.out;
    EXPECT_EQ(requests, kPing + kLatest + kBuildList + kFile);
}

TEST_F(OverrideRequests, OverrideAsksForNoBuildList) {
    const std::string requests = downloadAndUpdate({"-OVERRIDE"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, "Override specified, skipping validation of build 1300\n"))
        << run.out;
    // The build is still fetched and flashed, without the list.
    EXPECT_EQ(requests, kPing + kLatest + kFile);
    EXPECT_TRUE(flash() == expectedFlash(builds + "/" + kSerial + "/1300.bird")) << "flash differs";
}

}  // namespace
