// The firmware upgrade command set (command 95) as the module's loader answers it. This
// firmware has no loader: every request gets an error, so a host fails at once instead of
// waiting for replies that never come.
#pragma once

#include <cstdint>

#include "Outcome.h"

namespace modulesim {

class UpgradeLoader {
  public:
    void handle(const Packet& request, uint8_t address, Outcome& outcome);
    bool takesUeiData() const { return false; }
    void reset() {}
};

}  // namespace modulesim
