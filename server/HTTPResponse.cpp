#include "HTTPResponse.h"

void HTTPResponse::process(const char* bytes, size_t length) {
    if (length > 0) {
        response_.append(bytes, length);
    }
}
