#include "CurlSafeguards.h"

#include <cstdlib>

namespace {

// A server that does not answer the connection at all, or stops sending in the middle of a
// reply, must end in an error instead of holding the user's command (and the download worker)
// forever.
constexpr long kConnectTimeoutSeconds = 10;
constexpr long kLowSpeedLimitBytesPerSecond = 1;
constexpr long kLowSpeedTimeSeconds = 15;

// The firmware that is written into a module arrives here, so the server must prove who it is.
// A private certificate authority (such as a test one) is trusted the way the curl tool does it:
// through the CURL_CA_BUNDLE environment variable.
CURLcode applyPeerVerification(CURL* curl) {
    const char* bundle = getenv("CURL_CA_BUNDLE");
    if (bundle == nullptr || bundle[0] == '\0') {
        return CURLE_OK;
    }
    return curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
}

CURLcode applyTimeLimits(CURL* curl) {
    CURLcode code = curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    if (code == CURLE_OK) {
        code = curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytesPerSecond);
    }
    if (code == CURLE_OK) {
        code = curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedTimeSeconds);
    }
    // Requests run on a worker thread during a download; time-outs must not use signals there.
    if (code == CURLE_OK) {
        code = curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    }
    return code;
}

// The server is an HTTP(S) endpoint; a URL with any other scheme must not reach files or other
// services.
CURLcode restrictProtocols(CURL* curl) {
#if LIBCURL_VERSION_NUM >= 0x075500
    return curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
#else
    return curl_easy_setopt(curl, CURLOPT_PROTOCOLS,
                            static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
}

}  // namespace

CURLcode ApplyCurlSafeguards(CURL* curl) {
    CURLcode code = applyPeerVerification(curl);
    if (code == CURLE_OK) {
        code = applyTimeLimits(curl);
    }
    if (code == CURLE_OK) {
        code = restrictProtocols(curl);
    }
    return code;
}
