#include "Updater.h"

Updater::Updater(const char* serverUrl, const char* storageDirectory,
                 UpdaterDisplayInterface& display)
    : serverUrl(serverUrl != nullptr ? serverUrl : ""),
      storageDirectory(storageDirectory != nullptr ? storageDirectory : ""),
      display(display) {}

void Updater::reportUnavailable(const char* operation) {
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "%s is not available in this build",
                    operation);
}

bool Updater::Update_Firmware(unsigned, unsigned, std::string, unsigned char, unsigned, bool) {
    reportUnavailable("Firmware update");
    return false;
}

BirdFile Updater::load_bird(const char*, std::string, unsigned, unsigned, bool) {
    reportUnavailable("Loading a stored build");
    return BirdFile();
}

unsigned Updater::Download_Firmware(unsigned, std::string, bool, bool) {
    reportUnavailable("Firmware download");
    return 0;
}

BuildList Updater::Get_BuildList(unsigned) {
    reportUnavailable("Listing server builds");
    return {};
}

BuildList Updater::Get_BuildListLocal(unsigned) {
    reportUnavailable("Listing local builds");
    return {};
}

bool Updater::Get_Fingerprint(Fingerprint&, std::string, unsigned, std::string, unsigned, bool) {
    reportUnavailable("Reading a chip fingerprint");
    return false;
}

bool Updater::Recover_Firmware(std::string, unsigned, unsigned, unsigned, std::string, bool) {
    reportUnavailable("Firmware recovery");
    return false;
}
