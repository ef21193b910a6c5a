#include "HTTPRequest.h"

std::string HTTPRequest::BuildURL(const char* url,
                                  const std::map<std::string, std::string>& query) {
    std::string request = url != nullptr ? url : "";
    if (!query.empty()) {
        request += "?";
    }
    for (const auto& [key, value] : query) {
        request += key;
        request += "=";
        request += value;
        request += "&";
    }
    return request;
}
