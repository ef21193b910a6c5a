#include "HTTPRequest.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "CurlSafeguards.h"
#include "Log.h"

namespace {

// libcurl delivers the body in pieces, in order; each is appended to the response.
size_t receiveData(char* piece, size_t size, size_t count, void* userData) {
    auto* response = static_cast<HTTPResponse*>(userData);
    size_t length = size * count;
    // The piece is not NUL-terminated; only a bounded copy of its start goes to the log.
    char preview[101];
    size_t shown = std::min(length, sizeof preview - 1);
    memcpy(preview, piece, shown);
    preview[shown] = '\0';
    Log::log(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%100.100s]\n",
             static_cast<int>(size), static_cast<int>(count),
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(response)), preview);
    if (length > HTTPResponse::kMaxBodyBytes - response->get_response().size()) {
        // Returning less than was delivered makes libcurl abort the transfer.
        Log::log(DEBUG_ServerComm, "rcv_data returns %d\n", 0);
        return 0;
    }
    response->process(piece, length);
    Log::log(DEBUG_ServerComm, "rcv_data returns %d\n", static_cast<int>(length));
    return length;
}

class CurlEasy {
  public:
    CurlEasy() : handle_(curl_easy_init()) {
        if (handle_ == nullptr) {
            throw std::runtime_error("Could not create curl instance");
        }
    }
    ~CurlEasy() { curl_easy_cleanup(handle_); }
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;

    CURL* get() const { return handle_; }

  private:
    CURL* handle_;
};

void check(CURLcode code) {
    if (code != CURLE_OK) {
        throw std::runtime_error(curl_easy_strerror(code));
    }
}

void setUp(CURL* curl, HTTPResponse& response) {
    check(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receiveData));
    check(curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response));
    check(curl_easy_setopt(curl, CURLOPT_URL, response.get_request().c_str()));
    check(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L));
    check(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L));
    // Off is libcurl's default, so a TLS backend without OCSP stapling need not refuse it.
    CURLcode status = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYSTATUS, 0L);
    if (status != CURLE_NOT_BUILT_IN) {
        check(status);
    }
    check(ApplyCurlSafeguards(curl));
}

}  // namespace

HTTPResponse HTTPRequest::GET(const char* url, std::map<std::string, std::string>& query) {
    HTTPResponse response(BuildURL(url, query));
    CurlEasy curl;
    setUp(curl.get(), response);
    Log::log(DEBUG_ServerComm, "GET(%s)\n", response.get_request().c_str());
    check(curl_easy_perform(curl.get()));
    long status = 0;
    check(curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status));
    response.set_status(status);
    return response;
}
