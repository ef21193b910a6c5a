// "-U": choose a BIRD file for one module, reach the module directly or through its router,
// send the loader, find the module again in its loader, send the firmware and reboot it.
#include <algorithm>
#include <stdexcept>

#include "DisableVexnet.h"
#include "FindOnUsb.h"
#include "BuildNumber.h"
#include "Log.h"
#include "ModuleLock.h"
#include "TransferSteps.h"
#include "UpdateServerRequest.h"
#include "Updater.h"
#include "UpdaterStore.h"
#include "VerifyUpdate.h"
#include "unix_time.h"

using Pelmorax::Zendrival::Module;

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;
constexpr auto ERROR = UpdaterDisplayInterface::LEVEL_ERROR;

// USB first; a module that is not on USB is looked for on TCP/IP.
qErr connectDirect(Module& module, unsigned serial) {
    qErr result = module.connect(linkTypeUSB, serial);
    if (result == qErrNotFound) {
        result = module.connect(linkTypeTCPIP, serial);
    }
    return result;
}

// After REBOOT the module is looked for the way the update reached it: through the same router,
// or on the transport its own connection ran on (USB, with the search after LOAD, or TCP/IP).
RefindAttempt refindAsUpdated(Module& target, Module* router, unsigned serial,
                              unsigned routerSerial) {
    if (router != nullptr) {
        return [&target, router, routerSerial](int) {
            router->disconnect();
            return connectDirect(*router, routerSerial) == qErrNone &&
                   target.connectThroughLinkModule(router) == qErrNone;
        };
    }
    linkSpec used{};
    target.getLinkSpecifier(&used);
    if (used.type == linkTypeTCPIP) {
        return [&target, serial](int) { return target.connect(linkTypeTCPIP, serial) == qErrNone; };
    }
    return
        [&target, serial](int attempt) { return _find_again_on_usb_once(target, serial, attempt); };
}

}  // namespace

unsigned Updater::chooseBuild(UpdaterStoreItem& item, unsigned serial, unsigned build) {
    if (build == 0) {
        std::string buildText;
        std::string firmware;
        if (UpdateServerRequest::QueryBuild(serial, buildText, firmware, serverUrl.c_str())) {
            build = _build_number_from_text(buildText);
        }
    }
    if (build != 0) {
        try {
            item.ReadBirdFile((std::to_string(build) + ".bird").c_str());
        } catch (const std::runtime_error&) {
            build = 0;
            display.message(INFO,
                            "New firmware is available.  Updater will proceed if valid "
                            "firmware is found locally.");
        }
    }
    if (build == 0) {
        build = static_cast<unsigned>(item.Settings().GetInt(KEY_LATEST_DOWNLOAD, 0));
        if (build != 0) {
            display.message(INFO, "Updating with the Latest Download");
        }
    }
    if (build == 0) {
        build = static_cast<unsigned>(item.Settings().GetInt(KEY_LATEST_TRANSFER, 0));
        if (build != 0) {
            display.message(INFO, "Updating with the Latest Transfer");
        }
    }
    return build;
}

qErr Updater::connectThroughRouter(Module& target, std::unique_ptr<Module>& router, unsigned serial,
                                   unsigned routerSerial, bool& giveUp) {
    giveUp = true;
    if (target.getModuleAddress() == 0) {
        std::vector<DeviceInfo> devices = Discover_ZVNetwork_Devices(routerSerial, linkTypeNone);
        if (devices.empty()) {
            display.message(ERROR, "Unable to find modules on Network");
            return qErrNotFound;
        }
        uint16_t address = 0;
        for (const DeviceInfo& device : devices) {
            if (device.specifier.serialNumber == serial) {
                address = device.scannedAddress;
            }
        }
        if (address == 0) {
            display.message(ERROR,
                            "Module address required for indirect firmware update, could not "
                            "find serial number [0x%08X] on network",
                            serial);
            return qErrNotFound;
        }
        target.setModuleAddress(static_cast<uint8_t>(address));
    }
    router = std::make_unique<Module>(0, 0);
    qErr result = _disableVexnet(*router, display);
    if (result != qErrNone) {
        giveUp = false;
        return result;
    }
    if (connectDirect(*router, routerSerial) != qErrNone) {
        display.message(ERROR, "Failed to connect to link module [%08X]", routerSerial);
        return qErrConnection;
    }
    giveUp = false;
    result = target.connectThroughLinkModule(router.get());
    if (result != qErrNone) {
        display.message(ERROR, "Failed to connect to module [%08X]", serial);
    }
    return result;
}

bool Updater::Update_Firmware(unsigned serial, unsigned build, std::string birdFile,
                              unsigned char moduleAddress, unsigned routerSerial,
                              bool overrideChecks) {
    const unsigned errorsBefore = display.errors_shown();
    const uint64_t started = qTime_GetMSTicks();
    outcome = UpdateOutcome();
    outcome.serial = serial;
    outcome.routerSerial = routerSerial;
    outcome.link = routerSerial != 0 ? "I2C" : "";
    const bool ok =
        updateFirmware(serial, build, birdFile, moduleAddress, routerSerial, overrideChecks);
    finishOutcome(ok, errorsBefore, started);
    return ok;
}

void Updater::finishOutcome(bool ok, unsigned errorsBefore, uint64_t started) {
    outcome.seconds = double(qTime_GetMSTicks() - started) / 1000.0;
    outcome.errorLine = display.error_text(errorsBefore);
    if (outcome.result == UpdateResult::NONE) {
        outcome.result = ok ? UpdateResult::UPDATED : UpdateResult::FAILED;
    }
}

bool Updater::updateFirmware(unsigned serial, unsigned build, std::string birdFile,
                             unsigned char moduleAddress, unsigned routerSerial,
                             bool overrideChecks) {
    if (serial == 0) {
        display.message(ERROR, "Update command must specify the specific device");
        return false;
    }
    std::unique_ptr<UpdaterStore> store =
        _createUpdaterStore(display, storageDirectory, "Update_Firmware");
    if (!store) {
        return false;
    }
    // Before anything reaches the module: a second loader in the middle of a transfer breaks it.
    // A router carries the whole routed transfer, so it is held as well.
    std::unique_ptr<ModuleLock> lock = _lock_module(display, lockDirectory, storageDirectory,
                                                    serial, lockFallbackWarned, lockWaitSeconds);
    if (!lock) {
        return false;
    }
    std::unique_ptr<ModuleLock> routerLock;
    if (routerSerial != 0 && routerSerial != serial) {
        routerLock = _lock_module(display, lockDirectory, storageDirectory, routerSerial,
                                  lockFallbackWarned, lockWaitSeconds);
        if (!routerLock) {
            return false;
        }
    }
    UpdaterStoreItem item;
    store->FindDevice(serial, &item);
    const uint64_t started = qTime_GetMSTicks();
    const unsigned errorsBefore = display.errors_shown();

    if (birdFile.empty()) {
        build = chooseBuild(item, serial, build);
        if (build == 0) {
            display.message(ERROR, "Could not find valid build for this device.");
            return false;
        }
    }
    BirdFile file;
    try {
        file = load_bird("Updating", birdFile, serial, build, false);
    } catch (const std::runtime_error&) {
        display.message(ERROR, "Failed to load bird file");
        return false;
    }
    if (file.HasSerialNumberBlock()) {
        Log::log(DEBUG_Updater, "Setting serial number into firmware... ");
        if (!file.ReplaceSerialNumber(serial)) {
            Log::log(DEBUG_Updater, "Error: Unable to modify serial number in bird.\n");
            explainFailure(errorsBefore, qErrParse);
            return false;
        }
        Log::log(DEBUG_Updater, " Serial Number inserted into firmware.\n");
    }

    Module target(moduleAddress, 0);
    std::unique_ptr<Module> router;  // kept until the update ends: the target's link runs on it
    qErr result = _disableVexnet(target, display);
    if (result == qErrNone && routerSerial == 0) {
        result = connectDirect(target, serial);
        if (result != qErrNone) {
            display.message(ERROR, "Failed to connect to module [%08X]", serial);
        }
    } else if (result == qErrNone) {
        bool giveUp = false;
        result = connectThroughRouter(target, router, serial, routerSerial, giveUp);
        if (giveUp) {
            return false;
        }
    }
    if (result == qErrNone && !overrideChecks &&
        !_validate_birdfile(display, file, target, serial)) {
        display.message(ERROR, "Birdfile failed validation");
        return false;
    }
    if (result == qErrNone) {
        result = _transfer_loader(display, target, file);
    }
    if (result == qErrNone && !target.isConnected()) {
        target.disconnect();
        _find_again_on_usb(target, serial);
    }
    if (result == qErrNone) {
        result = _transfer_firmware(display, target, file, routerSerial != 0, useUEIBytesLoading);
    }
    if (result == qErrNone) {
        result = _verify_update(display, target, file, serial,
                                refindAsUpdated(target, router.get(), serial, routerSerial));
    }
    if (result != qErrNone) {
        Log::log(DEBUG_Updater, "Failed _transfer_firmware(): %d\n", result);
        explainFailure(errorsBefore, result);
        return false;
    }
    recordTransfer(*store, item, serial,
                   birdFile.empty() ? std::to_string(build) + ".bird" : birdFile);
    Log::log(DEBUG_Updater, "Updating device firmware: \n");
    display.message(INFO, "Update time: %.4f sec", double(qTime_GetMSTicks() - started) / 1000.0);
    return true;
}

void Updater::explainFailure(unsigned errorsBefore, qErr result) {
    // Every failed update ends in one error line, even where the step itself only logs.
    if (display.errors_shown() == errorsBefore) {
        display.message(ERROR, "Firmware update failed [%d, %s]", result,
                        qError_GetErrorText(result));
    }
}

void Updater::recordTransfer(UpdaterStore& store, UpdaterStoreItem& item, unsigned serial,
                             const std::string& transferred) {
    // A module updated from a file it was never downloaded for still gets its history.
    if (!item.IsValid()) {
        try {
            item = store.AddDevice(serial);
        } catch (const std::runtime_error& error) {
            Log::log(DEBUG_Updater, "Could not record the transfer: %s\n", error.what());
            return;
        }
    }
    item.Settings().Add(KEY_LATEST_TRANSFER, transferred);
    item.Settings().Add(KEY_LAST_TRANSFER_DATE, KeyValueStore_TimeStamp());
    recordTransferMessage(item.Settings());
    item.Settings().Save();
}

void Updater::recordTransferMessage(KeyValueStore& settings) {
    if (!transferMessage.empty()) {
        settings.Add(KEY_LATEST_TRANSFER_MESSAGE, _settings_value_text(transferMessage));
    } else if (settings[KEY_LATEST_TRANSFER_MESSAGE] != nullptr) {
        // The note belonged to an earlier transfer; it must not be read as this one's.
        settings.Add(KEY_LATEST_TRANSFER_MESSAGE, "");
    }
}

std::string _settings_value_text(const std::string& text) {
    // One line per key in the settings file, and no blanks at the ends (they are trimmed when
    // the file is read back).
    std::string value = text;
    std::replace_if(
        value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    const size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = value.find_last_not_of(" \t");
    return value.substr(first, last - first + 1);
}
