// The chip's address space as the ISP commands see it: the flash from 0, the local SRAM at
// 0x10000000 (its first 512 bytes belong to the ISP command handler) and the AHB SRAM banks at
// 0x2007C000.
#pragma once

#include <cstdint>
#include <vector>

#include "FlashModel.h"

namespace lpcsim {

class DeviceMemory {
  public:
    explicit DeviceMemory(FlashModel& flash);

    bool isFlash(uint32_t address, uint32_t count) const;
    bool isRam(uint32_t address, uint32_t count) const;
    // RAM that commands may fill or copy from: not the ISP handler's own work area.
    bool isUserRam(uint32_t address, uint32_t count) const;
    bool isMapped(uint32_t address, uint32_t count) const;

    // Both need a mapped range.
    std::vector<uint8_t> read(uint32_t address, uint32_t count) const;
    void writeRam(uint32_t address, const std::vector<uint8_t>& data);

    FlashModel& flash() { return flash_; }

  private:
    uint8_t* ramAt(uint32_t address);
    const uint8_t* ramAt(uint32_t address) const;

    FlashModel& flash_;
    std::vector<uint8_t> localRam_;
    std::vector<uint8_t> ahbRam_;
};

}  // namespace lpcsim
