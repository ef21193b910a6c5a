// Reply bodies judged and parsed without a server: the status and "ok" check, and what each
// request takes from the lines after it, including bodies no honest server sends.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "HTTPResponse.h"
#include "ServerReplies.h"
#include "ServerTestSupport.h"

using servertest::LogCapture;

namespace {

using BuildMap = std::map<std::string, std::string>;

const ServerOperation kBuildList = {"GetBuildList", "GetBuildList"};

HTTPResponse reply(long status, const std::string& body) {
    HTTPResponse response("http://127.0.0.1:1/cgi/u?op=builds&sn=0000ABCD&");
    response.set_status(status);
    response.process(body.data(), body.size());
    return response;
}

// Runs the build-list parser on body; builds holds what it took.
bool takeBuildList(long status, const std::string& body, BuildMap& builds) {
    return TakeServerReply(kBuildList, reply(status, body),
                           [&](ReplyLines& lines) { TakeBuildListResult(lines, builds); });
}

TEST(ServerReply, AcceptsOnlyStatus200WithAFirstLineBeginningOk) {
    LogCapture log;
    BuildMap builds;
    EXPECT_TRUE(takeBuildList(200, "ok\n1;1.0.0\n", builds));
    EXPECT_TRUE(takeBuildList(200, "okay\n", builds));
    EXPECT_FALSE(takeBuildList(404, "ok\n1;1.0.0\n", builds));
    EXPECT_FALSE(takeBuildList(200, "o\nk\n", builds));
    EXPECT_FALSE(takeBuildList(200, "", builds));
    EXPECT_FALSE(takeBuildList(200, "\n\n", builds));
    EXPECT_NE(log.text().find("GetBuildList ==> [404] [ok\n1;1.0.0\n]"), std::string::npos);
    EXPECT_NE(log.text().find("ServerCommClass: GetBuildList failed [http://127.0.0.1:1/cgi/u?"),
              std::string::npos);
}

TEST(ServerReply, EmptyLinesBeforeTheOkLineAreSkipped) {
    BuildMap builds;
    EXPECT_TRUE(takeBuildList(200, "\n\nok\n5;0.0.5\n", builds));
    EXPECT_EQ(builds, (BuildMap{{"5", "0.0.5"}}));
}

TEST(ServerReply, RefusedReplyLeavesTheOutputsAlone) {
    BuildMap builds = {{"1", "old"}};
    EXPECT_FALSE(takeBuildList(500, "ok\n2;2.0.0\n", builds));
    EXPECT_FALSE(takeBuildList(200, "error\n2;2.0.0\n", builds));
    EXPECT_EQ(builds, (BuildMap{{"1", "old"}}));
}

TEST(ServerReply, BuildListTakesEntriesSkipsShortLinesAndKeepsFirstVersions) {
    BuildMap builds;
    ASSERT_TRUE(takeBuildList(
        200, "ok\n1234;1.2.3\nx\n1300;1.10.0\r\n1250\n;;\n1234;9.9.9\n77;\n88;;1.0.0\n", builds));
    EXPECT_EQ(
        builds,
        (BuildMap{
            {"1234", "1.2.3"}, {"1300", "1.10.0"}, {"1250", ""}, {"77", ""}, {"88", "1.0.0"}}));
}

TEST(ServerReply, BodyEndsAtTheFirstNulByte) {
    BuildMap builds;
    ASSERT_TRUE(takeBuildList(
        200, std::string("ok\n12;1.0.0\n13;1.3", 18) + '\0' + "4.0\n14;2.0.0\n", builds));
    EXPECT_EQ(builds, (BuildMap{{"12", "1.0.0"}, {"13", "1.3"}}));
}

TEST(ServerReply, QueryBuildCutsTheIdentifierAtTheLineEnd) {
    std::string build = "unset";
    std::string firmware = "unset";
    ASSERT_TRUE(
        TakeServerReply({"QueryBuild", "QueryBuild"}, reply(200, "ok\n1300\nHub-4\r\n"),
                        [&](ReplyLines& lines) { TakeQueryBuildResult(lines, build, firmware); }));
    EXPECT_EQ(build, "1300");
    EXPECT_EQ(firmware, "Hub-4");
}

TEST(ServerReply, MissingLinesLeaveTheirOutputsAlone) {
    std::string build = "unset";
    std::string firmware = "unset";
    ASSERT_TRUE(
        TakeServerReply({"QueryBuild", "QueryBuild"}, reply(200, "ok\n1300"),
                        [&](ReplyLines& lines) { TakeQueryBuildResult(lines, build, firmware); }));
    EXPECT_EQ(build, "1300");
    EXPECT_EQ(firmware, "unset");
    std::string data = "unset";
    ASSERT_TRUE(TakeServerReply({"GetBuild", "GetBuild"}, reply(200, "ok\n"),
                                [&](ReplyLines& lines) { TakeBuildResult(lines, data); }));
    EXPECT_EQ(data, "unset");
}

TEST(ServerReply, RecoveryInfoReadsAHexSerialAndABuildInAnyBase) {
    auto take = [](const std::string& body, uint32_t* serial, uint32_t* build) {
        return TakeServerReply(
            {"GetRecoveryInfo", "GetRecoveryInfo"}, reply(200, body),
            [&](ReplyLines& lines) { TakeRecoveryInfoResult(lines, serial, build); });
    };
    uint32_t serial = 0;
    uint32_t build = 0;
    ASSERT_TRUE(take("ok\n40F5849A\n0x10\n", &serial, &build));
    EXPECT_EQ(serial, 0x40F5849Au);
    EXPECT_EQ(build, 16u);
    ASSERT_TRUE(take("ok\n0000abcd\n010\n", &serial, &build));
    EXPECT_EQ(serial, 0xABCDu);
    EXPECT_EQ(build, 8u);
    serial = 7;
    build = 9;
    ASSERT_TRUE(take("ok\n", &serial, &build));
    EXPECT_EQ(serial, 7u);
    EXPECT_EQ(build, 9u);
    EXPECT_TRUE(take("ok\n1\n2\n", nullptr, nullptr));
}

}  // namespace
