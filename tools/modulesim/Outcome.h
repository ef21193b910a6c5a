// What handling one request produced: the replies and what the link must do next.
#pragma once

#include <vector>

#include "Wire.h"

namespace modulesim {

struct Outcome {
    std::vector<Packet> replies;
    bool reboot = false;         // restart the module once the replies are out
    bool timingChanged = false;  // heartbeat interval or streaming changed
};

}  // namespace modulesim
