// The builds the simulated server offers, read from a directory at every request so that a test
// can change them while the server runs:
//   DIR/SSSSSSSS/NNNN.bird   builds of the module with serial number SSSSSSSS ("%08X")
//   DIR/default/NNNN.bird    builds of every module without a directory of its own
//   NNNN.version             (optional, beside a build) its version text on the first line
//   DIR/recovery.txt         the chips recovery requests know (see RecoveryTable.h)
#pragma once

#include <cstdint>
#include <map>
#include <string>

class BuildDirectory {
  public:
    explicit BuildDirectory(std::string root) : root_(std::move(root)) {}

    // The chip table that answers recovery requests.
    std::string recoveryTable() const { return root_ + "/recovery.txt"; }
    // The directory serving this serial number; false when there is none.
    bool folderFor(uint32_t serial, std::string* folder) const;
    // Build number -> path of its .bird file, in ascending order.
    static std::map<unsigned long, std::string> Builds(const std::string& folder);
    // The version text of a build: its .version file, else the information block's field.
    static std::string Version(const std::string& birdPath);
    // What the module's firmware is called: the model field of the information block when it
    // can travel unescaped in a query, else "firmware".
    static std::string FirmwareIdentifier(const std::string& birdPath);

  private:
    std::string root_;
};
