// Starting an i.MX chip's recovery loader: its loader blocks go into RAM through the boot ROM's
// serial download protocol (USB HID or a serial port), then the ROM jumps to it.
#include <memory>
#include <vector>

#include "HID_SDPLoader.h"
#include "Log.h"
#include "RecoverySteps.h"
#include "SDPLoader.h"
#include "Serial_SDPLoader.h"

namespace {

uint32_t bigEndian32(const unsigned char* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 |
           uint32_t(bytes[3]);
}

// A file without a loader, or with a loader block shorter than its load address, is refused
// before anything reaches the chip.
bool loaderBlocksWellFormed(const std::vector<BirdBlock>& blocks) {
    if (blocks.empty()) {
        // Jumping to a loader that was never written would run whatever the RAM holds.
        Log::log(DEBUG_Updater, "No recovery loader in the file.\n");
        return false;
    }
    for (const BirdBlock& block : blocks) {
        if (block.length < 4) {
            Log::log(DEBUG_Updater, "Loader block of %u bytes has no load address.\n",
                     block.length);
            return false;
        }
    }
    return true;
}

}  // namespace

uint32_t _recovery_start_address(const BirdFile& file) {
    for (const BirdBlock& block : file.FindBlocks(BirdFile::BLOCK_RECOVERY_START)) {
        if (block.length >= 4) {
            return bigEndian32(block.data);
        }
    }
    return DEFAULT_RECOVERY_START;
}

qErr _transfer_recovery_loader(UpdaterDisplayInterface&, BirdFile& file, std::string port) {
    Log::log(DEBUG_Updater, "Transfer Loader via Serial Interface (iMX):\n");
    std::vector<BirdBlock> blocks = file.FindBlocks(BirdFile::BLOCK_LOADER);
    if (!loaderBlocksWellFormed(blocks)) {
        return qErrSize;
    }
    SDPLoader loader;
    if (port == RECOVERY_PORT_USB) {
        loader.setLoader(new HID_SDPLoader(IMX_ROM_VENDOR_ID, IMX_ROM_PRODUCT_ID));
    } else {
        // The transport keeps the path it is given: port outlives the loader.
        loader.setLoader(new Serial_SDPLoader(port.c_str()));
    }
    if (loader.init() != 0) {
        return qErrNotReady;
    }
    for (size_t number = 0; number < blocks.size(); ++number) {
        const BirdBlock& block = blocks[number];
        const uint32_t address = bigEndian32(block.data);
        std::vector<uint8_t> data(block.data + 4, block.data + block.length);
        Log::log(DEBUG_Updater, "Writting Block: %d, size %zu, address: %d\b", int(number),
                 data.size(), int(address));
        if (loader.writeLoader(data, address) != 0) {
            return qErrConnection;
        }
    }
    loader.startLoader(_recovery_start_address(file));
    return qErrNone;
}
