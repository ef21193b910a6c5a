#include "DeviceMemory.h"

#include <cstring>

namespace lpcsim {

namespace {
constexpr uint32_t kLocalRamBase = 0x10000000;
constexpr uint32_t kLocalRamSize = 0x8000;
constexpr uint32_t kIspWorkArea = 0x200;
constexpr uint32_t kAhbRamBase = 0x2007C000;
constexpr uint32_t kAhbRamSize = 0x8000;

bool within(uint32_t address, uint32_t count, uint32_t base, uint32_t size) {
    uint64_t end = static_cast<uint64_t>(address) + count;
    return address >= base && end <= static_cast<uint64_t>(base) + size;
}
}  // namespace

DeviceMemory::DeviceMemory(FlashModel& flash)
    : flash_(flash), localRam_(kLocalRamSize, 0), ahbRam_(kAhbRamSize, 0) {}

bool DeviceMemory::isFlash(uint32_t address, uint32_t count) const {
    return within(address, count, 0, kFlashSize);
}

bool DeviceMemory::isRam(uint32_t address, uint32_t count) const {
    return within(address, count, kLocalRamBase, kLocalRamSize) ||
           within(address, count, kAhbRamBase, kAhbRamSize);
}

bool DeviceMemory::isUserRam(uint32_t address, uint32_t count) const {
    return within(address, count, kLocalRamBase + kIspWorkArea, kLocalRamSize - kIspWorkArea) ||
           within(address, count, kAhbRamBase, kAhbRamSize);
}

bool DeviceMemory::isMapped(uint32_t address, uint32_t count) const {
    return isFlash(address, count) || isRam(address, count);
}

std::vector<uint8_t> DeviceMemory::read(uint32_t address, uint32_t count) const {
    const uint8_t* from =
        isFlash(address, count) ? flash_.bytes().data() + address : ramAt(address);
    return std::vector<uint8_t>(from, from + count);
}

void DeviceMemory::writeRam(uint32_t address, const std::vector<uint8_t>& data) {
    if (!data.empty()) {
        std::memcpy(ramAt(address), data.data(), data.size());
    }
}

uint8_t* DeviceMemory::ramAt(uint32_t address) {
    return const_cast<uint8_t*>(static_cast<const DeviceMemory*>(this)->ramAt(address));
}

const uint8_t* DeviceMemory::ramAt(uint32_t address) const {
    if (address >= kAhbRamBase) {
        return ahbRam_.data() + (address - kAhbRamBase);
    }
    return localRam_.data() + (address - kLocalRamBase);
}

}  // namespace lpcsim
