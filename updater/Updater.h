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
#include "StoredInfo.h"
#include "UpdateOutcome.h"
#include "UpdaterDisplayInterface.h"
#include "qError.h"
#include "qLinkSpec.h"

class KeyValueStore;
class ModuleLock;
class UpdaterStore;
class UpdaterStoreItem;
namespace Pelmorax {
namespace Zendrival {
class Module;
}
}  // namespace Pelmorax

// Build number (decimal text) -> version text.
using BuildList = std::map<std::string, std::string>;

class Updater {
  public:
    enum RecoveryChip : uint8_t { CHIP_IMX = 1, CHIP_LPC = 2 };

    Updater(const char* serverUrl, const char* storageDirectory, UpdaterDisplayInterface& display);
    ~Updater();

    void Set_UEIBytes_Load(bool useUEIBytes) { useUEIBytesLoading = useUEIBytes; }
    // Keeps the LPC bootloader's echo on while the firmware is written ("-e").
    void Set_Recovery_Echo(bool keepEcho) { recoveryEcho = keepEcho; }
    // Recorded with the next successful update in the device's settings ("-l").
    void Set_Transfer_Message(const std::string& message) { transferMessage = message; }
    // "-n": updates, downloads and recoveries make every choice and send, write and lock
    // nothing; they print their plan instead.
    void Set_Dry_Run(bool dry) { dryRun = dry; }
    bool Dry_Run() const { return dryRun; }
    // "--skip-current": an update leaves a module that already runs the chosen build alone.
    void Set_Skip_Current(bool skip) { skipCurrent = skip; }
    // What the module's history records of the program that made an attempt.
    void Set_Command_Line(const std::string& text) { commandLine = text; }
    void Set_Program_Version(const std::string& text) { programVersion = text; }
    const std::string& StorageDirectory() const { return storageDirectory; }
    // The machine's directory of module locks (MACHINE_LOCK_DIRECTORY; tests give their own).
    void Set_Lock_Directory(const std::string& directory) { lockDirectory = directory; }
    const std::string& Lock_Directory() const { return lockDirectory; }
    // How long an update or recovery waits for a module another Updater holds ("-w"); 0 reports
    // it busy at once.
    void Set_Lock_Wait(unsigned seconds) { lockWaitSeconds = seconds; }

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
    // What the last update or recovery found and did, also when it failed.
    const UpdateOutcome& Last_Outcome() const { return outcome; }
    // Whether the last identification or recovery stopped because another program held its port.
    bool Recovery_Port_Busy() const { return recoveryPortBusy; }

    // The store's view of one device, or of every device when serial is 0. Reads only: nothing
    // is created. A device that has no directory gives an empty list.
    std::vector<StoredDevice> Get_StoredInfo(unsigned serial);

  private:
    // The operations behind Update_Firmware and Recover_Firmware, which fill in the outcome.
    bool updateFirmware(unsigned serial, unsigned build, std::string birdFile,
                        unsigned char moduleAddress, unsigned routerSerial, bool overrideChecks);
    bool recoverFirmware(std::string port, unsigned build, unsigned baud, unsigned serial,
                         std::string birdFile, bool overrideChecks);
    // The result (UPDATED or FAILED unless a step chose one), the first error line and the time.
    void finishOutcome(bool ok, unsigned errorsBefore, uint64_t started);
    // Takes serial's lock into heldLocks (a dry run only checks that nobody holds it); false after
    // one error line.
    bool holdModule(unsigned serial);
    // Chooses the build (unless a file is given) and loads its file; false after one error line.
    bool loadUpdateFile(UpdaterStoreItem& item, unsigned serial, unsigned& build,
                        const std::string& birdFile, BirdFile& file);
    bool storeHolds(UpdaterStoreItem& item, unsigned build);
    // The dry run's load_bird: the given file, or the build from the store, creating nothing.
    BirdFile loadStoredOrGiven(unsigned serial, const std::string& birdFile, unsigned build,
                               const char* verb);
    bool storedRecoveryImage(unsigned serial, unsigned build);
    // A recovery dry run's end: the estimate at baud and the plan.
    bool planRecovery(unsigned baud);
    // False after one error line (and WRONG_MODEL when the two do not belong together).
    bool fileFitsModule(BirdFile& file, Pelmorax::Zendrival::Module& target, unsigned serial);
    // With "--skip-current": true (UNCHANGED) when the module already runs the chosen build.
    bool runsChosenBuild(unsigned serial);
    // The connected module's link into the outcome; with "-n" or "--skip-current" also its model
    // and build (read-only requests that a plain update does not make).
    void noteModule(Pelmorax::Zendrival::Module& target, unsigned routerSerial);
    void noteBuildBefore(Pelmorax::Zendrival::Module& target);
    void noteFile(const BirdFile& file);
    void announceDryRun(unsigned serial);
    // The dry run's end: measures the link, estimates the transfer and prints the plan.
    bool planUpdate(Pelmorax::Zendrival::Module& target, const BirdFile& file);
    void showPlan();
    // Appends the finished outcome to the module's history while the module's lock is still
    // held, then lets the lock go.
    void closeAttempt();
    void recordHistory();
    // Get_Fingerprint's work, with the port already held.
    bool identifyChip(Fingerprint& out, const std::string& port, unsigned serial,
                      const std::string& birdFile, unsigned baud, bool resetAfter);
    // The build an update without a file uses: the server's latest when it is stored, else the
    // last download, else the last transfer; 0 when there is none.
    unsigned chooseBuild(UpdaterStoreItem& item, unsigned serial, unsigned build);
    // Connects target through the router; giveUp says the failure ends the update at once.
    qErr connectThroughRouter(Pelmorax::Zendrival::Module& target,
                              std::unique_ptr<Pelmorax::Zendrival::Module>& router, unsigned serial,
                              unsigned routerSerial, bool& giveUp);
    // Runs the server request on a worker while the spinner turns.
    bool fetchBuild(unsigned serial, const std::string& firmware, unsigned build,
                    bool noCalibration, std::string& data);
    // Decodes and stores a downloaded build; its number, or 0 after one error line.
    unsigned storeDownload(UpdaterStoreItem& item, unsigned build, const std::string& data);
    // One error line for a failed update that has not shown one yet.
    void explainFailure(unsigned errorsBefore, qErr result);
    void recordTransfer(UpdaterStore& store, UpdaterStoreItem& item, unsigned serial,
                        const std::string& transferred);
    void recordTransferMessage(KeyValueStore& settings);

    std::string serverUrl;
    std::string storageDirectory;
    std::string lockDirectory;
    bool lockFallbackWarned = false;  // the store's locks have been announced once
    unsigned lockWaitSeconds = 0;
    UpdaterDisplayInterface& display;
    uint8_t recoveryChip = CHIP_IMX;  // set by identification, read by recovery
    bool useUEIBytesLoading = false;
    bool recoveryEcho = false;
    bool recoveryPortBusy = false;
    std::string transferMessage;
    bool dryRun = false;
    std::string commandLine;
    std::string programVersion;
    UpdateOutcome outcome;
    // The locks of the module an update or recovery is at (and of its router), taken by the
    // operation and kept until its history line is written.
    std::vector<std::unique_ptr<ModuleLock>> heldLocks;
    bool skipCurrent = false;
    bool dryRunAnnounced = false;
    unsigned pendingDownload = 0;  // the build a dry run's "-G" would have stored
    unsigned planBaud = 0;         // the line rate a recovery's plan is estimated for
};

// The store for one operation; none (after one error line naming the caller) when it cannot be
// created. A read-only store (a dry run's) creates nothing.
std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display,
                                                  const std::string& storageDirectory,
                                                  const char* caller, bool readOnly = false);

// A user's text as a settings value: line breaks become blanks, blanks at the ends go.
std::string _settings_value_text(const std::string& text);

// Whether the server lists build for the device.
bool _valid_build(unsigned serial, unsigned build, const char* serverUrl);
