// The information block of a BIRD file (block type 4): build, version, serial number and model,
// each a 16-byte field padded with blanks. The simulator reads it on its own, with zlib, so that
// it does not share a reader with the updater it serves.
#pragma once

#include <string>

struct BirdInfo {
    std::string build;
    std::string version;
    std::string serial;
    std::string model;
};

// False when the file is not a readable BIRD file or holds no information block. Fields are
// cut at the first control character and stripped of surrounding blanks.
bool ReadBirdInfo(const std::string& path, BirdInfo* info);
