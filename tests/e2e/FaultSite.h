// Where a fault fired, read from the module simulator's --log output: the line that shows it (a
// note such as "sends a wrong sum", or a dropped reply "x ..."), the request the module had just
// received, counted from the start, and the request the host sent next. The host's answers to the
// module's heartbeats and its sync/identify requests are left out of the count, as the simulator
// leaves them out of its own: how many of them come depends on timing.
#pragma once

#include <cstddef>
#include <string>

namespace firmwaretest {

struct FaultSite {
    size_t firings = 0;       // lines that show the fault
    size_t request = 0;       // the number of the request the fault first fired on; 0: none
    std::string requestLine;  // that request's bytes, "04 02 5F 04"
    std::string nextRequest;  // the next request's bytes, "" when none came
};

// The fault shown by lines (of the module with serial kSerial) that start with mark.
FaultSite findFault(const std::string& log, const std::string& mark);

}  // namespace firmwaretest
