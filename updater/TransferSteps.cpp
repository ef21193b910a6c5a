#include "TransferSteps.h"

#include "Log.h"
#include "UpdaterEntity.h"

using Pelmorax::Zendrival::Module;

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;

// Sends every loader block; the first error ends the loop and is returned.
qErr sendLoaderBlocks(UpdaterDisplayInterface& display, UpdaterEntity& loader,
                      const std::vector<BirdBlock>& blocks) {
    qErr result = qErrNone;
    unsigned number = 1;
    unsigned long total = 0;
    for (const BirdBlock& block : blocks) {
        display.message(INFO, "Transferring loader block %d of %d, %d bytes", number,
                        int(blocks.size()), block.length);
        result = loader.LoaderPrepare(block.data, block.length, block.flags);
        // Some loaders do not answer PREPARE for a loader block; the sums still check the data.
        if (result != qErrNone && result != qErrTimeout) {
            Log::log(DEBUG_Updater, "Error Preparing transfer [%d, %s].\n", result,
                     qError_GetErrorText(result));
            break;
        }
        result = loader.LoaderTransfer(block.data, block.length);
        if (result != qErrNone) {
            Log::log(DEBUG_Updater, "Error loader transfer [%d, %s].\n", result,
                     qError_GetErrorText(result));
            break;
        }
        total += block.length;
        ++number;
    }
    display.message(INFO, "Transferred %d blocks, %d total bytes", number - 1, int(total));
    return result;
}

// One firmware block, from its PREPARE, at most FIRMWARE_BLOCK_ATTEMPTS times.
qErr sendFirmwareBlock(UpdaterDisplayInterface& display, UpdaterEntity& loader,
                       const BirdBlock& block, unsigned number, unsigned count) {
    qErr result = qErrNone;
    for (unsigned attempt = 0; attempt < FIRMWARE_BLOCK_ATTEMPTS; ++attempt) {
        display.message(INFO, "Transferring firmware block %u of %u, %d bytes", number, count,
                        block.length);
        if (attempt > 0) {
            display.message(INFO, "  Retry %d", attempt);
        }
        uint16_t blockSize = 0;
        result = loader.TransferPrepare(block.data, block.length, block.flags, blockSize);
        if (result != qErrNone) {
            Log::log(DEBUG_Updater, "Error firmware transfer init: [%d, %s].\n", result,
                     qError_GetErrorText(result));
            return result;  // a module that refuses PREPARE is not asked again
        }
        result = loader.FirmwareTransfer(block.data, block.length, blockSize, display);
        if (result == qErrNone) {
            return qErrNone;
        }
        Log::log(DEBUG_Updater, "Error firmware transfer [%d, %s].\n", result,
                 qError_GetErrorText(result));
    }
    return result;
}

}  // namespace

qErr _transfer_loader(UpdaterDisplayInterface& display, Module& module, BirdFile& file) {
    UpdaterEntity loader;
    loader.init(&module, 0, true, false);
    qErr result = loader.LoaderInit();
    if (result != qErrNone) {
        Log::log(DEBUG_Updater, "Error starting loader [%d, %s].\n", result,
                 qError_GetErrorText(result));
        return result;
    }
    display.message(INFO, "Transferring loader to device");
    display.display_progress(true);
    result = sendLoaderBlocks(display, loader, file.FindBlocks(BirdFile::BLOCK_LOADER));
    display.display_progress(false);
    if (result != qErrNone) {
        return result;
    }
    display.message(INFO, "Starting Load on Device");
    result = loader.LoaderStart();
    if (result == qErrTimeout) {
        Log::log(DEBUG_Updater,
                 "Timeout on LoaderStart. Usually indicates this is an iMX Load ignore err.\n");
        return qErrNone;
    }
    if (result != qErrNone) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Error starting loader [%d, %s]",
                        result, qError_GetErrorText(result));
    }
    return result;
}

qErr _transfer_firmware(UpdaterDisplayInterface& display, Module& module, BirdFile& file,
                        bool indirect, bool useUEIBytes) {
    UpdaterEntity loader;
    // A routed module's link stays up through the router, so its reboot is not waited for.
    loader.init(&module, 0, true, indirect);
    if (useUEIBytes && loader.CheckUEIDataSupport() == qErrNone) {
        loader.CheckPooledPacketsSupport();
    }
    Log::log(DEBUG_Updater, "Transferring firmware to device %s\n", file.GetPath().c_str());
    std::vector<BirdBlock> blocks = file.FindBlocks(BirdFile::BLOCK_FIRMWARE);
    qErr result = qErrNone;
    unsigned number = 1;
    unsigned long total = 0;
    for (const BirdBlock& block : blocks) {
        result = sendFirmwareBlock(display, loader, block, number, unsigned(blocks.size()));
        if (result != qErrNone) {
            Log::log(DEBUG_Updater, "Error firmware transfer block failed.\n");
            break;
        }
        total += block.length;
        ++number;
    }
    display.message(INFO, "Transferred %d blocks, %d total bytes", number - 1, int(total));
    if (result != qErrNone) {
        return result;
    }
    return loader.LoaderReboot(display);
}
