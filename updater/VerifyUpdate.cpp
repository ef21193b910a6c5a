#include "VerifyUpdate.h"

#include <chrono>
#include <thread>

#include "Log.h"
#include "autoGen_SystemClass_CPP.h"

using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;

namespace {

constexpr int VERIFY_ATTEMPTS = 15;
constexpr int VERIFY_SLEEP_MS = 1000;

// The build the module reports once it answers on a fresh connection; false while it does not.
bool readBuildAfterRestart(Module& module, const RefindAttempt& refind, uint32_t& build) {
    for (int attempt = 0; attempt < VERIFY_ATTEMPTS; ++attempt) {
        // A module that was just told to restart is away at first, and a search that finds
        // nothing costs its whole time-out: wait before every look, the first one too.
        std::this_thread::sleep_for(std::chrono::milliseconds(VERIFY_SLEEP_MS));
        if (!refind(attempt)) {
            Log::log(DEBUG_Updater, "Verify: module not found again (attempt %d)\n", attempt + 1);
            continue;
        }
        SystemClass system;
        system.init(&module, 0);
        qErr result = system.getBuild(&build);
        if (result == qErrNone) {
            return true;
        }
        Log::log(DEBUG_Updater, "Verify: no build from the module (attempt %d): %d, %s\n",
                 attempt + 1, result, qError_GetErrorText(result));
        module.disconnect();
    }
    return false;
}

}  // namespace

qErr _verify_update(UpdaterDisplayInterface& display, Module& module, const BirdFile& file,
                    unsigned serial, const RefindAttempt& refind, unsigned* reported) {
    // The connection that carried the update ends here: whatever answers from now on answers on
    // a new one, after the restart.
    module.disconnect();
    uint32_t build = 0;
    if (!readBuildAfterRestart(module, refind, build)) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Module %08X did not come back after the update", serial);
        return qErrNotFound;
    }
    if (reported != nullptr) {
        *reported = build;
    }
    if (file.FindBlocks(BirdFile::BLOCK_INFO).empty()) {
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "Verified: module %08X is back",
                        serial);
        return qErrNone;
    }
    const unsigned expected = file.GetBuild();
    if (build != expected) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Module %08X runs build %u after the update, expected %u", serial,
                        unsigned(build), expected);
        return qErrVersion;
    }
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "Verified: module %08X runs build %u",
                    serial, unsigned(build));
    return qErrNone;
}
