// Reading an i.MX chip's identifier: the chip's ROM cannot tell it, so a recovery loader is
// started in its RAM and asked for it over USB as an ordinary module.
#include <stdexcept>

#include "DisableVexnet.h"
#include "FindOnUsb.h"
#include "Log.h"
#include "Module.h"
#include "RecoverySteps.h"
#include "Updater.h"
#include "UpdaterStore.h"
#include "autoGen_SystemClass_CPP.h"

using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;

namespace {

constexpr auto ERROR = UpdaterDisplayInterface::LEVEL_ERROR;

// The recovery image: the given file, else the module's last download, fetched first when the
// store has nothing for it. Empty (after a log line or one error line) when there is none.
bool loadRecoveryImage(UpdaterDisplayInterface& display, Updater& updater, UpdaterStore& store,
                       unsigned serial, const std::string& birdFile, BirdFile& file) {
    if (!birdFile.empty() && serial == UNKNOWN_RECOVERY_SERIAL) {
        display.message(ERROR,
                        "Add serial number or remove the bird filename to use a default recovery "
                        "image.");
        return false;
    }
    try {
        if (!birdFile.empty()) {
            file = BirdFile(birdFile.c_str());
            return true;
        }
        UpdaterStoreItem item;
        bool known = store.FindDevice(serial, &item);
        std::string name;
        if (!known) {
            display.mute_messages(true);
            Log::log(DEBUG_APP, "Existing loader device not found. Downloading.\n");
            unsigned build = updater.Download_Firmware(serial, "", false, false);
            display.mute_messages(false);
            if (build != 0) {
                name = std::to_string(build) + ".bird";
                known = store.FindDevice(serial, &item);
            }
        } else {
            name = item.Settings().GetString(KEY_LATEST_DOWNLOAD, "");
        }
        if (!known || name.empty()) {
            Log::log(DEBUG_APP, "No recovery image for %08X.\n", serial);
            return false;
        }
        file = item.ReadBirdFile(name.c_str());
        return true;
    } catch (const std::runtime_error& error) {
        Log::log(DEBUG_APP, "%s\n", error.what());
        return false;
    }
}

bool readIdentifier(Module& module, Fingerprint& out) {
    SystemClass system;
    system.init(&module, 0);
    for (uint8_t j = 0; j < 4; ++j) {
        uint32_t word = 0;
        if (system.getUEI32(systemUniqueIdentifier, j, &word) != qErrNone) {
            Log::log(DEBUG_APP, "Error getting Identifier %d.\n", j);
            return false;
        }
        out.word[3 - j] = word;
    }
    return true;
}

}  // namespace

bool _get_fingerprint_imx(UpdaterDisplayInterface& display, Updater& updater, std::string port,
                          unsigned serial, std::string birdFile, Fingerprint& out,
                          bool resetAfter) {
    std::unique_ptr<UpdaterStore> store =
        _createUpdaterStore(display, updater.StorageDirectory(), "_get_fingerprint_imx");
    if (!store) {
        return false;
    }
    if (serial == 0) {
        serial = UNKNOWN_RECOVERY_SERIAL;
    }
    BirdFile file;
    if (!loadRecoveryImage(display, updater, *store, serial, birdFile, file)) {
        return false;
    }
    // Without blocks there is no loader to start: the ROM gets no jump into RAM that was never
    // written.
    if (file.GetBlocks().empty()) {
        display.message(ERROR, "%s", RECOVERY_IMAGE_WITHOUT_BLOCKS);
        return false;
    }
    if (_transfer_recovery_loader(display, file, port) != qErrNone) {
        Log::log(DEBUG_APP, "Error loading liveloader.\n");
        return false;
    }
    Module module(0, 0);
    if (_disableVexnet(module, display) != qErrNone) {
        return false;
    }
    if (!_find_again_on_usb(module, serial)) {
        Log::log(DEBUG_APP, "Could not connect to device.\n");
        return false;
    }
    if (!readIdentifier(module, out)) {
        return false;
    }
    if (resetAfter) {
        SystemClass system;
        system.init(&module, 0);
        system.reset();  // the chip leaves the recovery loader
    }
    return true;
}
