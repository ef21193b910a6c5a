#include <stdexcept>

#include "Updater.h"
#include "UpdaterStore.h"

BirdFile Updater::load_bird(const char* verb, std::string birdFile, unsigned serial, unsigned build,
                            bool downloadIfMissing) {
    std::unique_ptr<UpdaterStore> store =
        _createUpdaterStore(display, storageDirectory, "load_bird");
    if (!store) {
        return BirdFile();
    }
    if (!birdFile.empty()) {
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "%s from Birdfile: %s", verb,
                        birdFile.c_str());
        outcome.file = birdFile;
        return BirdFile(birdFile.c_str());
    }
    UpdaterStoreItem item = store->AddDevice(serial);
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "%s firmware with build: %u", verb, build);
    const std::string name = std::to_string(build) + ".bird";
    outcome.file = item.FullPath() + "/" + name;
    try {
        return item.ReadBirdFile(name.c_str());
    } catch (const std::runtime_error&) {
        if (!downloadIfMissing) {
            throw std::runtime_error("Error reading birdfile");
        }
    }
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "Downloading firmware build %u", build);
    Download_Firmware(serial, std::to_string(build), false, false);
    return item.ReadBirdFile(name.c_str());
}
