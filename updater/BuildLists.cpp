// "-B" and "-L": the builds the server offers for a module, and the builds stored for it.
#include <stdexcept>

#include "Log.h"
#include "UpdateServerRequest.h"
#include "Updater.h"
#include "UpdaterStore.h"

namespace {

// The version in a stored file's information block; empty when the file does not load.
std::string storedVersion(const std::string& path) {
    if (!BirdFile::VerifyFile(path.c_str())) {
        Log::log(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", path.c_str());
        return std::string();
    }
    try {
        std::string version = BirdFile(path.c_str()).GetVersion();
        if (!version.empty()) {
            Log::log(DEBUG_Updater, "Found VERSION in birdfile: %s - Version: \n", path.c_str());
        }
        return version;
    } catch (const std::runtime_error&) {
        // A damaged body is listed without a version rather than ending the listing.
        Log::log(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", path.c_str());
        return std::string();
    }
}

}  // namespace

BuildList Updater::Get_BuildList(unsigned serial) {
    BuildList builds;
    if (!UpdateServerRequest::ping(serverUrl.c_str())) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Server request failed for %s",
                        serverUrl.c_str());
        return builds;
    }
    if (!UpdateServerRequest::GetBuildList(serial, builds, serverUrl.c_str())) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Failed to retrieve builds for %08X",
                        serial);
        builds.clear();
    }
    return builds;
}

BuildList Updater::Get_BuildListLocal(unsigned serial) {
    BuildList builds;
    std::unique_ptr<UpdaterStore> store =
        _createUpdaterStore(display, storageDirectory, "Get_BuildListLocal");
    if (!store) {
        return builds;
    }
    std::vector<UpdaterStoreItem> items;
    store->FindLocalBuilds(serial, items);
    for (const UpdaterStoreItem& item : items) {
        const std::string& name = item.Name();
        std::string key = name.substr(0, name.find(".bird"));
        std::string version;
        if (item.IsValid()) {
            version = storedVersion(item.ParentPath() + "/" + name);
        }
        builds.emplace(key, version);  // the first entry of a key stays
    }
    return builds;
}
