// The system entity (command 3, index 0): identity, settings and measurements of the module.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Outcome.h"
#include "SimConfig.h"
#include "Uei.h"

namespace modulesim {

enum Access : uint8_t { kAccessGet = 1, kAccessSet = 2, kAccessCall = 4 };

struct OptionInfo {
    uint8_t option;
    uint8_t access;  // Access bits
    uint8_t width;   // value bytes: 0 none, 1, 4, or kWidthBytes
};
constexpr uint8_t kWidthBytes = 0xFF;

// Settings the host can change; saved and factory copies back the store operations.
struct SystemSettings {
    uint8_t router = 0;
    int heartbeatMs = 1000;  // 0 = no heartbeats
    uint8_t led = 0;
    uint8_t bootSlot = 0;
    uint8_t softwareOffset = 0;
    uint8_t powerBehavior = 0;
    std::vector<uint8_t> powerBehaviorConfig;
    std::vector<uint8_t> name;
    uint32_t powerLimitMax = 25000;
    uint8_t linkInterface = 0;
    uint8_t ledMaxBrightness = 255;
};

class SystemEntity {
  public:
    SystemEntity(const ModuleConfig& config, int64_t startMs);

    // Null when the module has no such option.
    static const OptionInfo* findOption(uint8_t option);
    static const std::vector<OptionInfo>& options();

    void handle(const UeiRequest& request, uint8_t address, int64_t nowMs, Outcome& outcome);
    // Current numeric value of a gettable option (what a get or a stream sample carries).
    bool readNumber(uint8_t option, int64_t nowMs, uint32_t& value) const;

    int heartbeatMs() const { return live_.heartbeatMs; }
    uint32_t build() const { return build_; }
    // The module restarted into firmware of another build, or of another version.
    void runBuild(uint32_t build) { build_ = build; }
    void runVersion(uint8_t major, uint8_t minor, uint8_t patch) {
        version_ = {major, minor, patch};
    }
    // The firmware's major, minor and patch numbers.
    const std::array<uint8_t, 3>& version() const { return version_; }
    uint8_t routeToMe() const { return routeToMe_; }

    void saveSettings() { saved_ = live_; }
    void loadSettings() { live_ = saved_; }
    void restoreFactorySettings() { live_ = factory_; }
    // A restart forgets what was not saved.
    void reboot(int64_t nowMs);
    // The host is gone: a byte sequence it was sending will not be finished.
    void endSession() { collector_.reset(); }

  private:
    void get(const UeiRequest& request, uint8_t address, int64_t nowMs, Outcome& outcome);
    void set(const UeiRequest& request, const OptionInfo& info, uint8_t address, Outcome& outcome);
    void setBytes(const UeiRequest& request, uint8_t address, Outcome& outcome);
    bool writeNumber(uint8_t option, uint32_t value, Outcome& outcome);
    void call(const UeiRequest& request, uint8_t address, Outcome& outcome);
    void uniqueIdentifier(const UeiRequest& request, uint8_t address, Outcome& outcome) const;

    const ModuleConfig& config_;
    int64_t startMs_;  // uptime counts from here
    uint32_t build_;
    std::array<uint8_t, 3> version_;
    SystemSettings factory_;
    SystemSettings saved_;
    SystemSettings live_;
    uint8_t routeToMe_ = 0;
    BytesCollector collector_;
};

}  // namespace modulesim
