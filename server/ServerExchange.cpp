#include "ServerExchange.h"

#include <cstdio>
#include <cstring>
#include <exception>

#include "DefaultServer.h"
#include "HTTPRequest.h"
#include "Log.h"

ReplyLines::ReplyLines(const std::string& body) : text_(body.begin(), body.end()) {
    text_.push_back('\0');
    cursor_ = text_.data();
}

char* ReplyLines::next(const char* delimiters) {
    char* piece = strtok_r(cursor_, delimiters, &save_);
    if (cursor_ != nullptr) {
        first_ = piece;
        cursor_ = nullptr;
    }
    return piece;
}

std::string ServerHex(uint32_t value) {
    char text[9];
    snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

namespace {

bool acceptReply(const ServerOperation& operation, const HTTPResponse& response,
                 ReplyLines& lines) {
    if (response.get_status() != 200) {
        Log::log(DEBUG_ServerComm, "%s ==> [%ld] [%s]\n", operation.statusLabel,
                 response.get_status(), response.get_response().c_str());
        return false;
    }
    const char* first = lines.next("\n");
    if (first == nullptr || strncmp(first, "ok", 2) != 0) {
        Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", operation.name,
                 response.get_request().c_str());
        return false;
    }
    return true;
}

}  // namespace

bool TakeServerReply(const ServerOperation& operation, const HTTPResponse& response,
                     const std::function<void(ReplyLines&)>& takeResult) {
    ReplyLines lines(response.get_response());
    if (!acceptReply(operation, response, lines)) {
        return false;
    }
    takeResult(lines);
    return true;
}

bool ExchangeWithServer(const ServerOperation& operation, const char* url,
                        std::map<std::string, std::string> query,
                        const std::function<void(ReplyLines&)>& takeResult) {
    try {
        HTTPResponse response =
            HTTPRequest::GET(url != nullptr ? url : UPDATE_SERVER_HTTP_URL, query);
        return TakeServerReply(operation, response, takeResult);
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", operation.name, e.what());
        return false;
    }
}
