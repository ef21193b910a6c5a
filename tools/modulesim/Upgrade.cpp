#include "Upgrade.h"

#include "Uei.h"

namespace modulesim {

namespace {

enum UpgradeStep : uint8_t {
    kPrepare = 3,
    kSum = 4,
    kWrite = 5,
    kReboot = 6,
    kStatus = 7,  // the common reply of PREPARE, SUM and WRITE
};

}  // namespace

void UpgradeLoader::handle(const Packet& request, uint8_t address, Outcome& outcome) {
    if (request.data.size() < 2) {
        return;
    }
    uint8_t step = request.data[1];
    if (step & kOptionSet) {
        // A block sent as one byte sequence (a UEI set on this class).
        UeiRequest uei;
        parseUeiRequest(request, uei);
        outcome.replies.push_back(ueiError(address, uei, qErrUnimplemented));
        return;
    }
    switch (step) {
        case kPrepare:
        case kSum:
        case kWrite:
            outcome.replies.push_back(Packet(address, {kCmdUpgrade, kStatus, qErrUnimplemented}));
            break;
        case kReboot:
            break;  // never answered
        default:
            outcome.replies.push_back(Packet(
                address, {kCmdUpgrade, static_cast<uint8_t>(step | 0x80), qErrUnimplemented}));
    }
}

}  // namespace modulesim
