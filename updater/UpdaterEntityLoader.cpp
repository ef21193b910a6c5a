// Starting, restarting and rebooting the module's upgrade loader.
#include <chrono>
#include <thread>

#include "Log.h"
#include "Module.h"
#include "UpdaterEntity.h"
#include "autoGen_SystemClass_CPP.h"
#include "qPacket.h"

using Pelmorax::Zendrival::Link;
using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;

namespace {

void sleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

constexpr unsigned RECONNECT_ATTEMPTS = 5;
constexpr unsigned REBOOT_POLL_MS = 250;
constexpr uint32_t POOLED_PACKETS_FEATURE = 0x80000000u;

}  // namespace

qErr UpdaterEntity::LoaderInit() {
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader Initialization {cmdUPGRADE, val_UPGRADE_INIT}\n");
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t length = 0;
    const qErr result =
        exchange(val_UPGRADE_INIT, nullptr, 0, "INIT", val_UPGRADE_INIT, reply, length);
    if (result != qErrNone) {
        return result;
    }
    // 95, 0 and a byte of the loader's own come before the 4-byte base address, so a whole reply
    // has 7 data bytes; reading the address from a shorter one would run past what was received.
    if (length < 7) {
        return qErrPacket;
    }
    uint32_t base = (uint32_t(reply[3]) << 24) | (uint32_t(reply[4]) << 16) |
                    (uint32_t(reply[5]) << 8) | uint32_t(reply[6]);
    Log::log(DEBUG_Network_FIRM, "NETWORK: load base = %d [%08X]\n", base, base);
    return qErrNone;
}

qErr UpdaterEntity::LoaderStart() {
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader Start {cmdUPGRADE, val_UPGRADE_LOAD}\n");
    qErr result = sendLogged(val_UPGRADE_LOAD, nullptr, 0, "LOAD");
    if (result != qErrNone) {
        return result;
    }
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t length = 0;
    result = awaitReply(val_UPGRADE_LOAD, reply, length);
    if (result == qErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated start\n");
        return qErrNone;
    }
    // The module may have restarted into its loader before answering.
    result = reconnect(500);
    if (result != qErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Invalid or reply when starting loader. [%d, %s]\n",
                 result, qError_GetErrorText(result));
        return qErrTimeout;
    }
    result = awaitReply(val_UPGRADE_LOAD, reply, length);
    if (result == qErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated start (Reconnect)\n");
        return qErrNone;
    }
    Log::log(DEBUG_Network_FIRM,
             "NETWORK: Invalid or reply when starting loader (Reconnect). [%d, %s]\n", result,
             qError_GetErrorText(result));
    return qErrTimeout;
}

namespace {

// Up to RECONNECT_ATTEMPTS of connect, each announced with attemptFormat, delayMs apart.
template <typename Connect>
qErr attemptReconnect(const char* attemptFormat, unsigned delayMs, Connect connect) {
    qErr result = qErrConnection;
    for (unsigned attempt = 1; attempt <= RECONNECT_ATTEMPTS; ++attempt) {
        Log::log(DEBUG_Network, attemptFormat, attempt, RECONNECT_ATTEMPTS);
        result = connect();
        if (result == qErrNone) {
            Log::log(DEBUG_Network, "NETWORK: Reconnected to device\n");
            return qErrNone;
        }
        Log::log(DEBUG_Network, "NETWORK: Couldn't reconnect to device delaying: %d ms\n", delayMs);
        sleepMs(delayMs);
    }
    return result;
}

}  // namespace

qErr UpdaterEntity::reconnect(unsigned delayMs) {
    module->disconnect();
    qErr result = attemptReconnect("NETWORK: Attempting to reconnect. Attempt: %d of %d\n", delayMs,
                                   [this] { return module->reconnect(); });
    if (result == qErrNone) {
        return qErrNone;
    }
    // A loader that lost its serial number comes back under the default one, on USB only.
    return attemptReconnect("NETWORK: Attempting to reconnect DEFAULT sn. Attempt: %d of %d\n",
                            delayMs,
                            [this] { return module->connect(linkTypeUSB, DEFAULT_SERIAL_NUMBER); });
}

qErr UpdaterEntity::LoaderReboot(UpdaterDisplayInterface& display) {
    Log::log(DEBUG_Network_FIRM, "NETWORK: LoaderReboot {cmdUPGRADE, val_UPGRADE_REBOOT}\n");
    qErr result = sendUpgrade(val_UPGRADE_REBOOT, nullptr, 0);
    if (result != qErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending Loader REBOOT\n");
    }
    // Bounded: a module that never drops its link must not hold the update forever.
    for (unsigned waited = 0; module->isConnected() && waited < REBOOT_WAIT_LIMIT_MS;
         waited += REBOOT_POLL_MS) {
        sleepMs(REBOOT_POLL_MS);
        display.update_spinner(true, "Verifying Update");
        Log::log(DEBUG_Network_FIRM, "Waiting for link to drop.\n");
        Log::log(DEBUG_Network_FIRM, "Rebooting Device\n");
        if (quickReboot) {
            break;
        }
    }
    display.update_spinner(false, "Verifying Update");
    return result;
}

qErr UpdaterEntity::CheckUEIDataSupport() {
    qErr answer = module->hasUEI(cmdUPGRADE, val_UPGRADE_DATA_UEI, 0, 0x80);
    if (answer == qErrNone) {
        useUEIData = true;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: CheckUEIDataSupport: Error: %d\n", answer);
    return answer;
}

qErr UpdaterEntity::CheckPooledPacketsSupport() {
    Link* link = module != nullptr ? module->getLink() : nullptr;
    if (link == nullptr) {
        return qErrConnection;
    }
    SystemClass system;
    system.init(module, 0);
    uint32_t features = 0;
    qErr result = system.getProtocolFeatures(&features);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Protocol Version: %d Error: %d\n", features, result);
    if (result == qErrNone && (features & POOLED_PACKETS_FEATURE) != 0) {
        link->enablePooledPackets(true);
    }
    return result;
}
