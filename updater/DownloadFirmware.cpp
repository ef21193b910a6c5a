// "-G": fetch one build of a module's firmware from the update server into the store. The request
// runs on a worker thread while this thread turns the spinner.
#include <chrono>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <thread>

#include "Base64.h"
#include "BuildNumber.h"
#include "Log.h"
#include "UpdateServerRequest.h"
#include "Updater.h"
#include "UpdaterStore.h"

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;
constexpr auto ERROR = UpdaterDisplayInterface::LEVEL_ERROR;
constexpr int SPINNER_STEP_MS = 100;

// The build number the user typed: leading digits, trailing text ignored; false when none.
bool parseRequestedBuild(const std::string& text, unsigned& build) {
    try {
        unsigned long value = std::stoul(text, nullptr, 10);
        if (value > 0xFFFFFFFFul) {
            return false;
        }
        build = static_cast<unsigned>(value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool _valid_build(unsigned serial, unsigned build, const char* serverUrl) {
    BuildList builds;
    if (!UpdateServerRequest::GetBuildList(serial, builds, serverUrl)) {
        return false;
    }
    for (const auto& entry : builds) {
        if (_build_number_from_text(entry.first) == build) {
            return true;
        }
    }
    return false;
}

bool Updater::fetchBuild(unsigned serial, const std::string& firmware, unsigned build,
                         bool noCalibration, std::string& data) {
    std::promise<bool> done;
    std::future<bool> result = done.get_future();
    std::thread worker([&done, &data, serial, firmware, build, noCalibration, url = serverUrl]() {
        done.set_value(UpdateServerRequest::GetBuild(serial, firmware.c_str(),
                                                     std::to_string(build).c_str(), data,
                                                     url.c_str(), noCalibration));
    });
    display.update_spinner(true, "Downloading");
    while (result.wait_for(std::chrono::milliseconds(SPINNER_STEP_MS)) !=
           std::future_status::ready) {
        display.update_spinner(true, "Downloading");
    }
    display.update_spinner(false, "Downloading");
    bool ok = result.get();
    worker.join();
    return ok;
}

unsigned Updater::storeDownload(UpdaterStoreItem& item, unsigned build, const std::string& data) {
    size_t length = 0;
    unsigned char* bytes = base64_decode(data.data(), data.size(), &length);
    if (bytes == nullptr) {
        display.message(ERROR, "Failed to retrieve a valid BIRD file");
        return 0;
    }
    // What is stored must be a BIRD file: a reply that decodes to anything else is refused.
    if (!BirdFile::VerifyBytes(bytes, length)) {
        free(bytes);
        display.message(ERROR, "Server sent a build that is not a BIRD file");
        return 0;
    }
    const std::string name = std::to_string(build) + ".bird";
    const std::string stamp = KeyValueStore_TimeStamp();
    int written = item.WriteFile(name.c_str(), bytes, length);
    free(bytes);
    if (written != 0) {
        display.message(ERROR, "Failed to write file with %d", written);
        return 0;
    }
    item.Settings().Add(KEY_LATEST_DOWNLOAD, name);
    item.Settings().Add(KEY_LAST_DOWNLOAD_DATE, stamp);
    item.Settings().Save();
    return build;
}

unsigned Updater::Download_Firmware(unsigned serial, std::string buildText, bool overrideChecks,
                                    bool noCalibration) {
    announceDryRun(serial);
    unsigned build = 0;
    if (!buildText.empty() && !parseRequestedBuild(buildText, build)) {
        display.message(ERROR, "Build number '%s' must be an number", buildText.c_str());
        return 0;
    }
    if (serial == 0) {
        display.message(ERROR, "Serial Number must be non-zero");
        return 0;
    }
    if (!UpdateServerRequest::ping(serverUrl.c_str())) {
        display.message(ERROR, "Server request failed for %s", serverUrl.c_str());
        return 0;
    }
    std::unique_ptr<UpdaterStore> store =
        _createUpdaterStore(display, storageDirectory, "Download_Firmware", dryRun);
    if (!store) {
        return 0;
    }
    UpdaterStoreItem item;
    if (!store->FindDevice(serial, &item) && !dryRun) {
        Log::log(DEBUG_APP, "Could not find device in our update history.\n");
        try {
            item = store->AddDevice(serial);
        } catch (const std::runtime_error&) {
            display.message(ERROR, "Could not create directory for storing BIRD file");
            return 0;
        }
    }
    std::string latest;
    std::string firmware;
    if (!UpdateServerRequest::QueryBuild(serial, latest, firmware, serverUrl.c_str())) {
        display.message(ERROR, "No build information for device");
        return 0;
    }
    if (build == 0) {
        build = _build_number_from_text(latest);
    }
    display.message(INFO, "Retrieving build %u", build);
    if (overrideChecks) {
        display.message(INFO, "Override specified, skipping validation of build %u", build);
    } else {
        display.message(INFO, "Validating build %u with server", build);
        if (!_valid_build(serial, build, serverUrl.c_str())) {
            display.message(ERROR, "No valid build %u", build);
            return 0;
        }
        display.message(INFO, "Build %u is valid", build);
    }
    if (dryRun) {
        // The file is neither fetched nor stored: a following "-U" plans with this build.
        display.message(INFO, "Dry run: build %u would be downloaded into %s", build,
                        storageDirectory.c_str());
        pendingDownload = build;
        return build;
    }
    std::string data;
    bool fetched = fetchBuild(serial, firmware, build, noCalibration, data);
    if (!fetched) {
        display.message(ERROR, "Download failed");
    }
    if (data.empty()) {
        if (fetched) {  // a failed request has said so already
            display.message(ERROR, "Failed to retrieve a valid BIRD file");
        }
        return 0;
    }
    return storeDownload(item, build, data);
}
