#include "Base64.h"

#include <cstdint>
#include <cstdlib>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kNotInAlphabet = -1;

int sextetOf(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return kNotInAlphabet;
}

bool isTrailingSpace(char c) {
    return c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

// "=" may stand only as the last one or two characters of the text.
size_t paddingOf(const char* text, size_t length) {
    size_t padding = 0;
    while (padding < 2 && padding < length && text[length - 1 - padding] == '=') {
        ++padding;
    }
    return padding;
}

// Decodes one group of four characters into up to three bytes; false on a foreign character.
bool decodeGroup(const char* group, size_t padding, unsigned char* out) {
    uint32_t bits = 0;
    for (size_t i = 0; i < 4; ++i) {
        int sextet = i < 4 - padding ? sextetOf(group[i]) : 0;
        if (sextet == kNotInAlphabet) {
            return false;
        }
        bits = (bits << 6) | static_cast<uint32_t>(sextet);
    }
    unsigned char decoded[3] = {static_cast<unsigned char>(bits >> 16),
                                static_cast<unsigned char>(bits >> 8),
                                static_cast<unsigned char>(bits)};
    for (size_t i = 0; i < 3 - padding; ++i) {
        out[i] = decoded[i];
    }
    return true;
}

}  // namespace

unsigned char* base64_decode(const char* text, size_t length, size_t* outLength) {
    if (text == nullptr && length > 0) {
        return nullptr;
    }
    while (length > 0 && isTrailingSpace(text[length - 1])) {
        --length;
    }
    if (length % 4 != 0) {
        return nullptr;
    }
    size_t padding = paddingOf(text, length);
    size_t size = length / 4 * 3 - padding;
    auto* bytes = static_cast<unsigned char*>(malloc(size + 1));
    if (bytes == nullptr) {
        return nullptr;
    }
    for (size_t group = 0; group < length / 4; ++group) {
        bool last = group + 1 == length / 4;
        if (!decodeGroup(text + group * 4, last ? padding : 0, bytes + group * 3)) {
            free(bytes);
            return nullptr;
        }
    }
    bytes[size] = '\0';
    if (outLength != nullptr) {
        *outLength = size;
    }
    return bytes;
}

char* base64_encode(const unsigned char* bytes, size_t length, size_t* outLength) {
    if ((bytes == nullptr && length > 0) || length > (SIZE_MAX - 1) / 4 * 3 - 2) {
        return nullptr;
    }
    size_t size = (length + 2) / 3 * 4;
    auto* text = static_cast<char*>(malloc(size + 1));
    if (text == nullptr) {
        return nullptr;
    }
    char* out = text;
    for (size_t i = 0; i < length; i += 3) {
        size_t present = length - i < 3 ? length - i : 3;
        uint32_t bits = static_cast<uint32_t>(bytes[i]) << 16;
        if (present > 1) {
            bits |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        }
        if (present > 2) {
            bits |= bytes[i + 2];
        }
        *out++ = kAlphabet[(bits >> 18) & 0x3F];
        *out++ = kAlphabet[(bits >> 12) & 0x3F];
        *out++ = present > 1 ? kAlphabet[(bits >> 6) & 0x3F] : '=';
        *out++ = present > 2 ? kAlphabet[bits & 0x3F] : '=';
    }
    *out = '\0';
    if (outLength != nullptr) {
        *outLength = size;
    }
    return text;
}
