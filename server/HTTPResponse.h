// One completed exchange with the update server: the URL as sent, the HTTP status and the body.
#pragma once

#include <cstddef>
#include <string>

class HTTPResponse {
  public:
    // A reply larger than this is refused while it arrives: no build or list the server offers
    // comes near it, and a broken or hostile server must not be able to fill the memory.
    static constexpr size_t kMaxBodyBytes = 32u * 1024u * 1024u;

    HTTPResponse() = default;
    explicit HTTPResponse(std::string request) : request_(std::move(request)) {}

    const std::string& get_request() const { return request_; }
    long get_status() const { return status_; }
    const std::string& get_response() const { return response_; }
    void set_status(long status) { status_ = status; }
    // Appends one received piece to the body.
    void process(const char* bytes, size_t length);

  private:
    std::string request_;
    long status_ = 0;
    std::string response_;
};
