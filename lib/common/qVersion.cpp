#include "qVersion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Feature {
    const char* name;
    const char* description;
};

constexpr Feature kFeatures[] = {
    {"VERSION", "Version Query API"},
};

constexpr const char* kFeatureSeparator = " - ";

// The legacy layout holds a 4-bit minor, and a 2.15 would collide with the current layout's tag.
bool fitsLegacyLayout(uint8_t major, uint8_t minor) {
    return major < 2 ? minor <= 15 : major == 2 && minor <= 14;
}

size_t featureListSize() {
    size_t size = 1;
    for (const Feature& feature : kFeatures) {
        size += strlen(feature.name) + strlen(kFeatureSeparator) + strlen(feature.description);
    }
    return size;
}

}  // namespace

// Versions whose minor does not fit the legacy nibble take the current layout too, so that
// packing never silently changes a version.
uint32_t qVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch) {
    if (!fitsLegacyLayout(major, minor)) {
        return (uint32_t{qVERSION_CURRENT_TAG} << 24) | (uint32_t{major} << 16) |
               (uint32_t{minor} << 8) | patch;
    }
    return (uint32_t{major} << 28) | (uint32_t{minor & 0x0Fu} << 24) | patch;
}

bool qVersion_IsLegacyFormat(uint32_t packed) {
    const uint8_t topNibble = packed >> 28;
    const uint8_t nextNibble = (packed >> 24) & 0x0F;
    return qVersion_IsAtLeastCompare(2, 15, 0, topNibble, nextNibble, 255);
}

uint8_t qVersion_ParseMajor(uint32_t packed) {
    return qVersion_IsLegacyFormat(packed) ? packed >> 28 : (packed >> 16) & 0xFF;
}

uint8_t qVersion_ParseMinor(uint32_t packed) {
    return qVersion_IsLegacyFormat(packed) ? (packed >> 24) & 0x0F : (packed >> 8) & 0xFF;
}

uint32_t qVersion_ParsePatch(uint32_t packed) {
    return qVersion_IsLegacyFormat(packed) ? packed & 0x00FFFFFF : packed & 0xFF;
}

int qVersion_ParseString(uint32_t packed, char* buffer, size_t size) {
    if (buffer == nullptr) {
        size = 0;  // still reports the length the text needs
    }
    return snprintf(buffer, size, "%d.%d.%d", qVersion_ParseMajor(packed),
                    qVersion_ParseMinor(packed), static_cast<int>(qVersion_ParsePatch(packed)));
}

int qVersion_GetMajor() {
    return qVERSION_MAJOR;
}

int qVersion_GetMinor() {
    return qVERSION_MINOR;
}

int qVersion_GetPatch() {
    return qVERSION_PATCH;
}

const char* qVersion_GetString() {
    struct CachedText {
        char text[qVERSION_STRING_SIZE];
        CachedText() {
            snprintf(text, sizeof text, "%d.%d%s%d", qVERSION_MAJOR, qVERSION_MINOR, qVERSION_PHASE,
                     qVERSION_PATCH);
        }
    };
    // Initialisation of a local static is thread-safe and happens once.
    static const CachedText cached;
    return cached.text;
}

bool qVersion_IsAtLeastCompare(uint8_t aMajor, uint8_t aMinor, uint8_t aPatch, uint8_t bMajor,
                               uint8_t bMinor, uint8_t bPatch) {
    if (aMajor != bMajor) {
        return aMajor > bMajor;
    }
    if (aMinor != bMinor) {
        return aMinor > bMinor;
    }
    return aPatch >= bPatch;
}

bool qVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch) {
    return qVersion_IsAtLeastCompare(qVERSION_MAJOR, qVERSION_MINOR, qVERSION_PATCH, major, minor,
                                     patch);
}

bool qVersion_HasFeature(const char* name) {
    if (name == nullptr) {
        return false;
    }
    for (const Feature& feature : kFeatures) {
        if (strcmp(feature.name, name) == 0) {
            return true;
        }
    }
    return false;
}

char* qVersion_GetFeatureList() {
    const size_t size = featureListSize();
    char* list = static_cast<char*>(malloc(size));
    if (list == nullptr) {
        return nullptr;
    }
    size_t used = 0;
    for (const Feature& feature : kFeatures) {
        used += snprintf(list + used, size - used, "%s%s%s", feature.name, kFeatureSeparator,
                         feature.description);
    }
    list[used] = '\0';
    return list;
}

qErr qVersion_DestroyFeatureList(char** list) {
    if (list == nullptr || *list == nullptr) {
        return qErrParam;
    }
    free(*list);
    *list = nullptr;
    return qErrNone;
}
