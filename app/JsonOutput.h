// "--json": the device list, build lists, fingerprint and stored information as JSON documents,
// with named fields, numbers as numbers and serial numbers as eight hexadecimal digits.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "Fingerprint.h"
#include "StoredInfo.h"
#include "Updater.h"

// routerSerial is 0 for direct discovery.
nlohmann::json _json_device_list(const std::vector<DeviceInfo>& devices, linkType type,
                                 unsigned routerSerial);
// One direct search of "-D" and what it found.
struct DeviceSearch {
    linkType type;
    std::vector<DeviceInfo> devices;
};
// Several searches in one document: "link_types" names them in order and "devices" holds what
// each found, in that order (every device names its own link type).
nlohmann::json _json_device_searches(const std::vector<DeviceSearch>& searches);
// Ordered as the text list is: highest version first.
nlohmann::json _json_builds(BuildList& builds, unsigned serial, bool local);
nlohmann::json _json_fingerprint(const Fingerprint& fingerprint);
nlohmann::json _json_stored_info(const std::vector<StoredDevice>& devices);

// "%08X", the form every serial number and fingerprint word takes.
std::string _json_hex_word(unsigned value);
// Writes the document and a newline to standard output.
void _print_json(const nlohmann::json& document);
