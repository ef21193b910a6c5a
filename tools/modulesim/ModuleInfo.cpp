#include "ModuleInfo.h"

#include "SystemEntity.h"
#include "Uei.h"

namespace modulesim {

namespace {

enum InfoQuery : uint8_t {
    kHasUei = 1,
    kClassQuantity = 4,
    kSubClassQuantity = 5,
    kEntityGroup = 6,
    kBuild = 255,
};

struct EntityClass {
    uint8_t command;
    uint8_t count;
    uint8_t group;  // 0 module services, 1 buses
};

const EntityClass kEntities[] = {
    {kCmdSystem, 1, 0}, {kCmdI2C, 1, 1},     {kCmdStoreEntity, 1, 0},
    {kCmdStream, 1, 0}, {kCmdUpgrade, 1, 0},
};

const EntityClass* findClass(uint8_t command) {
    for (const EntityClass& entity : kEntities) {
        if (entity.command == command)
            return &entity;
    }
    return nullptr;
}

// Access bits (Access of SystemEntity.h) of an option of a class other than the system entity.
uint8_t otherOptionAccess(uint8_t command, uint8_t option, const ModuleFacts& facts) {
    switch (command) {
        case kCmdStoreEntity:
            return option <= 2 ? kAccessSet : 0;
        case kCmdStream:
            return option == 1 ? (kAccessGet | kAccessSet) : option == 2 ? kAccessSet : 0;
        case kCmdUpgrade:
            return option == 10 && facts.loaderTakesUeiData ? kAccessSet : 0;
        default:
            return 0;  // the I2C entity speaks raw packets, not UEIs
    }
}

Packet infoError(uint8_t address, uint8_t query, ErrorCode code) {
    return Packet(address, {kCmdModuleInfo, static_cast<uint8_t>(query | 0x80), code});
}

}  // namespace

uint8_t ueiAvailability(uint8_t command, uint8_t option, uint8_t index, uint8_t flags,
                        const ModuleFacts& facts) {
    const EntityClass* entity = findClass(command);
    if (entity == nullptr || index >= entity->count) {
        return qErrInvalidEntity;
    }
    uint8_t access = 0;
    if (command == kCmdSystem) {
        const OptionInfo* info = SystemEntity::findOption(option);
        access = info ? info->access : 0;
    } else {
        access = otherOptionAccess(command, option, facts);
    }
    if (access == 0) {
        return qErrInvalidOption;
    }
    bool canSet = (access & (kAccessSet | kAccessCall)) != 0;
    if (((flags & 0x40) && !(access & kAccessGet)) || ((flags & 0x80) && !canSet)) {
        return qErrMode;
    }
    return qErrNone;
}

void handleModuleInfo(const Packet& request, uint8_t address, const ModuleFacts& facts,
                      Outcome& outcome) {
    const std::vector<uint8_t>& data = request.data;
    if (data.size() < 2) {
        return;
    }
    uint8_t query = data[1];
    size_t needed = query == kHasUei                                        ? 6
                    : query == kClassQuantity                               ? 3
                    : (query == kSubClassQuantity || query == kEntityGroup) ? 4
                                                                            : 2;
    if (data.size() < needed) {
        outcome.replies.push_back(infoError(address, query, qErrShortCommand));
        return;
    }
    // The reply repeats the request; for a UEI query the answer takes the place of the flags.
    size_t echoed = query == kHasUei ? 5 : needed;
    Packet reply(address, std::vector<uint8_t>(data.begin(), data.begin() + echoed));
    const EntityClass* entity = needed > 2 ? findClass(data[2]) : nullptr;
    switch (query) {
        case kBuild:
            appendBigEndian(reply.data, facts.build, 4);
            break;
        case kHasUei:
            reply.data.push_back(ueiAvailability(data[2], data[3], data[4], data[5], facts));
            break;
        case kClassQuantity:
            reply.data.push_back(entity ? entity->count : 0);
            break;
        case kSubClassQuantity:
            // The entities of this module have no sub-classes beyond the class itself.
            reply.data.push_back(entity && data[3] == 0 ? entity->count : 0);
            break;
        case kEntityGroup:
            reply.data.push_back(entity && data[3] < entity->count ? entity->group : 0xFF);
            break;
        default:
            outcome.replies.push_back(infoError(address, query, qErrInvalidOption));
            return;
    }
    outcome.replies.push_back(std::move(reply));
}

}  // namespace modulesim
