// One module found by discovery, with what could be read from it.
#pragma once

#include <cstdint>
#include <string>

#include "qLinkSpec.h"

struct DeviceInfo {
    linkSpec specifier{};
    uint16_t scannedAddress = 0;  // bus address found by the router search, 0 for direct discovery
    uint32_t build = 0;
    uint8_t major = 0;
    uint8_t minor = 0;
    uint32_t patch = 0;
    std::string modelName;
    std::string deviceName;
    uint32_t error = 0;  // qErr of the last step that failed while reading the module
};
