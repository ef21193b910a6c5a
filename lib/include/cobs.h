// Consistent Overhead Byte Stuffing: a frame without zero bytes, so that a single zero can end it
// on a serial line. Runs of at most 254 non-zero bytes; a code byte of 255 marks a full run.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>

// dst needs room for length + length / 254 + 1 bytes; returns the encoded length.
ZENDRIVAL_EXPORT size_t cobs_encode(const uint8_t* src, size_t length, uint8_t* dst);
// The same within buffer, which needs that room past its length.
ZENDRIVAL_EXPORT size_t cobs_encode_inplace(uint8_t* buffer, size_t length);
// dst needs room for length bytes; returns the decoded length, 0 for a malformed input (a zero
// byte, or a code byte that points beyond the input).
ZENDRIVAL_EXPORT size_t cobs_decode(const uint8_t* src, size_t length, uint8_t* dst);
ZENDRIVAL_EXPORT size_t cobs_decode_inplace(uint8_t* buffer, size_t length);
