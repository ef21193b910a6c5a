// The update server simulator itself: its error answers, its start-up and its stopping.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HTTPRequest.h"
#include "UpdateServerRequest.h"
#include "ServerTestSupport.h"

using servertest::BuildsDirectory;
using servertest::SimulatedServer;
using servertest::updateserverBinary;

namespace {

class SimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        builds.addBuild("40F5849A", 1234, "1.2.3", "Hub-4");
        builds.addBuild("40F5849A", 1300, "1.10.0 beta", "Hub-4");
        builds.addBuild("40F5849A", 1250, "", "Hub-4");
        builds.addBuild("12345678", 5, "0.0.5", "Hub 4");
        builds.addFile("0BADF11E", "9.bird", "not a BIRD file");
        builds.addFile("0BADF11E", "notes.txt", "ignored");
    }

    // The raw answer to a query, so that the simulator's own bytes are checked.
    HTTPResponse get(std::map<std::string, std::string> query) {
        return HTTPRequest::GET(server->url().c_str(), query);
    }
    std::string body(std::map<std::string, std::string> query) {
        HTTPResponse response = get(std::move(query));
        EXPECT_EQ(response.get_status(), 200);
        return response.get_response();
    }

    BuildsDirectory builds;
    std::unique_ptr<SimulatedServer> server;
};

}  // namespace

TEST_F(SimulatorTest, AnswersTheRequestSetLineByLine) {
    server = std::make_unique<SimulatedServer>(builds);
    ASSERT_TRUE(server->ready());
    EXPECT_EQ(body({{"op", "hi"}}), "ok\n");
    EXPECT_EQ(body({{"op", "builds"}, {"sn", "40F5849A"}}),
              "ok\n1234;1.2.3\n1250;\n1300;1.10.0 beta\n");
    EXPECT_EQ(body({{"op", "qu"}, {"sn", "40f5849a"}}), "ok\n1300\nHub-4\n");
    // A model that would need escaping in a query is not used as the identifier.
    EXPECT_EQ(body({{"op", "qu"}, {"sn", "12345678"}}), "ok\n5\nfirmware\n");
    EXPECT_EQ(body({{"op", "qu"}, {"sn", "0BADF11E"}}), "ok\n9\nfirmware\n");
    EXPECT_EQ(body({{"op", "builds"}, {"sn", "0BADF11E"}}), "ok\n9;\n");
    std::string bird = body(
        {{"op", "bird"}, {"sn", "0BADF11E"}, {"fw", "firmware"}, {"bld", "9"}, {"no_cal", "true"}});
    EXPECT_EQ(bird, "ok\nbm90IGEgQklSRCBmaWxl\n");
}

TEST_F(SimulatorTest, RefusesBadRequestsWithAnErrorLineAndStatus200) {
    server = std::make_unique<SimulatedServer>(builds);
    ASSERT_TRUE(server->ready());
    using Query = std::map<std::string, std::string>;
    const std::vector<std::pair<Query, std::string>> cases = {
        {{}, "error: unknown operation\n"},
        {{{"op", "nope"}}, "error: unknown operation\n"},
        {{{"op", "qu"}}, "error: invalid serial number\n"},
        {{{"op", "qu"}, {"sn", "40F5849AB"}}, "error: invalid serial number\n"},
        {{{"op", "qu"}, {"sn", "XYZ"}}, "error: invalid serial number\n"},
        {{{"op", "qu"}, {"sn", "00000001"}}, "error: unknown serial number\n"},
        {{{"op", "bird"}, {"sn", "40F5849A"}, {"fw", "Hub-4"}, {"bld", "1234"}},
         "error: missing or invalid parameter\n"},
        {{{"op", "bird"}, {"sn", "40F5849A"}, {"fw", "Hub-4"}, {"bld", "1234"}, {"no_cal", "1"}},
         "error: missing or invalid parameter\n"},
        {{{"op", "bird"}, {"sn", "40F5849A"}, {"fw", "Hub-4"}, {"bld", "12x"}, {"no_cal", "true"}},
         "error: missing or invalid parameter\n"},
        {{{"op", "bird"}, {"sn", "40F5849A"}, {"fw", "Hub-4"}, {"bld", "1235"}, {"no_cal", "true"}},
         "error: unknown build\n"},
        {{{"op", "bird"},
          {"sn", "40F5849A"},
          {"fw", "firmware"},
          {"bld", "1234"},
          {"no_cal", "true"}},
         "error: firmware does not match\n"},
        {{{"op", "fix"}, {"fp", "00000001%2000000002%2000000003%2000000004"}, {"brief", "true"}},
         "error: unknown fingerprint\n"},
        {{{"op", "fix"}, {"fp", "00000001%2000000002%2000000003"}, {"brief", "true"}},
         "error: missing or invalid fingerprint\n"},
        {{{"op", "fix"}, {"fp", "0000000G%2000000002%2000000003%2000000004"}, {"brief", "true"}},
         "error: missing or invalid fingerprint\n"},
        {{{"op", "fix"}, {"brief", "true"}}, "error: missing or invalid fingerprint\n"},
    };
    for (const auto& [query, expected] : cases) {
        EXPECT_EQ(body(query), expected) << HTTPRequest::BuildURL("", query);
    }
    EXPECT_EQ(get({{"op", "hi"}}).get_status(), 200);
}

TEST_F(SimulatorTest, RecoveryRequestsAreAnsweredFromTheChipTable) {
    zvtest::writeFile(builds.path() + "/recovery.txt",
                      "# chip identifier words      module   build\n"
                      "\n"
                      "0A0B0C0D 1 2 3 40F5849A 1300 # the left hub\n"
                      "1a2b3c4d DEADBEEF 12345678 abcdef01 12345678 5\n"
                      "1A2B3C4D DEADBEEF 12345678 ABCDEF01 0BADF11E 7 # a second line is not used\n"
                      "broken line\n");
    server = std::make_unique<SimulatedServer>(builds);
    ASSERT_TRUE(server->ready());
    EXPECT_EQ(body({{"op", "fix"},
                    {"fp", "0A0B0C0D%2000000001%2000000002%2000000003"},
                    {"brief", "true"}}),
              "ok\n40F5849A\n1300\n");
    // What the updater's own client makes of the answer.
    const uint32_t chip[4] = {0x1A2B3C4D, 0xDEADBEEF, 0x12345678, 0xABCDEF01};
    uint32_t serial = 0;
    uint32_t build = 0;
    ASSERT_TRUE(UpdateServerRequest::GetRecoveryInfo(chip, &serial, &build, server->url().c_str()));
    EXPECT_EQ(serial, 0x12345678u);
    EXPECT_EQ(build, 5u);
    const uint32_t unknown[4] = {1, 2, 3, 4};
    EXPECT_FALSE(
        UpdateServerRequest::GetRecoveryInfo(unknown, &serial, &build, server->url().c_str()));
}

TEST_F(SimulatorTest, OtherPathsAreNotFound) {
    server = std::make_unique<SimulatedServer>(builds);
    ASSERT_TRUE(server->ready());
    std::string url = server->url();
    std::map<std::string, std::string> query = {{"op", "hi"}};
    std::string other = url.substr(0, url.size() - 1) + "x";
    EXPECT_EQ(HTTPRequest::GET(other.c_str(), query).get_status(), 404);
    EXPECT_EQ(server->requests(), std::vector<std::string>{"/cgi/x?op=hi&"});
}

TEST_F(SimulatorTest, StopsCleanlyOnSignalAndAfterItsDuration) {
    zvtest::BackgroundProgram program(updateserverBinary(), {"--builds", builds.path()});
    ASSERT_TRUE(program.waitReady());
    ASSERT_EQ(program.startupLines().size(), 1u);
    EXPECT_EQ(program.startupLines()[0].rfind("http 127.0.0.1:", 0), 0u);
    EXPECT_EQ(program.stop(), 0);

    zvtest::RunResult run =
        zvtest::runProgram(updateserverBinary(), {"--builds", builds.path(), "--duration", "0.2"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(run.out.size() - 6), "ready\n");
}

TEST_F(SimulatorTest, RefusesToStartWithoutWhatItNeeds) {
    auto run = [](const std::vector<std::string>& args) {
        return zvtest::runProgram(updateserverBinary(), args);
    };
    EXPECT_EQ(run({"--port", "0"}).exitCode, 2);
    EXPECT_EQ(run({"--builds", builds.path(), "--port", "http"}).exitCode, 2);
    EXPECT_EQ(run({"--builds", builds.path(), "--tls", "only-one.pem"}).exitCode, 2);
    EXPECT_EQ(run({"--builds", builds.path(), "--status", "99"}).exitCode, 2);
    EXPECT_EQ(run({"--builds", builds.file("missing")}).exitCode, 1);
    zvtest::RunResult tls =
        run({"--builds", builds.path(), "--tls", builds.file("no.pem"), builds.file("no.key")});
    EXPECT_EQ(tls.exitCode, 1);
    EXPECT_NE(tls.err.find("cannot use certificate"), std::string::npos) << tls.err;
    zvtest::RunResult help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--fault-op OP"), std::string::npos);
}
