// What handling one request produced: the replies and what the link must do next.
#pragma once

#include <string>
#include <vector>

#include "Wire.h"

namespace modulesim {

struct Outcome {
    std::vector<Packet> replies;
    bool reboot = false;         // restart the module once the replies are out
    bool timingChanged = false;  // heartbeat interval or streaming changed
    // Fault knobs that fired on this request, for the log (written before the replies).
    std::vector<std::string> notes;
};

}  // namespace modulesim
