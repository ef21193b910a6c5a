#include <cstdlib>

#include "Log.h"
#include "ServerReplies.h"
#include "UpdateServerRequest.h"

namespace {

// The four words separated by blanks, already escaped as "%20" because the query is sent as is.
std::string fingerprintText(const uint32_t fingerprint[4]) {
    std::string text;
    for (int word = 0; word < 4; ++word) {
        if (word > 0) {
            text += "%20";
        }
        text += ServerHex(fingerprint[word]);
    }
    return text;
}

const char* orEmpty(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

void TakeRecoveryInfoResult(ReplyLines& lines, uint32_t* serial, uint32_t* build) {
    const char* serialLine = lines.next("\n");
    const char* buildLine = lines.next("\n");
    Log::log(DEBUG_ServerComm, "%s [%.20s][%.20s][%.20s]\n", "GetRecoveryInfo",
             orEmpty(lines.first()), orEmpty(serialLine), orEmpty(buildLine));
    if (serialLine != nullptr && serial != nullptr) {
        *serial = static_cast<uint32_t>(strtoul(serialLine, nullptr, 16));
    }
    // The build may come as decimal, "0x" hexadecimal or leading-zero octal.
    if (buildLine != nullptr && build != nullptr) {
        *build = static_cast<uint32_t>(strtoul(buildLine, nullptr, 0));
    }
}

bool UpdateServerRequest::GetRecoveryInfo(const uint32_t fingerprint[4], uint32_t* serial,
                                          uint32_t* build, const char* url) {
    std::map<std::string, std::string> query = {
        {"op", "fix"}, {"fp", fingerprintText(fingerprint)}, {"brief", "true"}};
    auto takeResult = [&](ReplyLines& lines) { TakeRecoveryInfoResult(lines, serial, build); };
    return ExchangeWithServer({"GetRecoveryInfo", "GetRecoveryInfo"}, url, std::move(query),
                              takeResult);
}
