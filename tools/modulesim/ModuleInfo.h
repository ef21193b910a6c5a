// Module information (command 73): build number, which UEIs the module has, and how many
// entities of each class it carries.
#pragma once

#include <cstdint>

#include "Outcome.h"

namespace modulesim {

struct ModuleFacts {
    uint32_t build = 0;
    bool loaderTakesUeiData = false;  // the upgrade loader accepts a block as one byte sequence
};

void handleModuleInfo(const Packet& request, uint8_t address, const ModuleFacts& facts,
                      Outcome& outcome);

// 0 when the module has the UEI (command, option, index) with the access flags asks for (0x40
// get, 0x80 set, 0 either), else the error code a request for it would get.
uint8_t ueiAvailability(uint8_t command, uint8_t option, uint8_t index, uint8_t flags,
                        const ModuleFacts& facts);

}  // namespace modulesim
