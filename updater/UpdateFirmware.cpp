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
    outcome.source = BuildSource::BUILD_GIVEN;
    if (build == 0) {
        std::string buildText;
        std::string firmware;
        if (UpdateServerRequest::QueryBuild(serial, buildText, firmware, serverUrl.c_str())) {
            build = _build_number_from_text(buildText);
            outcome.source = BuildSource::SERVER_LATEST;
        }
    }
    // The build a dry run's "-G" would have stored counts as stored.
    if (build != 0 && !storeHolds(item, build) && !(dryRun && build == pendingDownload)) {
        build = 0;
        display.message(INFO,
                        "New firmware is available.  Updater will proceed if valid "
                        "firmware is found locally.");
    }
    if (build == 0) {
        build = static_cast<unsigned>(item.Settings().GetInt(KEY_LATEST_DOWNLOAD, 0));
        outcome.source = BuildSource::LATEST_DOWNLOAD;
        if (build != 0) {
            display.message(INFO, "Updating with the Latest Download");
        }
    }
    if (build == 0) {
        build = static_cast<unsigned>(item.Settings().GetInt(KEY_LATEST_TRANSFER, 0));
        outcome.source = BuildSource::LATEST_TRANSFER;
        if (build != 0) {
            display.message(INFO, "Updating with the Latest Transfer");
        }
    }
    if (build == 0) {
        outcome.source = BuildSource::NONE;
    }
    return build;
}

bool Updater::storeHolds(UpdaterStoreItem& item, unsigned build) {
    try {
        item.ReadBirdFile((std::to_string(build) + ".bird").c_str());
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
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
    announceDryRun(serial);
    const bool ok =
        updateFirmware(serial, build, birdFile, moduleAddress, routerSerial, overrideChecks);
    finishOutcome(ok, errorsBefore, started);
    closeAttempt();
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
        _createUpdaterStore(display, storageDirectory, "Update_Firmware", dryRun);
    if (!store) {
        return false;
    }
    // Before anything reaches the module: a second loader in the middle of a transfer breaks it.
    // A router carries the whole routed transfer, so it is held as well.
    if (!holdModule(serial) ||
        (routerSerial != 0 && routerSerial != serial && !holdModule(routerSerial))) {
        return false;
    }
    UpdaterStoreItem item;
    store->FindDevice(serial, &item);
    const uint64_t started = qTime_GetMSTicks();
    const unsigned errorsBefore = display.errors_shown();

    BirdFile file;
    if (!loadUpdateFile(item, serial, build, birdFile, file)) {
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
    if (result == qErrNone) {
        noteModule(target, routerSerial);
        if (!overrideChecks && !fileFitsModule(file, target, serial)) {
            return false;
        }
        noteBuildBefore(target);
        if (skipCurrent && runsChosenBuild(serial)) {
            return true;
        }
        if (dryRun) {
            return planUpdate(target, file);
        }
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
                                refindAsUpdated(target, router.get(), serial, routerSerial),
                                &outcome.buildAfter);
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

bool Updater::holdModule(unsigned serial) {
    // A dry run only looks: it must not keep a real run waiting, nor make a lock file.
    if (dryRun) {
        if (_module_not_held(display, lockDirectory, storageDirectory, serial)) {
            return true;
        }
        outcome.result = UpdateResult::BUSY;
        return false;
    }
    std::unique_ptr<ModuleLock> lock = _lock_module(display, lockDirectory, storageDirectory,
                                                    serial, lockFallbackWarned, lockWaitSeconds);
    if (!lock) {
        if (ModuleLock::HeldElsewhere(lockDirectory, storageDirectory, serial)) {
            outcome.result = UpdateResult::BUSY;
        }
        return false;
    }
    heldLocks.push_back(std::move(lock));
    return true;
}

bool Updater::loadUpdateFile(UpdaterStoreItem& item, unsigned serial, unsigned& build,
                             const std::string& birdFile, BirdFile& file) {
    if (birdFile.empty()) {
        build = chooseBuild(item, serial, build);
        if (build == 0) {
            display.message(ERROR, "Could not find valid build for this device.");
            outcome.result = UpdateResult::NO_BUILD;
            return false;
        }
    } else {
        outcome.source = BuildSource::FILE_GIVEN;
    }
    outcome.chosenBuild = build;
    // In a dry run of "-G -U" the build "-G" would have downloaded is not in the store.
    if (dryRun && birdFile.empty() && build == pendingDownload && !storeHolds(item, build)) {
        display.message(INFO, "Updating firmware with build %u, downloaded first", build);
        return true;
    }
    try {
        file = dryRun ? loadStoredOrGiven(serial, birdFile, build, "Updating")
                      : load_bird("Updating", birdFile, serial, build, false);
    } catch (const std::runtime_error&) {
        display.message(ERROR, "Failed to load bird file");
        outcome.result = UpdateResult::NO_BUILD;
        return false;
    }
    noteFile(file);
    return true;
}

bool Updater::fileFitsModule(BirdFile& file, Module& target, unsigned serial) {
    if (file.GetPath().empty() && dryRun) {
        display.message(INFO, "The file is checked against the module once it is downloaded");
        return true;
    }
    bool mismatch = false;
    if (_validate_birdfile(display, file, target, serial, &mismatch)) {
        return true;
    }
    display.message(ERROR, "Birdfile failed validation");
    if (mismatch) {
        outcome.result = UpdateResult::WRONG_MODEL;
    }
    return false;
}

bool Updater::runsChosenBuild(unsigned serial) {
    if (outcome.buildBefore == 0 || outcome.buildBefore != outcome.chosenBuild) {
        return false;
    }
    display.message(INFO, "Module %08X already runs build %u: left as it is", serial,
                    outcome.buildBefore);
    outcome.buildAfter = outcome.buildBefore;
    outcome.result = UpdateResult::UNCHANGED;
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
