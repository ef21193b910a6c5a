// Stream control (command 93) and the stream samples a subscribed module sends on its own.
#pragma once

#include <cstdint>
#include <vector>

#include "Outcome.h"
#include "SystemEntity.h"
#include "Uei.h"

namespace modulesim {

class StreamControl {
  public:
    explicit StreamControl(const SystemEntity& system) : system_(system) {}

    void handle(const UeiRequest& request, uint8_t address, Outcome& outcome);
    bool streaming() const { return !subscriptions_.empty(); }
    // One sample packet per subscribed value, at most kMaxSamplesPerTick per call; a large
    // subscription is served in turns.
    void collectSamples(uint8_t address, int64_t sinceStartMs, int64_t nowMs,
                        std::vector<Packet>& out);
    void clear() { subscriptions_.clear(); }

    static constexpr size_t kMaxSamplesPerTick = 16;

  private:
    struct Value {
        uint8_t command;
        uint8_t option;
        uint8_t index;
        uint8_t width;
    };
    // The values of the module a key covers (255 in an element means any).
    static std::vector<Value> valuesFor(uint32_t key);
    std::vector<Value> subscribedValues() const;

    const SystemEntity& system_;
    std::vector<uint32_t> subscriptions_;  // keys as the host sent them
    size_t nextSample_ = 0;
};

}  // namespace modulesim
