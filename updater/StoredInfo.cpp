// "-I": what the store holds for a device, read without changing anything on disk (a settings
// file is only read when it exists, since loading a missing one would create it).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "KeyValueStore.h"
#include "Log.h"
#include "Updater.h"

namespace fs = std::filesystem;

namespace {

StoredBuild readStoredBuild(const fs::path& path) {
    StoredBuild stored;
    stored.file = path.filename().string();
    if (!BirdFile::VerifyFile(path.c_str())) {
        return stored;
    }
    try {
        BirdFile file(path.c_str());
        stored.build = file.GetBuild();
        stored.version = file.GetVersion();
        stored.readable = true;
    } catch (const std::runtime_error& error) {
        // A damaged body: listed by name only.
        Log::log(DEBUG_Updater, "Stored file %s does not load: %s\n", path.c_str(), error.what());
    }
    return stored;
}

// The names in directory that do not begin with '.', in byte order; directories only or
// everything else.
std::vector<std::string> entryNames(const fs::path& directory, bool directories) {
    std::vector<std::string> names;
    std::error_code failure;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory, failure)) {
        std::string name = entry.path().filename().string();
        std::error_code kindFailure;
        if (!name.empty() && name[0] != '.' && entry.is_directory(kindFailure) == directories) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

StoredDevice readStoredDevice(const fs::path& directory) {
    StoredDevice device;
    device.name = directory.filename().string();
    device.directory = directory.string();
    const fs::path settingsPath = directory / ".settings";
    std::error_code failure;
    if (fs::is_regular_file(settingsPath, failure)) {
        KeyValueStore settings(settingsPath.c_str());
        device.settings = settings.Entries();
        device.hasSettings = true;
    }
    for (const std::string& name : entryNames(directory, false)) {
        device.builds.push_back(readStoredBuild(directory / name));
    }
    device.history = ModuleHistory_Read((directory / HISTORY_FILE_NAME).string()).entries;
    return device;
}

}  // namespace

std::vector<StoredDevice> Updater::Get_StoredInfo(unsigned serial) {
    std::vector<StoredDevice> devices;
    const fs::path root(storageDirectory);
    std::error_code failure;
    if (serial != 0) {
        char name[16];
        snprintf(name, sizeof name, "%08X", serial);
        if (fs::is_directory(root / name, failure)) {
            devices.push_back(readStoredDevice(root / name));
        }
        return devices;
    }
    for (const std::string& name : entryNames(root, true)) {
        devices.push_back(readStoredDevice(root / name));
    }
    return devices;
}
