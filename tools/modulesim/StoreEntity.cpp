#include "StoreEntity.h"

namespace modulesim {

namespace {

enum StoreOption : uint8_t { kSave = 0, kFactoryReset = 1, kLoad = 2 };

}  // namespace

void handleStoreEntity(const UeiRequest& request, uint8_t address, SystemEntity& system,
                       Outcome& outcome) {
    if (request.index != 0) {
        outcome.replies.push_back(ueiError(address, request, qErrInvalidEntity));
        return;
    }
    if (request.option > kLoad) {
        outcome.replies.push_back(ueiError(address, request, qErrInvalidOption));
        return;
    }
    if (request.get) {
        outcome.replies.push_back(ueiError(address, request, qErrMode));
        return;
    }
    uint32_t target = 0;
    if (!ueiNumericValue(request, 4, target)) {
        ErrorCode code = request.value.size() < 4 ? qErrShortCommand : qErrSize;
        outcome.replies.push_back(ueiError(address, request, code));
        return;
    }
    uint8_t command = static_cast<uint8_t>(target >> 8);
    uint8_t index = static_cast<uint8_t>(target);
    if (index != 0 || (command != kCmdSystem && command != kCmdI2C)) {
        outcome.replies.push_back(ueiError(address, request, qErrInvalidEntity));
        return;
    }
    if (command == kCmdSystem) {
        // The I2C entity keeps no settings of its own, so there is nothing to move for it.
        switch (request.option) {
            case kSave:
                system.saveSettings();
                break;
            case kFactoryReset:
                system.restoreFactorySettings();
                break;
            default:
                system.loadSettings();
                break;
        }
        outcome.timingChanged = true;
    }
    std::vector<uint8_t> echoed;
    appendBigEndian(echoed, target, 4);
    outcome.replies.push_back(ueiAck(address, request, echoed));
}

}  // namespace modulesim
