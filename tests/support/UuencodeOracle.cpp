#include "UuencodeOracle.h"

namespace zvtest {

namespace {

char sixBits(uint32_t value) {
    value &= 0x3F;
    return value ? static_cast<char>(value + 32) : '`';
}

}  // namespace

std::string uuLine(const uint8_t* data, size_t count) {
    std::string text(1, sixBits(static_cast<uint32_t>(count)));
    for (size_t i = 0; i < count; i += 3) {
        uint32_t a = data[i];
        uint32_t b = i + 1 < count ? data[i + 1] : 0;
        uint32_t c = i + 2 < count ? data[i + 2] : 0;
        text += sixBits(a >> 2);
        text += sixBits((a << 4) | (b >> 4));
        text += sixBits((b << 2) | (c >> 6));
        text += sixBits(c);
    }
    return text;
}

std::vector<uint8_t> uuDecode(const std::string& line) {
    std::vector<uint8_t> out;
    if (line.empty()) {
        return out;
    }
    auto value = [&line](size_t i) -> uint32_t {
        return i < line.size() ? (static_cast<uint8_t>(line[i]) - 32) & 0x3F : 0;
    };
    size_t count = value(0);
    for (size_t i = 1; out.size() < count; i += 4) {
        uint8_t group[3] = {static_cast<uint8_t>(value(i) << 2 | value(i + 1) >> 4),
                            static_cast<uint8_t>(value(i + 1) << 4 | value(i + 2) >> 2),
                            static_cast<uint8_t>(value(i + 2) << 6 | value(i + 3))};
        for (size_t k = 0; k < 3 && out.size() < count; ++k) {
            out.push_back(group[k]);
        }
    }
    return out;
}

}  // namespace zvtest
