// The four 32-bit words that identify one processor in recovery.
#pragma once

#include <cstdint>

struct Fingerprint {
    uint32_t word[4] = {0, 0, 0, 0};
};

// Stands for a device whose serial number is not known during recovery.
constexpr unsigned UNKNOWN_RECOVERY_SERIAL = 0xDEADDEAD;
