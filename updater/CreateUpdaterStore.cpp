#include <stdexcept>

#include "Updater.h"
#include "UpdaterStore.h"

std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display,
                                                  const std::string& storageDirectory,
                                                  const char* caller, bool readOnly) {
    try {
        return std::make_unique<UpdaterStore>(storageDirectory.c_str(), readOnly);
    } catch (const std::runtime_error& e) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Failed to Create UpdaterStore in: %s - Exception: %s", caller, e.what());
        return nullptr;
    }
}
