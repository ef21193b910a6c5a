#include "Base64Text.h"

#include <cstdint>

std::string Base64Text(const std::string& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        size_t present = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k) {
            uint32_t byte = k < present ? static_cast<unsigned char>(bytes[i + k]) : 0;
            group = (group << 8) | byte;
        }
        for (size_t k = 0; k < 4; ++k) {
            text += k <= present ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return text;
}
