#include "Sectors.h"

namespace lpcsim {

namespace {
constexpr int kSmallSectors = 16;
constexpr uint32_t kSmallSize = 0x1000;
constexpr uint32_t kLargeBase = 0x10000;
constexpr uint32_t kLargeSize = 0x8000;
}  // namespace

bool isValidSector(uint32_t sector) {
    return sector < static_cast<uint32_t>(kSectorCount);
}

uint32_t sectorStart(int sector) {
    if (sector < kSmallSectors) {
        return static_cast<uint32_t>(sector) * kSmallSize;
    }
    return kLargeBase + static_cast<uint32_t>(sector - kSmallSectors) * kLargeSize;
}

uint32_t sectorSize(int sector) {
    return sector < kSmallSectors ? kSmallSize : kLargeSize;
}

int sectorOf(uint32_t address) {
    if (address >= kFlashSize) {
        return -1;
    }
    if (address < kLargeBase) {
        return static_cast<int>(address / kSmallSize);
    }
    return kSmallSectors + static_cast<int>((address - kLargeBase) / kLargeSize);
}

}  // namespace lpcsim
