#include "OutputFormats.h"

#include <algorithm>

#include "CLI_Display.h"
#include "HistoryText.h"
#include "UpdateServerRequest.h"
#include "qDefs.h"

const char* linkTypeName(linkType type) {
    switch (type) {
        case linkTypeUSB:
            return "USB";
        case linkTypeTCPIP:
            return "TCPIP";
        default:
            return "Unknown";
    }
}

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;

void displayDevice(CLI_Display& display, const DeviceInfo& device) {
    const linkSpec& spec = device.specifier;
    const char* model = qDefs_GetModelName(spec.model);
    // A module another Updater is at was not read: on every transport it gets the error line.
    if (spec.type == linkTypeTCPIP && device.error != qErrBusy) {
        // The address is kept in network byte order, so its bytes in memory are in dotted order.
        const unsigned char* ip = reinterpret_cast<const unsigned char*>(&spec.ipAddress);
        char address[20];
        snprintf(address, sizeof address, "[%d.%d.%d.%d]", ip[0], ip[1], ip[2], ip[3]);
        display.message(
            INFO, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)        %-17s  %s",
            spec.serialNumber, spec.module, spec.router, model, device.major, device.minor,
            device.patch, device.build, address, device.deviceName.c_str());
    } else if (device.error != 0) {
        display.message(INFO, "    %08X  [Error (%d): Is someone else connected to this device?]",
                        spec.serialNumber, device.error);
    } else {
        display.message(INFO, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%10u)         %s",
                        spec.serialNumber, spec.module, spec.router, model, device.major,
                        device.minor, device.patch, device.build, device.deviceName.c_str());
    }
}

void displayStoredDevice(CLI_Display& display, const StoredDevice& device) {
    display.message(INFO, "Stored information for device [%s]:", device.name.c_str());
    display.message(INFO, "    Directory: %s", device.directory.c_str());
    if (!device.hasSettings) {
        display.message(INFO, "    Settings: none");
    } else {
        display.message(INFO, "    Settings:");
        for (const auto& [key, value] : device.settings) {
            display.message(INFO, "        %s=%s", key.c_str(), value.c_str());
        }
    }
    if (device.builds.empty()) {
        display.message(INFO, "    Stored builds: none");
        return;
    }
    display.message(INFO, "    Stored builds:");
    for (const StoredBuild& build : device.builds) {
        if (build.readable) {
            display.message(INFO, "        %-20s build %-10u version %s", build.file.c_str(),
                            build.build, build.version.c_str());
        } else {
            display.message(INFO, "        %-20s (not a readable BIRD file)", build.file.c_str());
        }
    }
}

// Nothing for a device without history, so that such a device shows as it always did.
void displayHistory(CLI_Display& display, const std::vector<HistoryEntry>& history, bool entries) {
    const size_t count = history.size();
    if (count == 0) {
        return;
    }
    const char* noun = count == 1 ? "entry" : "entries";
    if (!entries) {
        display.message(INFO, "    History: %zu %s", count, noun);
        return;
    }
    const size_t shown = std::min(count, HISTORY_LINES_SHOWN);
    if (shown == count) {
        display.message(INFO, "    History: %zu %s", count, noun);
    } else {
        display.message(INFO, "    History: %zu %s, the last %zu:", count, noun, shown);
    }
    for (size_t i = count - shown; i < count; ++i) {
        display.message(INFO, "        %s", _history_line_text(history[i]).c_str());
    }
}

}  // namespace

void _display_device_list(CLI_Display& display, std::vector<DeviceInfo>& devices, linkType type) {
    display.message(INFO, "Discovered Devices: (%s)", linkTypeName(type));
    if (devices.empty()) {
        display.message(INFO, "    No devices found.");
        return;
    }
    if (type == linkTypeUSB) {
        display.message(INFO,
                        "    Device    Module   Router  Model          Firmware Version (Build)    "
                        "Device Name");
    } else {
        display.message(INFO,
                        "    Device    Module   Router  Model          Firmware Version (Build)   "
                        "[IP address]       Device Name");
    }
    for (const DeviceInfo& device : devices) {
        displayDevice(display, device);
    }
}

void _display_builds(CLI_Display& display, BuildList& builds, unsigned serial) {
    if (builds.empty()) {
        display.message(INFO, "No builds found for device [%08X]", serial);
        return;
    }
    display.message(INFO, "Build List for device [%08X]:\n", serial);
    display.message(INFO, "%-15.15s\t%-15.15s", "Build", "Version");
    for (const auto& [build, version] : UpdateServerRequest::SortBuildsByVersion(builds)) {
        display.message(INFO, "%-15.15s\t%-15.15s", build.c_str(), version.c_str());
    }
}

void _display_fingerprint(CLI_Display& display, Fingerprint& fingerprint) {
    display.message(INFO, "[ %08X %08X %08X %08X ]", fingerprint.word[0], fingerprint.word[1],
                    fingerprint.word[2], fingerprint.word[3]);
}

void _display_stored_info(CLI_Display& display, const std::vector<StoredDevice>& devices,
                          bool historyEntries) {
    for (const StoredDevice& device : devices) {
        displayStoredDevice(display, device);
        displayHistory(display, device.history, historyEntries);
    }
}
