// The steps every update server request shares: send the query, check the status and the "ok"
// line, hand the remaining lines to the operation, and turn any exception into a false result.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "HTTPResponse.h"

// The reply body cut into lines the way the server's CGI writes them, with strtok_r, so runs of
// delimiters (empty lines) are skipped.
class ReplyLines {
  public:
    explicit ReplyLines(const std::string& body);
    ReplyLines(const ReplyLines&) = delete;
    ReplyLines& operator=(const ReplyLines&) = delete;

    // The next piece up to one of the delimiters, or nullptr when the body is used up.
    char* next(const char* delimiters);
    // The first piece taken (the "ok" line once the reply was accepted), or nullptr.
    const char* first() const { return first_; }

  private:
    std::vector<char> text_;
    char* cursor_;
    char* first_ = nullptr;
    char* save_ = nullptr;
};

struct ServerOperation {
    const char* name;         // in the log lines, e.g. "QueryBuild"
    const char* statusLabel;  // in the status line; ping writes "PING" there
};

// Judges one completed exchange: on status 200 with a first line beginning "ok", calls takeResult
// with the lines after it and returns true; otherwise logs why and returns false. Everything the
// server sent passes through here, so it must hold up against any body.
bool TakeServerReply(const ServerOperation& operation, const HTTPResponse& response,
                     const std::function<void(ReplyLines&)>& takeResult);

// Sends the query to url (the default server for nullptr) and takes the reply as TakeServerReply
// does; a failed transfer (or any exception) is logged and gives false.
bool ExchangeWithServer(const ServerOperation& operation, const char* url,
                        std::map<std::string, std::string> query,
                        const std::function<void(ReplyLines&)>& takeResult);

// "%08X", the form in which serial numbers and fingerprint words travel.
std::string ServerHex(uint32_t value);
