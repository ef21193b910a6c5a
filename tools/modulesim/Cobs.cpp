#include "Cobs.h"

namespace modulesim {

namespace {

constexpr uint8_t kFullRunCode = 0xFF;

}  // namespace

std::vector<uint8_t> cobsEncode(const uint8_t* bytes, size_t count) {
    std::vector<uint8_t> encoded;
    encoded.reserve(count + count / 254 + 1);
    size_t codeAt = 0;
    encoded.push_back(0);  // the first code byte, filled in when its run ends
    uint8_t code = 1;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) {
            encoded.push_back(bytes[i]);
            ++code;
        }
        if (bytes[i] == 0 || code == kFullRunCode) {
            encoded[codeAt] = code;
            code = 1;
            // A full run that ends the input needs no empty run after it.
            if (bytes[i] == 0 || i + 1 < count) {
                codeAt = encoded.size();
                encoded.push_back(0);
            } else {
                return encoded;
            }
        }
    }
    encoded[codeAt] = code;
    return encoded;
}

bool cobsDecode(const uint8_t* bytes, size_t count, std::vector<uint8_t>& decoded) {
    decoded.clear();
    size_t at = 0;
    while (at < count) {
        uint8_t code = bytes[at];
        if (code == 0 || at + code > count) {
            return false;
        }
        decoded.insert(decoded.end(), bytes + at + 1, bytes + at + code);
        at += code;
        // A short run stands for its bytes and a zero, except at the very end.
        if (code != kFullRunCode && at < count) {
            decoded.push_back(0);
        }
    }
    return true;
}

}  // namespace modulesim
