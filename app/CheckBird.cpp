#include "CheckBird.h"

#include <stdexcept>

#include "BirdFile.h"
#include "UpdaterDisplayInterface.h"

namespace {

void describe(UpdaterDisplayInterface& display, BirdFile& bird) {
    const auto info = UpdaterDisplayInterface::LEVEL_INFO;
    const std::vector<BirdBlock>& blocks = bird.GetBlocks();
    display.message(info, "Blocks: %zu", blocks.size());
    unsigned number = 1;
    for (const BirdBlock& block : blocks) {
        display.message(info, "  Block %u: type %u (%s), flags %u, length %u, address 0x%08X",
                        number++, block.type, BirdFile::BlockTypeName(block.type), block.flags,
                        block.length, block.address);
    }
    if (bird.FindBlocks(BirdFile::BLOCK_INFO).empty()) {
        display.message(info, "No information block");
        return;
    }
    display.message(info, "Build: %u", bird.GetBuild());
    display.message(info, "Version: %s", bird.GetVersion().c_str());
    display.message(info, "Serial number: %08X", bird.GetSerialNumber());
    display.message(info, "Model: %s", bird.GetModel().c_str());
}

}  // namespace

bool _check_bird_file(UpdaterDisplayInterface& display, const std::string& path) {
    const auto error = UpdaterDisplayInterface::LEVEL_ERROR;
    if (path.empty()) {
        display.message(error, "-C must specify a BIRD file via -f");
        return false;
    }
    if (!BirdFile::VerifyFile(path.c_str())) {
        display.message(error, "Invalid bird %s", path.c_str());
        return false;
    }
    try {
        BirdFile bird(path.c_str());
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "BIRD file: %s", path.c_str());
        describe(display, bird);
        return true;
    } catch (const std::runtime_error&) {
        display.message(error, "Failed to load bird file");
        return false;
    }
}
