// What the command line prints for device lists, build lists and fingerprints.
#pragma once

#include <vector>

#include "DeviceInfo.h"
#include "Fingerprint.h"
#include "StoredInfo.h"
#include "Updater.h"

class CLI_Display;

// The transport name shown in device lists: "USB", "TCPIP" or "Unknown".
const char* linkTypeName(linkType type);

void _display_device_list(CLI_Display& display, std::vector<DeviceInfo>& devices, linkType type);
void _display_builds(CLI_Display& display, BuildList& builds, unsigned serial);
void _display_fingerprint(CLI_Display& display, Fingerprint& fingerprint);
// "-I": each device's directory, its settings as key=value lines, its stored files and how
// many entries its history has; with historyEntries ("-d") also the latest of them.
void _display_stored_info(CLI_Display& display, const std::vector<StoredDevice>& devices,
                          bool historyEntries);
