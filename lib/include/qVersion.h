// Packed version numbers and the library's own version and feature list.
//
// A packed version is 32 bits in one of two layouts:
//   current: 0x2F, major, minor, patch (one byte each)
//   legacy:  major in bits 31-28, minor in bits 27-24, patch in bits 23-0
// Every value whose top byte is below 0x2F is legacy.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>

#include "qError.h"

#define qVERSION_MAJOR 2
#define qVERSION_MINOR 12
#define qVERSION_PATCH 2
#define qVERSION_PHASE "."
#define qVERSION_STRING_SIZE 15
#define qVERSION_CURRENT_TAG 0x2F

// Legacy layout for versions up to 2.14 that fit it, the current layout otherwise.
ZENDRIVAL_EXPORT uint32_t qVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch);
ZENDRIVAL_EXPORT bool qVersion_IsLegacyFormat(uint32_t packed);
ZENDRIVAL_EXPORT uint8_t qVersion_ParseMajor(uint32_t packed);
ZENDRIVAL_EXPORT uint8_t qVersion_ParseMinor(uint32_t packed);
// Up to 24 bits in the legacy layout.
ZENDRIVAL_EXPORT uint32_t qVersion_ParsePatch(uint32_t packed);
// "major.minor.patch" with snprintf semantics: returns the length the full text needs.
ZENDRIVAL_EXPORT int qVersion_ParseString(uint32_t packed, char* buffer, size_t size);

ZENDRIVAL_EXPORT int qVersion_GetMajor();
ZENDRIVAL_EXPORT int qVersion_GetMinor();
ZENDRIVAL_EXPORT int qVersion_GetPatch();
// The library version text, "2.12.2"; built once, safe to call from any thread.
ZENDRIVAL_EXPORT const char* qVersion_GetString();

// True when version a is at least version b, comparing major, then minor, then patch as 8-bit
// values.
ZENDRIVAL_EXPORT bool qVersion_IsAtLeastCompare(uint8_t aMajor, uint8_t aMinor, uint8_t aPatch,
                                                uint8_t bMajor, uint8_t bMinor, uint8_t bPatch);
// True when this library is at least the given version.
ZENDRIVAL_EXPORT bool qVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);

// True when name is exactly the name of a feature of this library ("VERSION").
ZENDRIVAL_EXPORT bool qVersion_HasFeature(const char* name);
// A new text with one line per feature, "NAME - Description\n"; null when memory runs out.
// Release it with qVersion_DestroyFeatureList.
ZENDRIVAL_EXPORT char* qVersion_GetFeatureList();
// Frees the list and clears the caller's pointer; qErrParam for a null pointer or list.
ZENDRIVAL_EXPORT qErr qVersion_DestroyFeatureList(char** list);
