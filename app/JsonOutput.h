// "--json": the device list, build lists, fingerprint and stored information as JSON documents,
// with named fields, numbers as numbers and serial numbers as eight hexadecimal digits; the
// download, the file check, the update and the recovery name what they worked on.
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
// Each device's "history_count"; with historyEntries ("-d") its whole history as "history",
// oldest first, each entry as its history line holds it.
nlohmann::json _json_stored_info(const std::vector<StoredDevice>& devices, bool historyEntries);
// A command that failed before it had anything to show: its name alone.
nlohmann::json _json_command(const char* name);
// "-G": the device (when given) and the build stored (0: none was).
nlohmann::json _json_download(unsigned serial, unsigned build);
// "-C": the file checked (when given).
nlohmann::json _json_check_bird(const std::string& path);
// "-U": the device (when given) and the router it was reached through (0: direct).
// An update's document: what the command line named, then what the outcome knows (link, model,
// builds before and after, result, time; a dry run's plan).
nlohmann::json _json_update(unsigned serial, unsigned routerSerial, const UpdateOutcome& outcome,
                            bool dryRun);
// "-U -t RECOVER": the serial port (when given) and the device named with "-d" (0: none).
nlohmann::json _json_recovery(const std::string& port, unsigned serial,
                              const UpdateOutcome& outcome, bool dryRun);
// The outcome's members of an update or recovery document.
void _json_add_outcome(nlohmann::json& document, const UpdateOutcome& outcome, bool dryRun);

// "%08X", the form every serial number and fingerprint word takes.
std::string _json_hex_word(unsigned value);
// Writes the document and a newline to standard output.
void _print_json(const nlohmann::json& document);
