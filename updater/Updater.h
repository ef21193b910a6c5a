// The object through which the command line runs every operation. It owns no device
// connection: each operation makes its own store, BIRD files and modules and drops them when it
// returns.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "DeviceInfo.h"
#include "Fingerprint.h"
#include "UpdaterDisplayInterface.h"
#include "qLinkSpec.h"

class UpdaterStore;

// Build number (decimal text) -> version text.
using BuildList = std::map<std::string, std::string>;

class Updater {
  public:
    enum RecoveryChip : uint8_t { CHIP_IMX = 1, CHIP_LPC = 2 };

    Updater(const char* serverUrl, const char* storageDirectory, UpdaterDisplayInterface& display);

    void Set_UEIBytes_Load(bool useUEIBytes) { useUEIBytesLoading = useUEIBytes; }

    std::vector<DeviceInfo> Discover_Devices(linkType type);
    std::vector<DeviceInfo> Discover_ZVNetwork_Devices(unsigned routerSerial, linkType type);

    bool Update_Firmware(unsigned serial, unsigned build, std::string birdFile,
                         unsigned char moduleAddress, unsigned routerSerial, bool overrideChecks);
    BirdFile load_bird(const char* verb, std::string birdFile, unsigned serial, unsigned build,
                       bool downloadIfMissing);

    unsigned Download_Firmware(unsigned serial, std::string build, bool overrideChecks,
                               bool noCalibration);
    BuildList Get_BuildList(unsigned serial);
    BuildList Get_BuildListLocal(unsigned serial);

    bool Get_Fingerprint(Fingerprint& out, std::string port, unsigned serial, std::string birdFile,
                         unsigned baud, bool resetAfter);
    bool Recover_Firmware(std::string port, unsigned build, unsigned baud, unsigned serial,
                          std::string birdFile, bool overrideChecks);

  private:
    // Reports that an operation arrives with a later build of this program.
    void reportUnavailable(const char* operation);

    std::string serverUrl;
    std::string storageDirectory;
    UpdaterDisplayInterface& display;
    [[maybe_unused]] uint8_t recoveryChip = CHIP_IMX;  // set by identification, read by recovery
    bool useUEIBytesLoading = false;
};

// The store for one operation; none (after one error line naming the caller) when it cannot be
// created.
std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display,
                                                  const std::string& storageDirectory,
                                                  const char* caller);
