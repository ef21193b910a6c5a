// Numbers on the ISP line: plain decimal digits, no sign, no spaces, no prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lpcsim {

// False for an empty text, one longer than maxDigits or one with anything but digits.
inline bool parseDecimal(const std::string& text, size_t maxDigits, uint64_t* value) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    uint64_t parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        parsed = parsed * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = parsed;
    return true;
}

}  // namespace lpcsim
