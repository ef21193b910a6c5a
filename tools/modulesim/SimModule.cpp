#include "SimModule.h"

#include "ModuleInfo.h"
#include "StoreEntity.h"

namespace modulesim {

namespace {

constexpr uint8_t kHeartbeatUpAnswer = 2;
constexpr uint8_t kHeartbeatDownAnswer = 3;

}  // namespace

SimModule::SimModule(const ModuleConfig& config, int64_t nowMs)
    : config_(config),
      startMs_(nowMs),
      system_(config, nowMs),
      streams_(system_),
      factory_(config.serial, config.model),
      upgrade_(config.loader) {}

void SimModule::handle(const Packet& request, int64_t nowMs, Outcome& outcome) {
    if (request.data.empty()) {
        return;  // a bare packet to a module address asks for nothing
    }
    uint8_t address = this->address();
    switch (request.data[0]) {
        case kCmdHeartbeat:
            hostHeartbeat(request);
            break;
        case kCmdStoreSlot:
            slots_.handle(request, address, outcome);
            break;
        case kCmdI2C:
            bus_.handle(request, address, outcome);
            break;
        case kCmdEcho:
            outcome.replies.push_back(Packet(address, request.data));
            break;
        case kCmdModuleInfo:
            handleModuleInfo(request, address,
                             ModuleFacts{system_.build(), upgrade_.takesUeiData()}, outcome);
            break;
        case kCmdFactoryData:
            factory_.handle(request, address, outcome);
            break;
        case kCmdUpgrade:
            upgrade_.handle(request, address, outcome);
            break;
        case 1:
        case 2:
        case 9:
        case 24:
            break;  // link-level codes of other devices; nothing a module answers
        default:
            handleUei(request, nowMs, outcome);
            break;
    }
}

void SimModule::hostHeartbeat(const Packet& request) {
    if (request.data.size() == 2 &&
        (request.data[1] == kHeartbeatUpAnswer || request.data[1] == kHeartbeatDownAnswer)) {
        unansweredHeartbeats_ = 0;
    }
}

void SimModule::handleUei(const Packet& request, int64_t nowMs, Outcome& outcome) {
    UeiRequest uei;
    if (!parseUeiRequest(request, uei)) {
        // Not a request this module can place; answer in the error form so a waiting host
        // hears about it.
        if (request.data.size() >= 3) {
            uei.set = false;
            outcome.replies.push_back(ueiError(address(), uei, qErrParam));
        }
        return;
    }
    switch (uei.command) {
        case kCmdSystem:
            if (uei.index != 0) {
                outcome.replies.push_back(ueiError(address(), uei, qErrInvalidEntity));
                return;
            }
            system_.handle(uei, address(), nowMs, outcome);
            return;
        case kCmdStoreEntity:
            handleStoreEntity(uei, address(), system_, outcome);
            return;
        case kCmdStream:
            streams_.handle(uei, address(), outcome);
            return;
        default:
            outcome.replies.push_back(ueiError(address(), uei, qErrInvalidEntity));
            return;
    }
}

void SimModule::collectSamples(int64_t nowMs, std::vector<Packet>& out) {
    streams_.collectSamples(address(), nowMs - startMs_, nowMs, out);
}

void SimModule::endSession() {
    streams_.clear();
    slots_.closeAll();
    factory_.abandonTransfer();
    system_.endSession();
    upgrade_.abandonBlock();
    unansweredHeartbeats_ = 0;
    receivedThisSession = 0;
}

void SimModule::reboot(int64_t nowMs) {
    endSession();
    const FirmwareStamps stamps = upgrade_.restart();
    if (stamps.hasBuild) {
        system_.runBuild(stamps.build);
    }
    if (stamps.hasVersion) {
        system_.runVersion(stamps.major, stamps.minor, stamps.patch);
    }
    system_.reboot(nowMs);
    startMs_ = nowMs;
    route_ = 0;
}

}  // namespace modulesim
