#include "JsonOutput.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "OutputFormats.h"
#include "UpdateServerRequest.h"
#include "qDefs.h"

using nlohmann::json;

namespace {

std::string dottedAddress(const linkSpec& spec) {
    // Kept in network byte order: its bytes in memory are in dotted order.
    const unsigned char* ip = reinterpret_cast<const unsigned char*>(&spec.ipAddress);
    char text[20];
    snprintf(text, sizeof text, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

json deviceObject(const DeviceInfo& device, unsigned routerSerial) {
    const linkSpec& spec = device.specifier;
    json object = {
        {"serial", _json_hex_word(spec.serialNumber)},
        {"link_type", linkTypeName(static_cast<linkType>(spec.type))},
        {"module", spec.module},
        {"router", spec.router},
        {"model", spec.model},
        {"model_name", qDefs_GetModelName(spec.model)},
        {"firmware",
         {{"major", device.major},
          {"minor", device.minor},
          {"patch", device.patch},
          {"build", device.build}}},
        {"device_name", device.deviceName},
        {"error", device.error},
    };
    if (spec.type == linkTypeTCPIP) {
        object["ip_address"] = dottedAddress(spec);
    }
    if (routerSerial != 0) {
        object["router_serial"] = _json_hex_word(routerSerial);
        object["scanned_address"] = device.scannedAddress;
    }
    return object;
}

// A build key is a decimal build number; a stored file may be named otherwise, and then has no
// number.
json buildNumberOf(const std::string& key) {
    if (key.empty() || key.size() > 10 ||
        key.find_first_not_of("0123456789") != std::string::npos) {
        return nullptr;
    }
    unsigned long long value = std::stoull(key);
    return value <= 0xFFFFFFFFull ? json(value) : json(nullptr);
}

json storedDeviceObject(const StoredDevice& device, bool historyEntries) {
    json builds = json::array();
    for (const StoredBuild& build : device.builds) {
        json entry = {{"file", build.file}, {"readable", build.readable}};
        if (build.readable) {
            entry["build"] = build.build;
            entry["version"] = build.version;
        }
        builds.push_back(entry);
    }
    json settings = json::object();
    for (const auto& [key, value] : device.settings) {
        settings[key] = value;
    }
    json object = {{"serial", device.name},
                   {"directory", device.directory},
                   {"settings", settings},
                   {"builds", builds},
                   {"history_count", device.history.size()}};
    if (historyEntries) {
        json history = json::array();
        for (const HistoryEntry& entry : device.history) {
            history.push_back(HistoryEntry_Json(entry));
        }
        object["history"] = history;
    }
    return object;
}

}  // namespace

std::string _json_hex_word(unsigned value) {
    char text[12];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

json _json_device_list(const std::vector<DeviceInfo>& devices, linkType type,
                       unsigned routerSerial) {
    json list = json::array();
    for (const DeviceInfo& device : devices) {
        list.push_back(deviceObject(device, routerSerial));
    }
    json document = {{"command", "discover"}, {"link_type", linkTypeName(type)}};
    if (routerSerial != 0) {
        document["router_serial"] = _json_hex_word(routerSerial);
    }
    document["devices"] = list;
    return document;
}

json _json_device_searches(const std::vector<DeviceSearch>& searches) {
    json types = json::array();
    json list = json::array();
    for (const DeviceSearch& search : searches) {
        types.push_back(linkTypeName(search.type));
        for (const DeviceInfo& device : search.devices) {
            list.push_back(deviceObject(device, 0));
        }
    }
    return {{"command", "discover"}, {"link_types", types}, {"devices", list}};
}

json _json_builds(BuildList& builds, unsigned serial, bool local) {
    json list = json::array();
    for (const auto& [key, version] : UpdateServerRequest::SortBuildsByVersion(builds)) {
        list.push_back({{"name", key}, {"build", buildNumberOf(key)}, {"version", version}});
    }
    return {{"command", local ? "list_local_builds" : "list_builds"},
            {"serial", _json_hex_word(serial)},
            {"builds", list}};
}

json _json_fingerprint(const Fingerprint& fingerprint) {
    json words = json::array();
    for (unsigned word : fingerprint.word) {
        words.push_back(_json_hex_word(word));
    }
    return {{"command", "fingerprint"}, {"fingerprint", words}};
}

json _json_stored_info(const std::vector<StoredDevice>& devices, bool historyEntries) {
    json list = json::array();
    for (const StoredDevice& device : devices) {
        list.push_back(storedDeviceObject(device, historyEntries));
    }
    return {{"command", "stored_info"}, {"devices", list}};
}

json _json_command(const char* name) {
    return {{"command", name}};
}

json _json_download(unsigned serial, unsigned build) {
    json document = _json_command("get_build");
    if (serial != 0) {
        document["serial"] = _json_hex_word(serial);
    }
    if (build != 0) {
        document["build"] = build;
    }
    return document;
}

json _json_check_bird(const std::string& path) {
    json document = _json_command("check_bird");
    if (!path.empty()) {
        document["file"] = path;
    }
    return document;
}

json _json_update(unsigned serial, unsigned routerSerial, const UpdateOutcome& outcome,
                  bool dryRun) {
    json document = _json_command("update");
    if (serial != 0) {
        document["serial"] = _json_hex_word(serial);
    }
    if (routerSerial != 0) {
        document["router_serial"] = _json_hex_word(routerSerial);
    }
    _json_add_outcome(document, outcome, dryRun);
    return document;
}

json _json_recovery(const std::string& port, unsigned serial, const UpdateOutcome& outcome,
                    bool dryRun) {
    json document = _json_command("recover");
    if (!port.empty()) {
        document["serial_port"] = port;
    }
    const unsigned known = serial != 0 ? serial : outcome.serial;
    if (known != 0) {
        document["serial"] = _json_hex_word(known);
    }
    _json_add_outcome(document, outcome, dryRun);
    return document;
}

void _json_add_outcome(json& document, const UpdateOutcome& outcome, bool dryRun) {
    if (outcome.result == UpdateResult::NONE && !dryRun) {
        return;  // the operation never ran
    }
    auto known = [](unsigned value) { return value != 0 ? json(value) : json(nullptr); };
    if (!outcome.link.empty()) {
        document["link_type"] = outcome.link;
    }
    if (!outcome.model.empty()) {
        document["model"] = outcome.model;
    }
    document["build_before"] = known(outcome.buildBefore);
    document["build_after"] = known(outcome.buildAfter);
    if (outcome.result != UpdateResult::NONE) {
        document["result"] = UpdateResultName(outcome.result);
    }
    document["seconds"] = outcome.seconds;
    if (!dryRun) {
        return;
    }
    document["dry_run"] = true;
    document["plan"] = {
        {"build", known(outcome.chosenBuild)},
        {"source", BuildSourceName(outcome.source)},
        {"file", outcome.file.empty() ? json(nullptr) : json(outcome.file)},
        {"blocks", outcome.blocks},
        {"bytes", outcome.bytes},
        {"exchanges", outcome.exchanges},
        {"round_trip_ms", outcome.roundTripMs},
        {"estimate_seconds", outcome.estimateSeconds},
    };
}

void _print_json(const json& document) {
    // Device names and settings come from outside; bytes that are not UTF-8 must not end the run.
    const std::string text = document.dump(2, ' ', false, json::error_handler_t::replace);
    fprintf(stdout, "%s\n", text.c_str());
    fflush(stdout);
}
