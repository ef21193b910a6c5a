// What the local store holds for a device: its directory, its settings, its stored builds and
// its history.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ModuleHistory.h"

// One file of a device's directory.
struct StoredBuild {
    std::string file;
    bool readable = false;  // a BIRD file whose header and body load
    unsigned build = 0;     // from the file's information block, when readable
    std::string version;    // likewise
};

struct StoredDevice {
    std::string name;       // the directory's name: the serial number as "%08X"
    std::string directory;  // its full path
    bool hasSettings = false;
    std::map<std::string, std::string> settings;
    std::vector<StoredBuild> builds;    // ordered by file name
    std::vector<HistoryEntry> history;  // the readable lines of its history, oldest first
};
