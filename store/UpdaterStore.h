// The local store under the storage directory: one directory per device, named by its serial
// number ("%08X"), holding the builds downloaded for it and its ".settings".
#pragma once

#include <string>
#include <vector>

#include "UpdaterStoreItem.h"

// Keys of a device's settings file.
extern const char* const KEY_LATEST_DOWNLOAD;  // "LATEST_DOWNLOAD": file name of the last download
extern const char* const KEY_LAST_DOWNLOAD_DATE;  // "LAST_DOWNLOAD_DATE": when it was downloaded
extern const char* const KEY_LATEST_TRANSFER;     // "LATEST_TRANSFER": file of the last update
extern const char* const KEY_LAST_TRANSFER_DATE;  // "LAST_TRANSFER_DATE": when it was transferred
// "LATEST_TRANSFER_MESSAGE": the user's note ("-l") on the last update
extern const char* const KEY_LATEST_TRANSFER_MESSAGE;

class UpdaterStore {
  public:
    // Ensures the root directory; throws std::runtime_error when it cannot.
    explicit UpdaterStore(const char* root);
    // readOnly: creates nothing, neither the root nor a device's settings file (a dry run's
    // view); AddDevice must not be called on it.
    UpdaterStore(const char* root, bool readOnly);

    const std::string& BasePath() const { return root_; }

    // Ensures root/SSSSSSSS (or root/name) and returns it with its settings loaded.
    UpdaterStoreItem AddDevice(unsigned serial);
    UpdaterStoreItem AddDevice(const char* name);
    // The first entry of the root whose own name contains name.
    bool FindDevice(unsigned serial, UpdaterStoreItem* item);
    bool FindDevice(const char* name, UpdaterStoreItem* item);
    // Every entry of the device's directory whose name does not begin with '.'.
    bool FindLocalBuilds(unsigned serial, std::vector<UpdaterStoreItem>& items);

  private:
    std::string root_;
    bool readOnly_ = false;
};

// Ensures path is a directory (mode 0755), logging what it found; throws std::runtime_error.
void UpdaterStore_EnsureDirectory(const std::string& path);
