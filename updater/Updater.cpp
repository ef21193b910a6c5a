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

bool Updater::Get_Fingerprint(Fingerprint&, std::string, unsigned, std::string, unsigned, bool) {
    reportUnavailable("Reading a chip fingerprint");
    return false;
}

bool Updater::Recover_Firmware(std::string, unsigned, unsigned, unsigned, std::string, bool) {
    reportUnavailable("Firmware recovery");
    return false;
}
