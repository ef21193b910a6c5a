#include "Crc8.h"

#include <array>

namespace modulesim {

namespace {

constexpr uint8_t kReflectedPolynomial = 0x8C;

std::array<uint8_t, 256> makeTable() {
    std::array<uint8_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint8_t crc = static_cast<uint8_t>(value);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint8_t>((crc & 1) ? (crc >> 1) ^ kReflectedPolynomial : crc >> 1);
        }
        table[value] = crc;
    }
    return table;
}

}  // namespace

uint8_t crc8(const uint8_t* bytes, size_t count) {
    static const std::array<uint8_t, 256> table = makeTable();
    uint8_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc = table[crc ^ bytes[i]];
    }
    return crc;
}

}  // namespace modulesim
