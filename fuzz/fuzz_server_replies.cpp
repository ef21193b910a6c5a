// Fuzzes the update server client's reply handling: the first byte picks the request and the HTTP
// status, the rest is the body as libcurl would deliver it. The body goes through the status and
// "ok" check and the request's own line parsing, then on as the program uses it: a build's text
// through base64_decode, a build list through the version order. The diagnostic log is on (into
// /dev/null) so that its formats see the hostile lines too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "Base64.h"
#include "HTTPResponse.h"
#include "Log.h"
#include "ServerReplies.h"
#include "UpdateServerRequest.h"
#include "FuzzSupport.h"

namespace {

enum Request { kPing, kQueryBuild, kGetBuild, kGetBuildList, kGetRecoveryInfo, kRequestCount };

const char* const kUntouched = "untouched";
constexpr uint32_t kUntouchedNumber = 0xA5A5A5A5;

// Mostly 200, so that the parsing behind the status check gets most of the inputs.
long statusFor(uint8_t selector) {
    return (selector & 0x80) != 0 ? 100 + (selector & 0x70) * 5 + (selector & 0x08) : 200;
}

// What the client must accept: status 200 and a first non-empty line (up to any NUL, as the
// reply is read as a C string) that begins with "ok".
bool acceptable(long status, const std::string& body) {
    std::string text(body.c_str());
    size_t first = text.find_first_not_of('\n');
    return status == 200 && first != std::string::npos && text.compare(first, 2, "ok") == 0;
}

bool hasAnyOf(const std::string& text, const char* characters) {
    return text.find_first_of(characters) != std::string::npos;
}

// (valid, major, minor, patch) as the order compares them: 8 bits each, unreadable lowest.
std::tuple<bool, uint8_t, uint8_t, uint8_t> rankOf(const std::string& version) {
    std::vector<std::string> parts = UpdateServerRequest::SplitZendrivalVersion(version);
    if (parts.size() != 3) {
        return {false, 0, 0, 0};
    }
    try {
        return {true, static_cast<uint8_t>(std::stoi(parts[0])),
                static_cast<uint8_t>(std::stoi(parts[1])),
                static_cast<uint8_t>(std::stoi(parts[2]))};
    } catch (const std::exception&) {
        return {false, 0, 0, 0};
    }
}

void checkOrder(const std::map<std::string, std::string>& builds) {
    std::vector<UpdateServerRequest::BuildVersion> sorted =
        UpdateServerRequest::SortBuildsByVersion(builds);
    check(sorted.size() == builds.size());
    for (size_t i = 0; i < sorted.size(); ++i) {
        auto found = builds.find(sorted[i].first);
        check(found != builds.end() && found->second == sorted[i].second);
        check(i == 0 || sorted[i - 1].first != sorted[i].first);
        check(i == 0 || !(rankOf(sorted[i - 1].second) < rankOf(sorted[i].second)));
    }
}

bool takeQueryBuild(const HTTPResponse& response) {
    std::string build = kUntouched;
    std::string firmware = kUntouched;
    bool accepted = TakeServerReply({"QueryBuild", "QueryBuild"}, response, [&](ReplyLines& lines) {
        TakeQueryBuildResult(lines, build, firmware);
    });
    check(accepted || (build == kUntouched && firmware == kUntouched));
    // The identifier goes back into the next query, so no line end may come with it.
    check(!hasAnyOf(build, "\n") && !hasAnyOf(firmware, "\r\n"));
    return accepted;
}

bool takeBuild(const HTTPResponse& response) {
    std::string data = kUntouched;
    bool accepted = TakeServerReply({"GetBuild", "GetBuild"}, response,
                                    [&](ReplyLines& lines) { TakeBuildResult(lines, data); });
    check(accepted || data == kUntouched);
    check(!hasAnyOf(data, "\n"));
    size_t decodedLength = 0;
    unsigned char* decoded = base64_decode(data.data(), data.size(), &decodedLength);
    check(decoded == nullptr || decodedLength <= data.size() / 4 * 3);
    free(decoded);
    return accepted;
}

bool takeBuildList(const HTTPResponse& response) {
    std::map<std::string, std::string> builds;
    bool accepted = TakeServerReply({"GetBuildList", "GetBuildList"}, response,
                                    [&](ReplyLines& lines) { TakeBuildListResult(lines, builds); });
    check(accepted || builds.empty());
    for (const auto& [build, version] : builds) {
        check(!build.empty() && !hasAnyOf(build, ";\r\n") && !hasAnyOf(version, ";\r\n"));
    }
    checkOrder(builds);
    return accepted;
}

bool takeRecoveryInfo(const HTTPResponse& response) {
    uint32_t serial = kUntouchedNumber;
    uint32_t build = kUntouchedNumber;
    bool accepted =
        TakeServerReply({"GetRecoveryInfo", "GetRecoveryInfo"}, response,
                        [&](ReplyLines& lines) { TakeRecoveryInfoResult(lines, &serial, &build); });
    check(accepted || (serial == kUntouchedNumber && build == kUntouchedNumber));
    return accepted;
}

bool take(Request request, const HTTPResponse& response) {
    switch (request) {
        case kQueryBuild:
            return takeQueryBuild(response);
        case kGetBuild:
            return takeBuild(response);
        case kGetBuildList:
            return takeBuildList(response);
        case kGetRecoveryInfo:
            return takeRecoveryInfo(response);
        default:
            return TakeServerReply({"ping", "PING"}, response, [](ReplyLines&) {});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    logIntoNothing(DEBUG_ServerComm);
    auto request = static_cast<Request>((data[0] & 0x07) % kRequestCount);
    HTTPResponse response("http://127.0.0.1/cgi/u?op=fuzz&");
    response.set_status(statusFor(data[0]));
    response.process(reinterpret_cast<const char*>(data + 1), size - 1);
    bool accepted = take(request, response);
    check(accepted == acceptable(response.get_status(), response.get_response()));
    return 0;
}
