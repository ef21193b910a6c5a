#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Base64.h"
#include "ServerTestSupport.h"
#include "UpdateServerRequest.h"

using servertest::BuildsDirectory;
using servertest::LogCapture;
using servertest::SimulatedServer;

namespace {

using Lines = std::vector<std::string>;
using BuildMap = std::map<std::string, std::string>;

constexpr uint32_t kHub = 0x40F5849A;
constexpr uint32_t kController = 0x0000ABCD;

using zvtest::contains;

std::string decoded(const std::string& text) {
    size_t length = 0;
    unsigned char* bytes = base64_decode(text.data(), text.size(), &length);
    if (bytes == nullptr) {
        return "<not base64>";
    }
    std::string result(reinterpret_cast<char*>(bytes), length);
    free(bytes);
    return result;
}

class UpdateServerRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        hub1234 = builds.addBuild("40F5849A", 1234, "1.2.3", "Hub-4", "40F5849A");
        hub1300 = builds.addBuild("40F5849A", 1300, "1.10.0", "Hub-4", "40F5849A");
        builds.addBuild("40F5849A", 1250, "", "Hub-4", "40F5849A");
        builds.addBuild("0000ABCD", 42, "0.4.2", "Ctl-2");
        builds.addBuild("default", 7, "0.0.7", "");
    }

    SimulatedServer& start(const std::vector<std::string>& args = {}) {
        server = std::make_unique<SimulatedServer>(builds, args);
        EXPECT_TRUE(server->ready());
        return *server;
    }
    // Starts the server answering every request (or those of faultOp) with exactly body.
    SimulatedServer& startReplying(const std::string& body, const std::string& faultOp = "") {
        std::string path = builds.file("reply.txt");
        zvtest::writeFile(path, body);
        std::vector<std::string> args = {"--reply", path};
        if (!faultOp.empty()) {
            args.insert(args.end(), {"--fault-op", faultOp});
        }
        return start(args);
    }
    std::string url() const { return server->url(); }

    LogCapture log;
    BuildsDirectory builds;
    std::string hub1234;
    std::string hub1300;
    std::unique_ptr<SimulatedServer> server;
};

}  // namespace

TEST_F(UpdateServerRequestTest, PingSaysHiWithReplyVersionTwo) {
    start();
    EXPECT_TRUE(UpdateServerRequest::ping(url().c_str()));
    EXPECT_EQ(server->requests(), Lines{"/cgi/u?op=hi&rv=2&"});
    std::string text = log.text();
    EXPECT_TRUE(contains(text, "GET(" + url() + "?op=hi&rv=2&)\n")) << text;
    // The piece is shown right-aligned in 100 columns.
    EXPECT_TRUE(contains(text, ") [" + std::string(97, ' ') + "ok\n]\n")) << text;
    EXPECT_TRUE(contains(text, "rcv_data called (..., 1, 3, ")) << text;
    EXPECT_TRUE(contains(text, "rcv_data returns 3\n")) << text;
}

TEST_F(UpdateServerRequestTest, QueryBuildAsksByEightDigitSerialAndTakesLatestAndFirmware) {
    start();
    std::string build = "old";
    std::string firmware = "old";
    ASSERT_TRUE(UpdateServerRequest::QueryBuild(kController, build, firmware, url().c_str()));
    EXPECT_EQ(build, "42");
    EXPECT_EQ(firmware, "Ctl-2");
    ASSERT_TRUE(UpdateServerRequest::QueryBuild(kHub, build, firmware, url().c_str()));
    EXPECT_EQ(build, "1300");
    EXPECT_EQ(firmware, "Hub-4");
    // A module without builds of its own gets the default ones; no model means "firmware".
    ASSERT_TRUE(UpdateServerRequest::QueryBuild(1, build, firmware, url().c_str()));
    EXPECT_EQ(build, "7");
    EXPECT_EQ(firmware, "firmware");
    EXPECT_EQ(server->requests(), (Lines{"/cgi/u?op=qu&sn=0000ABCD&", "/cgi/u?op=qu&sn=40F5849A&",
                                         "/cgi/u?op=qu&sn=00000001&"}));
}

TEST_F(UpdateServerRequestTest, GetBuildSendsOrderedQueryAndDataDecodesToTheFileBytes) {
    start();
    std::string data = "stale";
    ASSERT_TRUE(UpdateServerRequest::GetBuild(kHub, "Hub-4", "1234", data, url().c_str(), false));
    EXPECT_EQ(decoded(data), hub1234);
    ASSERT_TRUE(UpdateServerRequest::GetBuild(kHub, "Hub-4", "1300", data, url().c_str(), true));
    EXPECT_EQ(decoded(data), hub1300);
    EXPECT_EQ(server->requests(),
              (Lines{"/cgi/u?bld=1234&fw=Hub-4&no_cal=false&op=bird&sn=40F5849A&",
                     "/cgi/u?bld=1300&fw=Hub-4&no_cal=true&op=bird&sn=40F5849A&"}));
}

TEST_F(UpdateServerRequestTest, GetBuildRefusalClearsDataAndLogsTheRequest) {
    start();
    std::string data = "stale";
    EXPECT_FALSE(UpdateServerRequest::GetBuild(kHub, "Hub-5", "1234", data, url().c_str(), false));
    EXPECT_EQ(data, "");
    data = "stale";
    EXPECT_FALSE(UpdateServerRequest::GetBuild(kHub, "Hub-4", "999", data, url().c_str(), false));
    EXPECT_EQ(data, "");
    EXPECT_FALSE(UpdateServerRequest::GetBuild(kHub, nullptr, nullptr, data, url().c_str(), false));
    EXPECT_EQ(server->requests().back(), "/cgi/u?bld=&fw=&no_cal=false&op=bird&sn=40F5849A&");
    EXPECT_TRUE(contains(log.text(), "ServerCommClass: GetBuild failed [" + url() +
                                         "?bld=1234&fw=Hub-5&no_cal=false&op=bird&sn=40F5849A&]\n"))
        << log.text();
}

TEST_F(UpdateServerRequestTest, GetBuildListReplacesTheMapWithEveryBuildAndVersion) {
    builds.addFile("40F5849A", "1250.version", "2.0.0\nnot this\n");
    start();
    BuildMap list = {{"999", "stale"}};
    ASSERT_TRUE(UpdateServerRequest::GetBuildList(kHub, list, url().c_str()));
    EXPECT_EQ(list, (BuildMap{{"1234", "1.2.3"}, {"1250", "2.0.0"}, {"1300", "1.10.0"}}));
    EXPECT_EQ(server->requests(), Lines{"/cgi/u?op=builds&sn=40F5849A&"});
    std::string text = log.text();
    EXPECT_TRUE(contains(text, "GetBuildList processing entry: [1234;1.2.3]\n")) << text;
    EXPECT_TRUE(contains(text, "GetBuildList [1300][1.10.0]\n")) << text;
    auto sorted = UpdateServerRequest::SortBuildsByVersion(list);
    ASSERT_EQ(sorted.size(), 3u);
    EXPECT_EQ(sorted[0].first, "1250");
    EXPECT_EQ(sorted[1].first, "1300");
    EXPECT_EQ(sorted[2].first, "1234");
}

TEST_F(UpdateServerRequestTest, GetRecoveryInfoSendsTheFingerprintWithEscapedBlanks) {
    start();
    const uint32_t fingerprint[4] = {1, 0xDEADBEEF, 0x12345678, 0xABCDEF01};
    uint32_t serial = 5;
    uint32_t build = 6;
    // The simulator does not prepare recovery images yet and says so.
    EXPECT_FALSE(UpdateServerRequest::GetRecoveryInfo(fingerprint, &serial, &build, url().c_str()));
    EXPECT_EQ(serial, 5u);
    EXPECT_EQ(build, 6u);
    EXPECT_EQ(server->requests(),
              Lines{"/cgi/u?brief=true&fp=00000001%20DEADBEEF%2012345678%20ABCDEF01&op=fix&"});
}

// Replies written out exactly, as another server might send them.

TEST_F(UpdateServerRequestTest, FirstLineNeedsOnlyToBeginWithOk) {
    startReplying("okay\n");
    EXPECT_TRUE(UpdateServerRequest::ping(url().c_str()));
}

TEST_F(UpdateServerRequestTest, FirstLineOtherThanOkFails) {
    for (const char* body : {"OK\n", "o\n", "", "\n\n", "error: unknown build\nok\n"}) {
        SCOPED_TRACE(body);
        startReplying(body);
        EXPECT_FALSE(UpdateServerRequest::ping(url().c_str()));
        EXPECT_TRUE(
            contains(log.text(), "ServerCommClass: ping failed [" + url() + "?op=hi&rv=2&]\n"));
    }
}

TEST_F(UpdateServerRequestTest, BuildListSkipsShortLinesAndKeepsEntriesWithoutVersion) {
    startReplying("ok\n1234;1.2.3\nx\n1300;1.10.0\n1250\n");
    BuildMap list;
    ASSERT_TRUE(UpdateServerRequest::GetBuildList(kHub, list, url().c_str()));
    EXPECT_EQ(list, (BuildMap{{"1234", "1.2.3"}, {"1250", ""}, {"1300", "1.10.0"}}));
    EXPECT_TRUE(contains(log.text(), "GetBuildList processing entry: [x]\n"));
    auto sorted = UpdateServerRequest::SortBuildsByVersion(list);
    auto position = [&](const std::string& build) {
        for (size_t i = 0; i < sorted.size(); ++i) {
            if (sorted[i].first == build) {
                return i;
            }
        }
        return sorted.size();
    };
    EXPECT_LT(position("1300"), position("1234"));
}

TEST_F(UpdateServerRequestTest, BuildListKeepsTheFirstVersionOfARepeatedBuild) {
    startReplying("ok\r\n1234;1.2.3\r\n1234;9.9.9\r\n;;;\n55;\n");
    BuildMap list;
    ASSERT_TRUE(UpdateServerRequest::GetBuildList(kHub, list, url().c_str()));
    EXPECT_EQ(list, (BuildMap{{"1234", "1.2.3"}, {"55", ""}}));
}

TEST_F(UpdateServerRequestTest, QueryBuildCutsTheFirmwareAtTheLineEnd) {
    startReplying("okay\n\n1300\r\nHub-4\r\n");
    std::string build;
    std::string firmware;
    ASSERT_TRUE(UpdateServerRequest::QueryBuild(kHub, build, firmware, url().c_str()));
    // Empty lines are skipped; the build line keeps its "\r" for the caller's number conversion.
    EXPECT_EQ(build, "1300\r");
    EXPECT_EQ(firmware, "Hub-4");
}

TEST_F(UpdateServerRequestTest, RecoveryBuildIsReadAsDecimalHexOrOctal) {
    const uint32_t fingerprint[4] = {1, 2, 3, 4};
    uint32_t serial = 0;
    uint32_t build = 0;
    startReplying("ok\n40F5849A\n0x10\n");
    ASSERT_TRUE(UpdateServerRequest::GetRecoveryInfo(fingerprint, &serial, &build, url().c_str()));
    EXPECT_EQ(serial, kHub);
    EXPECT_EQ(build, 16u);
    EXPECT_TRUE(contains(log.text(), "GetRecoveryInfo [ok][40F5849A][0x10]\n")) << log.text();
    startReplying("ok\n0000abcd\r\n010\r\n");
    ASSERT_TRUE(UpdateServerRequest::GetRecoveryInfo(fingerprint, &serial, &build, url().c_str()));
    EXPECT_EQ(serial, kController);
    EXPECT_EQ(build, 8u);
    startReplying("ok\n1234\n");
    ASSERT_TRUE(UpdateServerRequest::GetRecoveryInfo(fingerprint, &serial, &build, url().c_str()));
    EXPECT_EQ(serial, 0x1234u);
    EXPECT_EQ(build, 8u);
}

TEST_F(UpdateServerRequestTest, ShortRepliesSucceedAndLeaveMissingOutputsAlone) {
    start({"--truncate", "3"});
    std::string build = "keep";
    std::string firmware = "keep";
    ASSERT_TRUE(UpdateServerRequest::QueryBuild(kHub, build, firmware, url().c_str()));
    EXPECT_EQ(build, "keep");
    EXPECT_EQ(firmware, "keep");
    std::string data = "stale";
    ASSERT_TRUE(UpdateServerRequest::GetBuild(kHub, "Hub-4", "1234", data, url().c_str(), false));
    EXPECT_EQ(data, "");

    start({"--truncate", "7", "--fault-op", "qu"});
    ASSERT_TRUE(UpdateServerRequest::QueryBuild(kHub, build, firmware, url().c_str()));
    EXPECT_EQ(build, "1300");
    EXPECT_EQ(firmware, "keep");
}

// Faults of the transfer and of the HTTP exchange.

TEST_F(UpdateServerRequestTest, StatusOtherThan200FailsEvenWithAnOkBody) {
    start({"--status", "404"});
    std::string build = "keep";
    std::string firmware = "keep";
    EXPECT_FALSE(UpdateServerRequest::ping(url().c_str()));
    EXPECT_FALSE(UpdateServerRequest::QueryBuild(kHub, build, firmware, url().c_str()));
    EXPECT_EQ(build, "keep");
    BuildMap list = {{"1", "stale"}};
    EXPECT_FALSE(UpdateServerRequest::GetBuildList(kHub, list, url().c_str()));
    EXPECT_TRUE(list.empty());
    std::string text = log.text();
    EXPECT_TRUE(contains(text, "PING ==> [404] [ok\n]\n")) << text;
    EXPECT_TRUE(contains(text, "QueryBuild ==> [404] [ok\n1300\nHub-4\n]\n")) << text;

    start({"--status", "201"});
    EXPECT_FALSE(UpdateServerRequest::ping(url().c_str()));
}

TEST_F(UpdateServerRequestTest, FaultsCanBeLimitedToOneOperation) {
    start({"--status", "500", "--fault-op", "qu"});
    std::string build;
    std::string firmware;
    EXPECT_TRUE(UpdateServerRequest::ping(url().c_str()));
    EXPECT_FALSE(UpdateServerRequest::QueryBuild(kHub, build, firmware, url().c_str()));
    BuildMap list;
    EXPECT_TRUE(UpdateServerRequest::GetBuildList(kHub, list, url().c_str()));
}

TEST_F(UpdateServerRequestTest, BadFirstLineFailsAndNamesTheRequest) {
    start({"--bad-first-line"});
    std::string build = "keep";
    std::string firmware = "keep";
    EXPECT_FALSE(UpdateServerRequest::QueryBuild(kHub, build, firmware, url().c_str()));
    EXPECT_EQ(build, "keep");
    EXPECT_TRUE(contains(log.text(),
                         "ServerCommClass: QueryBuild failed [" + url() + "?op=qu&sn=40F5849A&]\n"))
        << log.text();
}

TEST_F(UpdateServerRequestTest, ConnectionCutInTheMiddleOfTheBodyFails) {
    start({"--cut", "20", "--fault-op", "bird"});
    std::string data = "stale";
    EXPECT_FALSE(UpdateServerRequest::GetBuild(kHub, "Hub-4", "1234", data, url().c_str(), false));
    EXPECT_EQ(data, "");
    EXPECT_TRUE(contains(log.text(), "GetBuild ==> [Transferred a partial file]\n")) << log.text();
}

TEST_F(UpdateServerRequestTest, SlowAnswerIsStillAccepted) {
    start({"--delay-ms", "300"});
    EXPECT_TRUE(UpdateServerRequest::ping(url().c_str()));
}
