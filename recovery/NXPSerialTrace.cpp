#include "NXPSerialTrace.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

std::string nxpHexText(const void* bytes, size_t length) {
    const uint8_t* data = static_cast<const uint8_t*>(bytes);
    std::string text;
    text.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        char hex[4];
        snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", data[i]);
        text += hex;
    }
    return text;
}

std::string nxpPrintableText(const void* bytes, size_t length) {
    const uint8_t* data = static_cast<const uint8_t*>(bytes);
    std::string text;
    text.reserve(length + 8);
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = data[i];
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c < 0x20 || c > 0x7E) {
            text += '.';
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

std::string nxpPrintableText(const char* text) {
    return text == nullptr ? std::string() : nxpPrintableText(text, strlen(text));
}
