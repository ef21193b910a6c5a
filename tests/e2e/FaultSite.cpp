#include "FaultSite.h"

#include "FirmwareFixture.h"

namespace firmwaretest {

namespace {

// The host answers a heartbeat with two data bytes of command 0; it sends sync/identify
// requests in bursts while it synchronises the link.
bool sentAtTheClocksPace(const std::string& bytes) {
    return bytes.rfind("04 02 00 ", 0) == 0 || bytes == "AD 00";
}

}  // namespace

FaultSite findFault(const std::string& log, const std::string& mark) {
    const std::string prefix = std::string("modulesim ") + kSerial + " ";
    FaultSite site;
    size_t requests = 0;
    std::string lastRequest;
    bool awaitingNext = false;
    for (const std::string& line : lines(log)) {
        if (line.rfind(prefix, 0) != 0) {
            continue;
        }
        const std::string entry = line.substr(prefix.size());
        if (entry.rfind("< ", 0) == 0) {
            lastRequest = entry.substr(2);
            if (!sentAtTheClocksPace(lastRequest)) {
                ++requests;
                if (awaitingNext) {
                    site.nextRequest = lastRequest;
                    awaitingNext = false;
                }
            }
        }
        if (entry.rfind(mark, 0) != 0) {
            continue;
        }
        if (++site.firings == 1) {
            site.request = requests;
            site.requestLine = lastRequest;
            awaitingNext = true;
        }
    }
    return site;
}

}  // namespace firmwaretest
