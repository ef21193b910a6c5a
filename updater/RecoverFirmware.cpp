// "-N" and "-U -t RECOVER": identify the chip whose ROM bootloader answers (LPC first, else
// i.MX), ask the server which module and build it belongs to, and write that build.
#include <optional>
#include <stdexcept>

#include "Log.h"
#include "ModuleLock.h"
#include "RecoverySteps.h"
#include "SerialPortLock.h"
#include "UpdateServerRequest.h"
#include "Updater.h"
#include "unix_time.h"

namespace {

constexpr auto INFO = UpdaterDisplayInterface::LEVEL_INFO;
constexpr auto ERROR = UpdaterDisplayInterface::LEVEL_ERROR;
// Identification always talks to the bootloader at this rate.
constexpr unsigned IDENTIFICATION_BAUD = 115200;

// Held for the whole run: identification and writing open the port separately, and no other
// Updater may get at the bootloader between them. False after one error line when another
// program holds the port; an i.MX chip on USB has no port to hold.
bool lockRecoveryPort(UpdaterDisplayInterface& display, const std::string& port,
                      std::optional<SerialPortLock>& lock, bool& busy) {
    busy = false;
    if (port == RECOVERY_PORT_USB) {
        return true;
    }
    lock.emplace(port);
    busy = lock->busy();
    if (busy) {
        display.message(ERROR, "Port %s is being used by another Updater (process %d)",
                        port.c_str(), static_cast<int>(lock->holder()));
        return false;
    }
    return true;
}

bool isRealSerial(unsigned serial) {
    return serial != 0 && serial != UNKNOWN_RECOVERY_SERIAL;
}

}  // namespace

bool Updater::Get_Fingerprint(Fingerprint& out, std::string port, unsigned serial,
                              std::string birdFile, unsigned baud, bool resetAfter) {
    std::optional<SerialPortLock> portLock;
    if (!lockRecoveryPort(display, port, portLock, recoveryPortBusy)) {
        return false;
    }
    return identifyChip(out, port, serial, birdFile, baud, resetAfter);
}

bool Updater::identifyChip(Fingerprint& out, const std::string& port, unsigned serial,
                           const std::string& birdFile, unsigned baud, bool resetAfter) {
    if (_get_fingerprint_lpc(port, baud, out)) {
        recoveryChip = CHIP_LPC;
        return true;
    }
    recoveryChip = CHIP_IMX;
    if (dryRun) {
        display.message(ERROR,
                        "No LPC bootloader answered on %s, and a dry run does not start the "
                        "recovery loader through which an i.MX chip is identified",
                        port.c_str());
        outcome.result = UpdateResult::ERROR;
        return false;
    }
    return _get_fingerprint_imx(display, *this, port, serial, birdFile, out, resetAfter);
}

bool Updater::Recover_Firmware(std::string port, unsigned build, unsigned baud, unsigned serial,
                               std::string birdFile, bool overrideChecks) {
    const unsigned errorsBefore = display.errors_shown();
    const uint64_t started = qTime_GetMSTicks();
    outcome = UpdateOutcome();
    outcome.serial = isRealSerial(serial) ? serial : 0;
    outcome.link = "RECOVER";
    announceDryRun(serial);
    const bool ok = recoverFirmware(port, build, baud, serial, birdFile, overrideChecks);
    finishOutcome(ok, errorsBefore, started);
    closeAttempt();
    return ok;
}

bool Updater::recoverFirmware(std::string port, unsigned build, unsigned baud, unsigned serial,
                              std::string birdFile, bool) {
    const uint64_t started = qTime_GetMSTicks();
    std::optional<SerialPortLock> portLock;
    if (!lockRecoveryPort(display, port, portLock, recoveryPortBusy)) {
        return false;
    }
    const unsigned errorsBefore = display.errors_shown();
    Fingerprint fingerprint;
    if (!identifyChip(fingerprint, port, serial, birdFile, IDENTIFICATION_BAUD, false)) {
        // A reason the identification gave the user already (its recovery image) is the one
        // line; otherwise the chip did not answer.
        if (display.errors_shown() == errorsBefore) {
            display.message(ERROR, "Could not get Device Identifier");
        }
        return false;
    }
    unsigned recoveryBuild = 0;
    if (birdFile.empty()) {
        uint32_t serverSerial = serial;
        uint32_t serverBuild = 0;
        if (!UpdateServerRequest::GetRecoveryInfo(fingerprint.word, &serverSerial, &serverBuild,
                                                  serverUrl.c_str())) {
            display.message(ERROR, "Failed to retrieve recovery information from Pelmorax server");
            return false;
        }
        serial = serverSerial;
        recoveryBuild = build != 0 ? build : serverBuild;
        outcome.source = BuildSource::RECOVERY_SERVER;
    } else {
        outcome.source = BuildSource::FILE_GIVEN;
    }
    outcome.serial = isRealSerial(serial) ? serial : 0;
    outcome.chosenBuild = recoveryBuild;
    // Once the module is known, an update of it through its own link must wait for this one.
    if (isRealSerial(serial) && !holdModule(serial)) {
        return false;
    }
    BirdFile file;
    if (dryRun && birdFile.empty() && !storedRecoveryImage(serial, recoveryBuild)) {
        display.message(INFO, "Dry run: build %u would be downloaded first", recoveryBuild);
        return planRecovery(baud);
    }
    try {
        file = dryRun ? loadStoredOrGiven(serial, birdFile, recoveryBuild, "Recovering")
                      : load_bird("Recovering", birdFile, serial, recoveryBuild, true);
    } catch (const std::runtime_error&) {
        display.message(ERROR, "Failed to load bird file");
        return false;
    }
    noteFile(file);
    if (file.GetBlocks().empty()) {
        // Without a path the store could not be made, which has been reported.
        if (!file.GetPath().empty()) {
            display.message(ERROR, "%s", RECOVERY_IMAGE_WITHOUT_BLOCKS);
        }
        return false;
    }
    if (file.HasSerialNumberBlock()) {
        display.message(ERROR, "Updater does not support offline recovery");
        return false;
    }
    bool ok = false;
    if (recoveryChip == CHIP_LPC) {
        const unsigned key[4] = {fingerprint.word[0], fingerprint.word[1], fingerprint.word[2],
                                 fingerprint.word[3]};
        if (!file.DecodeFirmwareBlocks(key)) {
            display.message(ERROR, "Failed to load bird file");
            return false;
        }
        if (dryRun) {
            return planRecovery(baud);
        }
        ok = _recover_firmware_lpc(display, file, port, baud, fingerprint, recoveryEcho);
    } else {
        ok = _recover_firmware_imx(display, file, serial, useUEIBytesLoading);
    }
    if (ok) {
        display.message(INFO, "Update time: %.4f sec",
                        double(qTime_GetMSTicks() - started) / 1000.0);
    }
    return ok;
}
