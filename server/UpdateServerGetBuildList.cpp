#include <cstring>

#include "Log.h"
#include "ServerReplies.h"
#include "UpdateServerRequest.h"

namespace {

// One "build;version" line; the version may be missing. Lines too short to hold a build and
// its separator are not entries.
void takeEntry(char* line, std::map<std::string, std::string>& builds) {
    Log::log(DEBUG_ServerComm, "%s processing entry: [%s]\n", "GetBuildList", line);
    if (strlen(line) < 3) {
        return;
    }
    char* save = nullptr;
    const char* build = strtok_r(line, ";\r\n", &save);
    if (build == nullptr) {
        return;
    }
    const char* version = strtok_r(nullptr, ";\r\n", &save);
    if (version == nullptr) {
        version = "";
    }
    Log::log(DEBUG_ServerComm, "%s [%.10s][%.10s]\n", "GetBuildList", build, version);
    builds.emplace(build, version);
}

}  // namespace

void TakeBuildListResult(ReplyLines& lines, std::map<std::string, std::string>& builds) {
    while (char* line = lines.next("\n")) {
        takeEntry(line, builds);
    }
}

bool UpdateServerRequest::GetBuildList(uint32_t serial, std::map<std::string, std::string>& builds,
                                       const char* url) {
    builds.clear();
    auto takeResult = [&](ReplyLines& lines) { TakeBuildListResult(lines, builds); };
    return ExchangeWithServer({"GetBuildList", "GetBuildList"}, url,
                              {{"op", "builds"}, {"sn", ServerHex(serial)}}, takeResult);
}
