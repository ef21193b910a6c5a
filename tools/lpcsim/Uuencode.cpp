#include "Uuencode.h"

namespace lpcsim {

namespace {
char sixBits(uint32_t value) {
    value &= 0x3F;
    return value == 0 ? '`' : static_cast<char>(value + 32);
}

uint32_t sixBitsOf(const std::string& line, size_t index) {
    if (index >= line.size()) {
        return 0;
    }
    return (static_cast<uint32_t>(static_cast<unsigned char>(line[index])) - 32) & 0x3F;
}
}  // namespace

std::string uuencodeLine(const uint8_t* data, size_t count) {
    std::string line(1, sixBits(static_cast<uint32_t>(count)));
    for (size_t i = 0; i < count; i += 3) {
        uint32_t group = static_cast<uint32_t>(data[i]) << 16;
        group |= i + 1 < count ? static_cast<uint32_t>(data[i + 1]) << 8 : 0;
        group |= i + 2 < count ? data[i + 2] : 0;
        line += sixBits(group >> 18);
        line += sixBits(group >> 12);
        line += sixBits(group >> 6);
        line += sixBits(group);
    }
    return line;
}

std::vector<uint8_t> uudecodeLine(const std::string& line) {
    std::vector<uint8_t> bytes;
    if (line.empty()) {
        return bytes;
    }
    size_t count = sixBitsOf(line, 0);
    for (size_t at = 1; bytes.size() < count; at += 4) {
        uint32_t group = sixBitsOf(line, at) << 18 | sixBitsOf(line, at + 1) << 12 |
                         sixBitsOf(line, at + 2) << 6 | sixBitsOf(line, at + 3);
        for (int shift = 16; shift >= 0 && bytes.size() < count; shift -= 8) {
            bytes.push_back(static_cast<uint8_t>(group >> shift));
        }
    }
    return bytes;
}

uint32_t byteSum(const std::vector<uint8_t>& bytes) {
    uint32_t sum = 0;
    for (uint8_t byte : bytes) {
        sum += byte;
    }
    return sum;
}

}  // namespace lpcsim
