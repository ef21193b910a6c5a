// Byte stream to a module over USB, through the kernel driver node when the module maker's
// driver is installed, else through libusb.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "qStream.h"

#define qUSBSTREAM_CHECK 0xDEAD

// qErrParam for serial number 0 or a null result pointer, qErrMemory when memory runs out,
// qErrResource when the device layer cannot start, otherwise the open's own result (qErrNotFound
// when no module has that serial number).
ZENDRIVAL_EXPORT qErr qStream_CreateUSB(uint32_t serialNumber, qStream** stream);
