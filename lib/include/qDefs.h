// Names of the module models, keyed by the model number byte a module reports (the low byte of a
// USB module's product id).
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

// Short product name of a model, at most 12 characters; "Unknown" for a number not in the table.
// No name is the beginning of another, because firmware files are matched by name prefix.
ZENDRIVAL_EXPORT const char* qDefs_GetModelName(uint8_t model);
