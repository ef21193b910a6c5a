// One simulated module: its configuration, its entities and the state the host can change.
// It turns each packet addressed to it into replies; the link it is reached through decides
// when and how they travel.
#pragma once

#include <cstdint>
#include <vector>

#include "FactoryData.h"
#include "I2CBus.h"
#include "Outcome.h"
#include "SimConfig.h"
#include "StoreSlots.h"
#include "StreamControl.h"
#include "SystemEntity.h"
#include "Upgrade.h"

namespace modulesim {

class SimModule {
  public:
    SimModule(const ModuleConfig& config, int64_t nowMs);
    SimModule(const SimModule&) = delete;
    SimModule& operator=(const SimModule&) = delete;

    const ModuleConfig& config() const { return config_; }
    uint8_t address() const { return config_.address; }
    uint32_t serial() const { return config_.serial; }

    void handle(const Packet& request, int64_t nowMs, Outcome& outcome);
    Packet identifyAnswer() const { return Packet(address(), {}); }
    Packet heartbeat() const { return Packet(address(), {kCmdHeartbeat, 0}); }

    void recordRoute(uint8_t route) { route_ = route; }
    uint8_t route() const { return route_; }

    int heartbeatMs() const { return system_.heartbeatMs(); }
    void heartbeatSent() { ++unansweredHeartbeats_; }
    uint32_t unansweredHeartbeats() const { return unansweredHeartbeats_; }

    bool streaming() const { return streams_.streaming(); }
    int streamMs() const { return config_.streamMs; }
    void collectSamples(int64_t nowMs, std::vector<Packet>& out);

    // The host went away: subscriptions, open slots and unfinished transfers end with it.
    void endSession();
    void reboot(int64_t nowMs);
    // The restart that is due boots firmware the upgrade loader just committed.
    bool bootsNewFirmware() const { return upgrade_.bootsNewFirmware(); }
    uint32_t build() const { return system_.build(); }
    // The module runs the firmware that loader wrote and now runs (a loader elsewhere).
    void runFirmwareOf(const SimModule& loader) {
        system_.runBuild(loader.build());
        const std::array<uint8_t, 3>& version = loader.system_.version();
        system_.runVersion(version[0], version[1], version[2]);
    }

    I2CBus& bus() { return bus_; }
    I2CRegisters& i2cTarget() { return i2cTarget_; }

    // Counters for the fault knobs.
    uint64_t repliesSent = 0;
    uint64_t receivedThisSession = 0;
    bool disconnectedOnPurpose = false;  // disconnect-after fires once in the module's life

  private:
    void handleUei(const Packet& request, int64_t nowMs, Outcome& outcome);
    void hostHeartbeat(const Packet& request);

    const ModuleConfig& config_;
    int64_t startMs_;
    SystemEntity system_;
    StreamControl streams_;
    StoreSlots slots_;
    FactoryData factory_;
    UpgradeLoader upgrade_;
    I2CBus bus_;
    I2CRegisters i2cTarget_;
    uint8_t route_ = 0;
    uint32_t unansweredHeartbeats_ = 0;
};

}  // namespace modulesim
