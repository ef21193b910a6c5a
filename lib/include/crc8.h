// CRC-8/MAXIM (the Dallas/Maxim 1-Wire CRC: reflected polynomial 0x8C, initial value 0, no final
// XOR) that guards each frame of a packetised serial link.
#pragma once

#include <cstddef>
#include <cstdint>

uint8_t crc8_update(uint8_t crc, uint8_t byte);
uint8_t crc8_create(const uint8_t* data, size_t length);
bool crc8_check(const uint8_t* data, size_t length, uint8_t expected);
