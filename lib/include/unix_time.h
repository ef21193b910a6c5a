// Portable time functions of the device library.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

// Wall-clock milliseconds since the epoch; 0 when the clock cannot be read. The all-ones value is
// reserved and also reported as 0.
ZENDRIVAL_EXPORT uint64_t qTime_GetMSTicks();
// Sleeps for ms milliseconds, resuming after signals.
ZENDRIVAL_EXPORT void qTime_MSSleep(uint32_t ms);
