// The LPC17xx flash layout (512 KB parts): sixteen 4 KB sectors from 0, then fourteen 32 KB
// sectors from 0x10000.
#pragma once

#include <cstdint>

namespace lpcsim {

constexpr uint32_t kFlashSize = 0x80000;
constexpr int kSectorCount = 30;

bool isValidSector(uint32_t sector);
uint32_t sectorStart(int sector);
uint32_t sectorSize(int sector);
// The sector holding a flash address, or -1 outside the flash.
int sectorOf(uint32_t address);

}  // namespace lpcsim
