#include "UpdaterStore.h"

#include <cstring>
#include <stdexcept>
#include <sys/stat.h>

#include "BuildPath.h"
#include "Log.h"
#include "qDirectory.h"

const char* const KEY_LATEST_DOWNLOAD = "LATEST_DOWNLOAD";
const char* const KEY_LAST_DOWNLOAD_DATE = "LAST_DOWNLOAD_DATE";
const char* const KEY_LATEST_TRANSFER = "LATEST_TRANSFER";
const char* const KEY_LAST_TRANSFER_DATE = "LAST_TRANSFER_DATE";
const char* const KEY_LATEST_TRANSFER_MESSAGE = "LATEST_TRANSFER_MESSAGE";

namespace {

const char* entryName(const qDirectoryListData* entry) {
    const char* slash = strrchr(entry->path, '/');
    return slash == nullptr ? entry->path : slash + 1;
}

bool isDotEntry(const char* name) {
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

std::string serialText(unsigned serial) {
    char text[16];
    snprintf(text, sizeof text, "%08X", serial);
    return text;
}

struct DeviceSearch {
    const char* sought;
    std::string found;
    bool isDirectory = false;
};

// Matches on the entry's own name, never on the root's path, which may itself hold the text.
bool findItem(const qDirectoryListData* entry, void* context) {
    auto* search = static_cast<DeviceSearch*>(context);
    Log::log(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item", entry->path,
             int(entry->isDirectory), int(entry->size), search->sought);
    const char* name = entryName(entry);
    if (isDotEntry(name) || strstr(name, search->sought) == nullptr) {
        return true;
    }
    search->found = name;
    search->isDirectory = entry->isDirectory != 0;
    return false;
}

struct BuildListing {
    std::string directory;
    std::vector<UpdaterStoreItem>* items;
};

bool findItems(const qDirectoryListData* entry, void* context) {
    auto* listing = static_cast<BuildListing*>(context);
    Log::log(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items", entry->path,
             int(entry->isDirectory), int(entry->size));
    const char* name = entryName(entry);
    if (name[0] != '.') {
        listing->items->emplace_back(listing->directory.c_str(), name,
                                     entry->isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
    }
    return true;
}

}  // namespace

void UpdaterStore_EnsureDirectory(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        qErr err = qDirectory_Ensure(path.c_str(), 0755);
        if (err != qErrNone) {
            throw std::runtime_error("UpdaterStore: Could not create directory " + path +
                                     " error " + std::to_string(err));
        }
        Log::log(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
    } else if (!S_ISDIR(st.st_mode)) {
        throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
    } else {
        Log::log(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
    }
}

UpdaterStore::UpdaterStore(const char* root) : UpdaterStore(root, false) {}

UpdaterStore::UpdaterStore(const char* root, bool readOnly)
    : root_(root == nullptr ? "" : root), readOnly_(readOnly) {
    if (!readOnly_) {
        UpdaterStore_EnsureDirectory(root_);
    }
}

UpdaterStoreItem UpdaterStore::AddDevice(unsigned serial) {
    return AddDevice(serialText(serial).c_str());
}

UpdaterStoreItem UpdaterStore::AddDevice(const char* name) {
    if (readOnly_) {
        throw std::runtime_error("UpdaterStore: read-only view of " + root_);
    }
    std::string device = BuildPath(root_.c_str(), name == nullptr ? "" : name, nullptr);
    UpdaterStore_EnsureDirectory(device);
    return UpdaterStoreItem(root_.c_str(), name, STORE_ITEM_DIRECTORY);
}

bool UpdaterStore::FindDevice(unsigned serial, UpdaterStoreItem* item) {
    return FindDevice(serialText(serial).c_str(), item);
}

bool UpdaterStore::FindDevice(const char* name, UpdaterStoreItem* item) {
    DeviceSearch search;
    search.sought = name == nullptr ? "" : name;
    qDirectory_List(root_.c_str(), findItem, &search);
    bool found = !search.found.empty();
    Log::log(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", found ? "Found" : "Not Found",
             search.sought);
    if (found && item != nullptr) {
        *item = UpdaterStoreItem(root_.c_str(), search.found.c_str(),
                                 search.isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE,
                                 readOnly_);
    }
    return found;
}

bool UpdaterStore::FindLocalBuilds(unsigned serial, std::vector<UpdaterStoreItem>& items) {
    UpdaterStoreItem device;
    if (FindDevice(serial, &device)) {
        BuildListing listing{device.FullPath(), &items};
        qDirectory_List(listing.directory.c_str(), findItems, &listing);
    }
    return true;
}
