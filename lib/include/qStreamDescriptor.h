// Reading single bytes from a file descriptor for the streams that sit on one (a serial port, the
// kernel driver's node, a ROM bootloader's UART).
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "qStream.h"

#define qDESCRIPTORSTREAM_CHECK 0xDE5C

// Waits up to waitMs for the descriptor to become readable, then takes one byte. Nothing within
// the wait is qErrNotReady, and so is a hang-up (the descriptor reads as empty), after a further
// waitMs so that a reader does not spin on it; a descriptor that fails is qErrIO.
ZENDRIVAL_EXPORT qErr qStreamDescriptor_GetByte(int descriptor, int waitMs, uint8_t* byte);

// A stream that only reads, over a descriptor the caller keeps open and closes itself; its get
// does not wait. Null when memory runs out.
ZENDRIVAL_EXPORT qStream* qStream_CreateDescriptorInput(int descriptor);
