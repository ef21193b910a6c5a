#include "ModulesToUpdate.h"

#include <cstring>
#include <set>

#include "CLI_Display.h"
#include "Updater.h"

namespace {

// Modules of the Router model carry other modules on their I2C bus. Only they are searched: a
// bus search sends one I2C write per bus address, and a module that is no router has no bus to
// search.
constexpr const char* ROUTER_MODEL_NAME = "Router";

const char* directLinkName(const DeviceInfo& device) {
    return device.specifier.type == linkTypeUSB ? "USB" : "TCP";
}

ModuleToUpdate moduleOf(const DeviceInfo& device, const char* link, unsigned routerSerial) {
    ModuleToUpdate module;
    module.serial = device.specifier.serialNumber;
    module.link = link;
    module.routerSerial = routerSerial;
    // A module that could not be read (another program holds it) has no model worth naming.
    if (device.error == 0) {
        module.model = device.modelName;
        module.build = device.build;
    }
    return module;
}

class ModuleList {
  public:
    // False for a module already listed: one on USB and on the network at once is updated
    // once, where it was found first.
    bool add(const ModuleToUpdate& module) {
        if (!seen.insert(module.serial).second) {
            return false;
        }
        modules.push_back(module);
        return true;
    }
    void addBehind(Updater& updater, unsigned routerSerial, linkType type) {
        for (const DeviceInfo& device : updater.Discover_ZVNetwork_Devices(routerSerial, type)) {
            add(moduleOf(device, "I2C", routerSerial));
        }
    }
    std::vector<ModuleToUpdate> modules;

  private:
    std::set<unsigned> seen;
};

bool isReadableRouter(const DeviceInfo& device) {
    return device.error == 0 && device.modelName == ROUTER_MODEL_NAME;
}

// Every module found directly, and one level behind each router among them (a router's bus
// holds modules, not further routers).
void findEveryModule(Updater& updater, linkType type, ModuleList& list) {
    std::vector<DeviceInfo> direct;
    for (linkType searched : {linkTypeUSB, linkTypeTCPIP}) {
        if (type == linkTypeNone || type == searched) {
            std::vector<DeviceInfo> found = updater.Discover_Devices(searched);
            direct.insert(direct.end(), found.begin(), found.end());
        }
    }
    for (const DeviceInfo& device : direct) {
        if (list.add(moduleOf(device, directLinkName(device), 0)) && isReadableRouter(device)) {
            const size_t router = list.modules.size() - 1;
            list.addBehind(updater, device.specifier.serialNumber,
                           static_cast<linkType>(device.specifier.type));
            list.modules[router].carriesOthers = list.modules.size() > router + 1;
        }
    }
}

}  // namespace

std::vector<ModuleToUpdate> _modules_to_update(CLI_Display& display, Updater& updater,
                                               const Parameters& params) {
    linkType type = linkTypeNone;
    if (params.transportGiven && params.transport != TRANSPORT_RECOVER) {
        type = static_cast<linkType>(params.transport);
    }
    ModuleList list;
    if (params.routerSerialNumber != 0) {
        list.addBehind(updater, params.routerSerialNumber, type);
    } else {
        findEveryModule(updater, type, list);
    }
    if (params.deviceSerialNumber == 0) {
        return list.modules;
    }
    for (const ModuleToUpdate& module : list.modules) {
        if (module.serial == params.deviceSerialNumber) {
            return {module};
        }
    }
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Module %08X was not found",
                    params.deviceSerialNumber);
    return {};
}
