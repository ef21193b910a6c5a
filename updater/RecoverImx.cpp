// i.MX recovery: the recovery loader started in the chip's RAM enumerates on USB (under the
// unknown serial number or the device's own) and takes the firmware through the normal upgrade
// protocol.
#include <chrono>
#include <thread>

#include "DisableVexnet.h"
#include "FindOnUsb.h"
#include "Module.h"
#include "RecoverySteps.h"
#include "TransferSteps.h"
#include "VerifyUpdate.h"

using Pelmorax::Zendrival::Module;

namespace {

constexpr auto ERROR = UpdaterDisplayInterface::LEVEL_ERROR;
constexpr int FIND_ROUNDS = 15;
constexpr int FIND_SLEEP_MS = 1000;

bool findRecoveryLoader(Module& module, unsigned serial) {
    for (int round = 0; round < FIND_ROUNDS; ++round) {
        module.discoverAndConnect(linkTypeUSB, UNKNOWN_RECOVERY_SERIAL);
        if (!module.isConnected()) {
            module.discoverAndConnect(linkTypeUSB, serial);
        }
        if (module.isConnected()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(FIND_SLEEP_MS));
    }
    return false;
}

}  // namespace

bool _recover_firmware_imx(UpdaterDisplayInterface& display, BirdFile& file, unsigned serial,
                           bool useUEIBytes) {
    Module module(0, 0);
    if (_disableVexnet(module, display) != qErrNone) {
        return false;
    }
    if (!findRecoveryLoader(module, serial)) {
        display.message(ERROR, "Could not connect to device");
        return false;
    }
    if (_transfer_firmware(display, module, file, false, useUEIBytes) != qErrNone) {
        display.message(ERROR, "Failed to transfer firmware");
        return false;
    }
    // The recovery loader is gone after REBOOT; the firmware it wrote enumerates under the
    // module's own serial number.
    return _verify_update(display, module, file, serial, [&module, serial](int attempt) {
               return _find_again_on_usb_once(module, serial, attempt);
           }) == qErrNone;
}
