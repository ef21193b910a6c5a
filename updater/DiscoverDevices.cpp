// "-D": the modules reachable directly, and the modules behind one router on its I2C bus.
#include <cstring>

#include "DeviceQueries.h"
#include "DisableVexnet.h"
#include "Link.h"
#include "Log.h"
#include "ModuleLock.h"
#include "Updater.h"
#include "autoGen_I2CClass_CPP.h"
#include "autoGen_SystemClass_CPP.h"
#include "discover.h"
#include "qDefs.h"

using Pelmorax::Zendrival::I2CClass;
using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;

namespace {

constexpr uint8_t FIRST_BUS_ADDRESS = 2;
constexpr uint8_t LAST_BUS_ADDRESS = 252;
constexpr uint8_t BUS_PROBE_SPEED = 3;

// The link types a search covers: the one asked for, or USB then TCP/IP.
std::vector<linkType> searchTypes(linkType type) {
    if (type != linkTypeNone) {
        return {type};
    }
    return {linkTypeUSB, linkTypeTCPIP};
}

void readDirectDevice(DeviceInfo& info, UpdaterDisplayInterface& display,
                      const std::string& lockDirectory, const std::string& storageDirectory) {
    info.modelName = qDefs_GetModelName(static_cast<uint8_t>(info.specifier.model));
    // A module in the middle of another Updater's run is listed, not talked to: a connection
    // from here would take its link away from that run.
    if (ModuleLock::HeldElsewhere(lockDirectory, storageDirectory, info.specifier.serialNumber)) {
        info.error = qErrBusy;
        return;
    }
    Module module(2, 0);
    if (_disableVexnet(module, display) != qErrNone) {
        return;
    }
    info.error = module.connectFromSpec(info.specifier);
    if (info.error == qErrNone) {
        info.build = _get_build_number(module);
        info.error = _get_version(module, info);
        if (info.error == qErrNone) {
            info.error = _get_device_name(module, info);
        }
    }
    module.disconnect();
}

struct LinkQuery {
    unsigned serial = 0;
    linkType type = linkTypeNone;
};

// Reads one module that answered on the router's bus at address; false when it is not a module
// this program can list.
bool readBusDevice(Module& router, const linkSpec& routerSpec, unsigned routerSerial,
                   uint8_t address, UpdaterDisplayInterface& display,
                   const std::string& lockDirectory, const std::string& storageDirectory,
                   DeviceInfo& info) {
    Log::log(DEBUG_Updater, "Attempt Connect on address: 0x%02x\n", address);
    Module candidate(address, false, 0);
    _disableVexnet(candidate, display);
    if (candidate.connectThroughLinkModule(&router) != qErrNone) {
        return false;
    }
    SystemClass system;
    system.init(&candidate, 0);
    uint32_t serial = 0;
    if (system.getSerialNumber(&serial) != qErrNone) {
        candidate.disconnect();
        return false;
    }
    Log::log(DEBUG_Updater, "Got Serial [0x%08X]\n", serial);
    info.specifier.type = routerSpec.type;
    info.specifier.serialNumber = serial;
    info.specifier.router = router.getModuleAddress();
    info.specifier.routerSerialNumber = routerSerial;
    // Everything from the address on says how the router itself is reached.
    constexpr size_t reachOffset = offsetof(linkSpec, ipAddress);
    std::memcpy(reinterpret_cast<uint8_t*>(&info.specifier) + reachOffset,
                reinterpret_cast<const uint8_t*>(&routerSpec) + reachOffset,
                sizeof(linkSpec) - reachOffset);
    info.scannedAddress = address;
    if (ModuleLock::HeldElsewhere(lockDirectory, storageDirectory, serial)) {
        info.error = qErrBusy;  // listed without reading more: another Updater is at it
        candidate.disconnect();
        return true;
    }
    info.build = _get_build_number(candidate);
    info.error = _get_version(candidate, info);
    uint8_t model = 0;
    qErr modelResult = system.getModel(&model);
    if (modelResult == qErrNone) {
        info.specifier.model = model;
        info.modelName = qDefs_GetModelName(model);
    } else {
        info.error = modelResult;
    }
    candidate.disconnect();
    return true;
}

}  // namespace

static bool _discovered_device(const linkSpec* spec, bool* found, void* list) {
    DeviceInfo info;
    std::memcpy(&info.specifier, spec, sizeof(linkSpec));
    static_cast<std::vector<DeviceInfo>*>(list)->push_back(info);
    *found = true;
    return true;
}

static bool _discovered_link(const linkSpec* spec, bool* found, void* query) {
    LinkQuery* wanted = static_cast<LinkQuery*>(query);
    if (spec->serialNumber != wanted->serial) {
        return true;
    }
    Log::log(DEBUG_Network, "NETWORK: Found device [%08X] via link type [%d]\n", spec->serialNumber,
             static_cast<int>(spec->type));
    wanted->type = static_cast<linkType>(spec->type);
    *found = true;
    return false;
}

static linkType _discover_link_type(unsigned serial) {
    LinkQuery query;
    query.serial = serial;
    for (linkType type : {linkTypeUSB, linkTypeTCPIP}) {
        qDiscovery_EnumerateModules(type, _discovered_link, &query, qDISCOVERY_LOCALHOST);
        if (query.type != linkTypeNone) {
            break;
        }
    }
    return query.type;
}

std::vector<DeviceInfo> Updater::Discover_Devices(linkType type) {
    std::vector<DeviceInfo> devices;
    for (linkType searched : searchTypes(type)) {
        qDiscovery_EnumerateModules(searched, _discovered_device, &devices, qDISCOVERY_LOCALHOST);
    }
    for (DeviceInfo& info : devices) {
        readDirectDevice(info, display, lockDirectory, storageDirectory);
    }
    return devices;
}

std::vector<DeviceInfo> Updater::Discover_ZVNetwork_Devices(unsigned routerSerial, linkType type) {
    std::vector<DeviceInfo> devices;
    if (type == linkTypeNone) {
        type = _discover_link_type(routerSerial);
    }
    linkSpec* found = qDiscovery_FindModule(type, routerSerial, qDISCOVERY_LOCALHOST);
    if (found == nullptr) {
        return devices;
    }
    linkSpec routerSpec = *found;
    qLinkSpec_Destroy(&found);

    Log::log(DEBUG_Updater, "Found Link Module");
    // A router another Updater updates through is not opened: that would take its link away.
    if (ModuleLock::HeldElsewhere(lockDirectory, storageDirectory, routerSerial)) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Error %d on connectFromSpec",
                        qErrBusy);
        return devices;
    }
    Module router(2, 0);
    if (_disableVexnet(router, display) != qErrNone) {
        return devices;
    }
    qErr result = router.connectFromSpec(routerSpec);
    if (result != qErrNone) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Error %d on connectFromSpec",
                        result);
        return devices;
    }
    SystemClass routerSystem;
    routerSystem.init(&router, 0);
    result = routerSystem.routeToMe(1);
    if (result != qErrNone) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Error %d on route to me", result);
        router.disconnect();
        return devices;
    }

    I2CClass bus;
    bus.init(&router, 0);
    bus.setSpeed(BUS_PROBE_SPEED);
    for (unsigned address = FIRST_BUS_ADDRESS; address <= LAST_BUS_ADDRESS; address += 2) {
        if (address == router.getModuleAddress()) {
            continue;
        }
        Log::log(DEBUG_Updater, "Searching Address 0x%02x\n", address);
        const uint8_t probe[2] = {0, 0};
        if (bus.write(static_cast<uint8_t>(address), sizeof(probe), probe) != qErrNone) {
            continue;
        }
        DeviceInfo info;
        if (readBusDevice(router, routerSpec, routerSerial, static_cast<uint8_t>(address), display,
                          lockDirectory, storageDirectory, info)) {
            devices.push_back(info);
        }
    }

    routerSystem.routeToMe(0);
    router.disconnect();
    return devices;
}
