#include "ServerReplies.h"
#include "UpdateServerRequest.h"

void TakeQueryBuildResult(ReplyLines& lines, std::string& build, std::string& firmware) {
    if (const char* latest = lines.next("\n")) {
        build = latest;
    }
    // The identifier goes back into a query, so no line ending may stay with it.
    if (const char* identifier = lines.next("\r\n")) {
        firmware = identifier;
    }
}

bool UpdateServerRequest::QueryBuild(uint32_t serial, std::string& build, std::string& firmware,
                                     const char* url) {
    auto takeResult = [&](ReplyLines& lines) { TakeQueryBuildResult(lines, build, firmware); };
    return ExchangeWithServer({"QueryBuild", "QueryBuild"}, url,
                              {{"op", "qu"}, {"sn", ServerHex(serial)}}, takeResult);
}
