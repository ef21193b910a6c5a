#include "ServerReplies.h"
#include "UpdateServerRequest.h"

void TakeBuildResult(ReplyLines& lines, std::string& data) {
    if (const char* encoded = lines.next("\n")) {
        data = encoded;
    }
}

bool UpdateServerRequest::GetBuild(uint32_t serial, const char* firmware, const char* build,
                                   std::string& data, const char* url, bool noCal) {
    data.clear();
    std::map<std::string, std::string> query = {
        {"op", "bird"},
        {"sn", ServerHex(serial)},
        {"fw", firmware != nullptr ? firmware : ""},
        {"bld", build != nullptr ? build : ""},
        {"no_cal", noCal ? "true" : "false"},
    };
    auto takeResult = [&](ReplyLines& lines) { TakeBuildResult(lines, data); };
    return ExchangeWithServer({"GetBuild", "GetBuild"}, url, std::move(query), takeResult);
}
