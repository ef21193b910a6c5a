// CRC-8/MAXIM (the Dallas/Maxim 1-Wire CRC: reflected polynomial 0x8C, initial value 0, no final
// XOR) that guards each frame of a packetised serial link.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>

ZENDRIVAL_EXPORT uint8_t crc8_update(uint8_t crc, uint8_t byte);
ZENDRIVAL_EXPORT uint8_t crc8_create(const uint8_t* data, size_t length);
ZENDRIVAL_EXPORT bool crc8_check(const uint8_t* data, size_t length, uint8_t expected);
