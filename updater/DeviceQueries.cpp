#include "DeviceQueries.h"

#include <algorithm>

#include "Link.h"
#include "autoGen_SystemClass_CPP.h"
#include "qUEI.h"
#include "qVersion.h"

using Pelmorax::Zendrival::Link;
using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;

namespace {
constexpr uint8_t BUILD_QUERY = 255;
constexpr uint8_t BUILD_REPLY_LENGTH = 6;
constexpr size_t DEVICE_NAME_CAPACITY = 32;
}  // namespace

unsigned _get_build_number(Module& module) {
    Link* link = module.getLink();
    if (link == nullptr) {
        return 0;
    }
    uint8_t request = BUILD_QUERY;
    if (link->sendPacket(module.getModuleAddress(), qCMD_MODULE_INFO, 1, &request) != qErrNone) {
        return 0;
    }
    const uint8_t pattern[2] = {qCMD_MODULE_INFO, BUILD_QUERY};
    uint8_t length = sizeof(pattern);
    uint8_t reply[qPACKET_MAX_DATA] = {};
    if (link->receivePacket(module.getModuleAddress(), pattern, &length, reply) != qErrNone ||
        length != BUILD_REPLY_LENGTH) {
        return 0;
    }
    return qUEI_RetrieveInt(reply + 2);
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
