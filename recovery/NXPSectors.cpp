// Flash layout of the LPC17xx and the copy sizes its ROM accepts.
#include "Log.h"
#include "NXPSerialClass.h"

namespace {

constexpr uint32_t kSmallSectorSize = 0x1000;
constexpr uint32_t kLargeSectorSize = 0x8000;
constexpr uint32_t kSmallSectorCount = 16;
constexpr uint32_t kLargeSectorsStart = kSmallSectorCount * kSmallSectorSize;
constexpr uint32_t kCopyLengths[] = {256, 512, 1024, 4096};

constexpr NXPSector sectorEntry(uint32_t number) {
    return number < kSmallSectorCount
               ? NXPSector{number * kSmallSectorSize, kSmallSectorSize, number}
               : NXPSector{kLargeSectorsStart + (number - kSmallSectorCount) * kLargeSectorSize,
                           kLargeSectorSize, number};
}

}  // namespace

const NXPSector NXP_LPC17XX_sectors[NXP_LPC17XX_SECTOR_COUNT + 1] = {
    sectorEntry(0),
    sectorEntry(1),
    sectorEntry(2),
    sectorEntry(3),
    sectorEntry(4),
    sectorEntry(5),
    sectorEntry(6),
    sectorEntry(7),
    sectorEntry(8),
    sectorEntry(9),
    sectorEntry(10),
    sectorEntry(11),
    sectorEntry(12),
    sectorEntry(13),
    sectorEntry(14),
    sectorEntry(15),
    sectorEntry(16),
    sectorEntry(17),
    sectorEntry(18),
    sectorEntry(19),
    sectorEntry(20),
    sectorEntry(21),
    sectorEntry(22),
    sectorEntry(23),
    sectorEntry(24),
    sectorEntry(25),
    sectorEntry(26),
    sectorEntry(27),
    sectorEntry(28),
    sectorEntry(29),
    {0xFFFFFFFF, 0, static_cast<uint32_t>(NXP_LPC17XX_SECTOR_COUNT)},
};

uint32_t NXPSerialClass::SectorFromAddress(uint32_t address) {
    for (size_t i = 0; i < NXP_LPC17XX_SECTOR_COUNT; ++i) {
        const NXPSector& sector = NXP_LPC17XX_sectors[i];
        if (address >= sector.start && address - sector.start < sector.size) {
            return sector.number;
        }
    }
    return NXP_LPC17XX_sectors[NXP_LPC17XX_SECTOR_COUNT].number;
}

uint32_t NXPSerialClass::CopyLength(uint32_t n) {
    for (uint32_t length : kCopyLengths) {
        if (length >= n) {
            return length;
        }
    }
    Log::log(DEBUG_NXPSerial, "Copy length is too large. %d > 4096.\n", static_cast<int>(n));
    return n;
}
