#include "DeviceQueries.h"

#include <algorithm>

#include "autoGen_SystemClass_CPP.h"
#include "qVersion.h"

using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;

namespace {
constexpr size_t DEVICE_NAME_CAPACITY = 32;
}  // namespace

unsigned _get_build_number(Module& module) {
    // The module-information form of the build; any failure reads as build 0.
    uint32_t build = 0;
    return module.getBuild(&build) == qErrNone ? build : 0;
}

qErr _get_version(Module& module, DeviceInfo& info) {
    SystemClass system;
    system.init(&module, 0);
    uint32_t packed = 0;
    qErr result = system.getVersion(&packed);
    if (result != qErrNone) {
        return result;
    }
    info.major = qVersion_ParseMajor(packed);
    info.minor = qVersion_ParseMinor(packed);
    info.patch = qVersion_ParsePatch(packed);
    uint8_t address = 0;
    result = system.getModule(&address);
    if (result != qErrNone) {
        return result;
    }
    info.specifier.module = address;
    uint8_t router = 0;
    result = system.getRouter(&router);
    if (result != qErrNone) {
        return result;
    }
    info.specifier.router = router;
    return qErrNone;
}

qErr _get_device_name(Module& module, DeviceInfo& info) {
    // Patches above 255 are still "at least 4".
    uint8_t patch = static_cast<uint8_t>(std::min<uint32_t>(info.patch, 255));
    if (!qVersion_IsAtLeastCompare(info.major, info.minor, patch, 2, 10, 4)) {
        return qErrNone;
    }
    SystemClass system;
    system.init(&module, 0);
    uint8_t name[DEVICE_NAME_CAPACITY] = {};
    size_t length = 0;
    qErr result = system.getName(name, sizeof(name), &length);
    if (result == qErrNone) {
        // The module sends the name's bytes, not always with a terminator.
        size_t end = 0;
        while (end < length && end < sizeof(name) && name[end] != 0) {
            ++end;
        }
        info.deviceName.assign(reinterpret_cast<const char*>(name), end);
    }
    return result;
}
