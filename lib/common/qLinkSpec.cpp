// The linkSpec record and the sameness rule discovery uses to report each module once.
#include <cstdlib>
#include <cstring>

#include "discover.h"

linkSpec qLinkSpec_Of(uint32_t type, uint32_t serialNumber) {
    linkSpec spec{};
    spec.type = type;
    spec.serialNumber = serialNumber;
    return spec;
}

linkSpec* qLinkSpec_Create(uint32_t type) {
    linkSpec* spec = static_cast<linkSpec*>(calloc(1, sizeof(linkSpec)));
    if (spec != nullptr) {
        spec->type = type;
    }
    return spec;
}

linkSpec* qLinkSpec_Copy(const linkSpec* spec) {
    if (spec == nullptr) {
        return nullptr;
    }
    linkSpec* copy = static_cast<linkSpec*>(malloc(sizeof(linkSpec)));
    if (copy != nullptr) {
        memcpy(copy, spec, sizeof(linkSpec));
    }
    return copy;
}

qErr qLinkSpec_Destroy(linkSpec** spec) {
    if (spec == nullptr || *spec == nullptr) {
        return qErrParam;
    }
    free(*spec);
    *spec = nullptr;
    return qErrNone;
}

// True when both name the same module on the same transport. A module seen on two addresses or
// two ports (one link server per port) counts as two.
bool _isNewSpec(const linkSpec* a, const linkSpec* b) {
    if (a == nullptr || b == nullptr) {
        return false;
    }
    return a->type == b->type && a->serialNumber == b->serialNumber &&
           a->ipAddress == b->ipAddress && a->port == b->port;
}
