// Plain GET requests to the update server through libcurl.
#pragma once

#include <map>
#include <string>

#include "HTTPResponse.h"

class HTTPRequest {
  public:
    // Performs one GET of BuildURL(url, query). A completed exchange is returned whatever its
    // HTTP status; a failure to set up or carry out the transfer throws std::runtime_error with
    // libcurl's text for it.
    static HTTPResponse GET(const char* url, std::map<std::string, std::string>& query);

    // url, then "?" when there is a query, then "key=value&" for every entry in key order. The
    // server's CGI expects the values exactly as given, so nothing is escaped.
    static std::string BuildURL(const char* url, const std::map<std::string, std::string>& query);
};
