#include "Log.h"
#include "TransferSteps.h"
#include "autoGen_SystemClass_CPP.h"
#include "qDefs.h"

using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;

bool _validate_birdfile(UpdaterDisplayInterface& display, BirdFile& file, Module& module,
                        unsigned serial, bool* mismatch) {
    bool ignored = false;
    bool& differs = mismatch != nullptr ? *mismatch : ignored;
    differs = false;
    if (file.GetBlocks().empty()) {
        return false;
    }
    // A file with a serial-number block is made for any module; the others for one.
    if (!file.HasSerialNumberBlock() && !file.ValidateSerialNumber(serial)) {
        differs = true;
        return false;
    }
    Log::log(DEBUG_Updater, "UpdateFirmware() Connecting to device\n");
    SystemClass system;
    system.init(&module, 0);
    uint32_t connectedSerial = 0;
    qErr result = system.getSerialNumber(&connectedSerial);
    differs = result == qErrNone && connectedSerial != serial;
    if (result != qErrNone || connectedSerial != serial) {
        Log::log(DEBUG_Updater, "Bird serial number and connected device don't match (%d).\n",
                 result);
        return false;
    }
    uint8_t model = 0;
    result = system.getModel(&model);
    // A model that could not be read (a lost reply) is no evidence of a wrong file: it fails the
    // validation as an unreadable serial number does, without claiming a mismatch.
    if (result != qErrNone) {
        Log::log(DEBUG_Updater, "Could not read the connected device's model (%d).\n", result);
        return false;
    }
    const char* modelName = qDefs_GetModelName(model);
    if (!file.ValidateModel(modelName)) {
        differs = true;
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Connected device model and Bird file model do not match [%s] (%d)",
                        modelName, result);
        return false;
    }
    return true;
}
