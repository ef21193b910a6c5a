#include "crc8.h"

#include <array>

namespace {

constexpr uint8_t REFLECTED_POLYNOMIAL = 0x8C;

constexpr std::array<uint8_t, 256> makeTable() {
    std::array<uint8_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint8_t crc = static_cast<uint8_t>(value);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<uint8_t>((crc >> 1) ^ REFLECTED_POLYNOMIAL)
                                 : static_cast<uint8_t>(crc >> 1);
        }
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint8_t, 256> TABLE = makeTable();

}  // namespace

uint8_t crc8_update(uint8_t crc, uint8_t byte) {
    return TABLE[crc ^ byte];
}

uint8_t crc8_create(const uint8_t* data, size_t length) {
    uint8_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = crc8_update(crc, data[i]);
    }
    return crc;
}

bool crc8_check(const uint8_t* data, size_t length, uint8_t expected) {
    return crc8_create(data, length) == expected;
}
