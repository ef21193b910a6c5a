// The CRC-8 that closes every frame on a module's packetised serial line: the Dallas/Maxim
// 1-Wire CRC (polynomial 0x31 reflected, 0x8C; start 0; no final XOR).
#pragma once

#include <cstddef>
#include <cstdint>

namespace modulesim {

uint8_t crc8(const uint8_t* bytes, size_t count);

}  // namespace modulesim
