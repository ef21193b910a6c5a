#include "Updater.h"

#include "ModuleLock.h"

Updater::Updater(const char* serverUrl, const char* storageDirectory,
                 UpdaterDisplayInterface& display)
    : serverUrl(serverUrl != nullptr ? serverUrl : ""),
      storageDirectory(storageDirectory != nullptr ? storageDirectory : ""),
      lockDirectory(MACHINE_LOCK_DIRECTORY),
      display(display) {}

// Here, where the module lock's type is complete.
Updater::~Updater() = default;
