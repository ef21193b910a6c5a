#include "SystemEntity.h"

#include <algorithm>
#include <cstdio>

namespace modulesim {

namespace {

constexpr uint8_t kGet = kAccessGet;
constexpr uint8_t kGetSet = kAccessGet | kAccessSet;
constexpr size_t kMaxName = 32;
constexpr size_t kMaxPowerConfig = 64;

enum SystemOption : uint8_t {
    kModule = 1,
    kRouter = 2,
    kHeartbeat = 3,
    kLed = 4,
    kBootSlot = 6,
    kVersion = 7,
    kModel = 8,
    kSerialNumber = 9,
    kSave = 10,
    kReset = 11,
    kInputVoltage = 12,
    kHardwareOffset = 13,
    kBaseAddress = 14,
    kSoftwareOffset = 15,
    kRouterAddressSetting = 16,
    kRouteToMe = 20,
    kInputCurrent = 21,
    kUptime = 22,
    kMaximumTemperature = 23,
    kLogEvents = 24,
    kUnregulatedVoltage = 25,
    kUnregulatedCurrent = 26,
    kTemperature = 27,
    kMinimumTemperature = 28,
    kInputPowerSource = 29,
    kInputPowerBehavior = 30,
    kInputPowerBehaviorConfig = 31,
    kName = 32,
    kPowerLimit = 33,
    kPowerLimitMax = 34,
    kPowerLimitState = 35,
    kFactoryDefaults = 37,
    kLinkInterface = 38,
    kUniqueIdentifier = 39,
    kHardwareVersion = 40,
    kErrors = 41,
    kLedMaxBrightness = 42,
    kBuild = 43,
    kProtocolFeatures = 45,
};

const std::vector<OptionInfo> kOptions = {
    {kModule, kGet, 1},
    {kRouter, kGetSet, 1},
    {kHeartbeat, kGetSet, 1},
    {kLed, kGetSet, 1},
    {kBootSlot, kGetSet, 1},
    {kVersion, kGet, 4},
    {kModel, kGet, 1},
    {kSerialNumber, kGet, 4},
    {kSave, kAccessCall, 0},
    {kReset, kAccessCall, 0},
    {kInputVoltage, kGet, 4},
    {kHardwareOffset, kGet, 1},
    {kBaseAddress, kGet, 1},
    {kSoftwareOffset, kGetSet, 1},
    {kRouterAddressSetting, kGet, 1},
    {kRouteToMe, kAccessSet, 1},
    {kInputCurrent, kGet, 4},
    {kUptime, kGet, 4},
    {kMaximumTemperature, kGet, 4},
    {kLogEvents, kAccessCall, 0},
    {kUnregulatedVoltage, kGet, 4},
    {kUnregulatedCurrent, kGet, 4},
    {kTemperature, kGet, 4},
    {kMinimumTemperature, kGet, 4},
    {kInputPowerSource, kGet, 1},
    {kInputPowerBehavior, kGetSet, 1},
    {kInputPowerBehaviorConfig, kGetSet, kWidthBytes},
    {kName, kGetSet, kWidthBytes},
    {kPowerLimit, kGet, 4},
    {kPowerLimitMax, kGetSet, 4},
    {kPowerLimitState, kGet, 4},
    {kFactoryDefaults, kAccessCall, 0},
    {kLinkInterface, kGetSet, 1},
    {kHardwareVersion, kGet, 4},
    {kErrors, kGet, 4},
    {kLedMaxBrightness, kGetSet, 1},
    {kBuild, kGet, 4},
    {kProtocolFeatures, kGet, 4},
};

std::vector<uint8_t> defaultName(const ModuleConfig& config) {
    if (config.hasName) {
        return std::vector<uint8_t>(config.name.begin(), config.name.end());
    }
    char text[32];
    int length = snprintf(text, sizeof text, "Module %08X", config.serial);
    return std::vector<uint8_t>(text, text + length);
}

}  // namespace

SystemEntity::SystemEntity(const ModuleConfig& config, int64_t startMs)
    : config_(config),
      startMs_(startMs),
      build_(config.build),
      version_{config.major, config.minor, config.patch} {
    factory_.router = static_cast<uint8_t>(config.routerAddress);
    factory_.heartbeatMs = config.heartbeatMs;
    factory_.name = defaultName(config);
    factory_.powerBehaviorConfig = {0, 0, 0x2E, 0xE0, 0, 0, 0x0B, 0xB8};  // 12000, 3000
    saved_ = factory_;
    live_ = factory_;
}

const std::vector<OptionInfo>& SystemEntity::options() {
    return kOptions;
}

const OptionInfo* SystemEntity::findOption(uint8_t option) {
    for (const OptionInfo& info : kOptions) {
        if (info.option == option) {
            return &info;
        }
    }
    return nullptr;
}

void SystemEntity::reboot(int64_t nowMs) {
    live_ = saved_;
    routeToMe_ = 0;
    startMs_ = nowMs;
    collector_.reset();
}

bool SystemEntity::readNumber(uint8_t option, int64_t nowMs, uint32_t& value) const {
    uint32_t uptime = static_cast<uint32_t>((nowMs - startMs_) / 1000);
    switch (option) {
        case kModule:
            value = config_.address;
            break;
        case kRouter:
            value = live_.router;
            break;
        case kHeartbeat:
            value = static_cast<uint32_t>(std::min(live_.heartbeatMs / 10, 255));
            break;
        case kLed:
            value = live_.led;
            break;
        case kBootSlot:
            value = live_.bootSlot;
            break;
        case kVersion:
            value = packVersion(version_[0], version_[1], version_[2]);
            break;
        case kModel:
            value = config_.model;
            break;
        case kSerialNumber:
            value = config_.serial;
            break;
        case kInputVoltage:
            value = 12000;
            break;  // mV
        case kHardwareOffset:
            value = 0;
            break;
        case kBaseAddress:
            value = config_.address;
            break;
        case kSoftwareOffset:
            value = live_.softwareOffset;
            break;
        case kRouterAddressSetting:
            value = static_cast<uint32_t>(config_.routerAddress);
            break;
        case kInputCurrent:
            value = 350;
            break;  // mA
        case kUptime:
            value = uptime;
            break;  // s
        case kMaximumTemperature:
            value = 45000;
            break;  // milli-degrees Celsius
        case kUnregulatedVoltage:
            value = 12100;
            break;
        case kUnregulatedCurrent:
            value = 400;
            break;
        case kTemperature:
            value = 38000 + (uptime % 10) * 100;
            break;
        case kMinimumTemperature:
            value = 21000;
            break;
        case kInputPowerSource:
            value = 1;
            break;
        case kInputPowerBehavior:
            value = live_.powerBehavior;
            break;
        case kPowerLimit:
            value = 20000;
            break;
        case kPowerLimitMax:
            value = live_.powerLimitMax;
            break;
        case kPowerLimitState:
            value = 0;
            break;
        case kLinkInterface:
            value = live_.linkInterface;
            break;
        case kHardwareVersion:
            value = packVersion(1, 0, 0);
            break;
        case kErrors:
            value = 0;
            break;
        case kLedMaxBrightness:
            value = live_.ledMaxBrightness;
            break;
        case kBuild:
            value = build_;
            break;
        case kProtocolFeatures:
            value = config_.protocolFeatures;
            break;
        default:
            return false;
    }
    return true;
}

void SystemEntity::handle(const UeiRequest& request, uint8_t address, int64_t nowMs,
                          Outcome& outcome) {
    if (request.option == kUniqueIdentifier && config_.hasUid) {
        uniqueIdentifier(request, address, outcome);
        return;
    }
    const OptionInfo* info = findOption(request.option);
    if (info == nullptr) {
        outcome.replies.push_back(ueiError(address, request, qErrInvalidOption));
        return;
    }
    if (request.get) {
        if ((info->access & kAccessGet) == 0) {
            outcome.replies.push_back(ueiError(address, request, qErrMode));
            return;
        }
        get(request, address, nowMs, outcome);
        return;
    }
    if (info->access & kAccessCall) {
        call(request, address, outcome);
    } else if ((info->access & kAccessSet) == 0) {
        outcome.replies.push_back(ueiError(address, request, qErrMode));
    } else if (info->width == kWidthBytes) {
        setBytes(request, address, outcome);
    } else {
        set(request, *info, address, outcome);
    }
}

void SystemEntity::get(const UeiRequest& request, uint8_t address, int64_t nowMs,
                       Outcome& outcome) {
    if (request.option == kName) {
        ueiBytesRun(address, request, live_.name, outcome.replies);
        return;
    }
    if (request.option == kInputPowerBehaviorConfig) {
        ueiBytesRun(address, request, live_.powerBehaviorConfig, outcome.replies);
        return;
    }
    uint32_t value = 0;
    readNumber(request.option, nowMs, value);
    outcome.replies.push_back(
        ueiValueReply(address, request, value, findOption(request.option)->width));
}

// Only chips that have one answer it (it is not among the options every module lists); the
// sub-index, sent as a one-byte value, picks one of the four words, the lowest first.
void SystemEntity::uniqueIdentifier(const UeiRequest& request, uint8_t address,
                                    Outcome& outcome) const {
    if (!request.get) {
        outcome.replies.push_back(ueiError(address, request, qErrMode));
        return;
    }
    uint8_t subIndex = request.value.empty() ? 0 : request.value[0];
    if (request.value.size() > 1 || subIndex > 3) {
        outcome.replies.push_back(ueiError(address, request, qErrRange));
        return;
    }
    outcome.replies.push_back(ueiValueReply(address, request, config_.uid[3 - subIndex], 4));
}

void SystemEntity::set(const UeiRequest& request, const OptionInfo& info, uint8_t address,
                       Outcome& outcome) {
    uint32_t value = 0;
    if (!ueiNumericValue(request, info.width, value)) {
        ErrorCode code = request.value.size() < info.width ? qErrShortCommand : qErrSize;
        outcome.replies.push_back(ueiError(address, request, code));
        return;
    }
    if (!writeNumber(request.option, value, outcome)) {
        outcome.replies.push_back(ueiError(address, request, qErrRange));
        return;
    }
    std::vector<uint8_t> stored;
    appendBigEndian(stored, value, info.width);
    outcome.replies.push_back(ueiAck(address, request, stored));
}

bool SystemEntity::writeNumber(uint8_t option, uint32_t value, Outcome& outcome) {
    uint8_t byte = static_cast<uint8_t>(value);
    switch (option) {
        case kRouter:
            live_.router = byte;
            break;
        case kHeartbeat:
            live_.heartbeatMs = byte * 10;
            outcome.timingChanged = true;
            break;
        case kLed:
            live_.led = byte;
            break;
        case kBootSlot:
            if (byte > 1)
                return false;  // two firmware slots
            live_.bootSlot = byte;
            break;
        case kSoftwareOffset:
            live_.softwareOffset = byte;
            break;
        case kRouteToMe:
            routeToMe_ = byte;
            break;
        case kInputPowerBehavior:
            live_.powerBehavior = byte;
            break;
        case kPowerLimitMax:
            live_.powerLimitMax = value;
            break;
        case kLinkInterface:
            live_.linkInterface = byte;
            break;
        case kLedMaxBrightness:
            live_.ledMaxBrightness = byte;
            break;
        default:
            return false;
    }
    return true;
}

void SystemEntity::setBytes(const UeiRequest& request, uint8_t address, Outcome& outcome) {
    bool name = request.option == kName;
    ErrorCode code = qErrNone;
    switch (collector_.add(request, name ? kMaxName : kMaxPowerConfig, &code)) {
        case BytesCollector::Result::NeedMore:
            return;  // one acknowledgement for the whole run
        case BytesCollector::Result::Error:
            outcome.replies.push_back(ueiError(address, request, code));
            return;
        case BytesCollector::Result::Complete:
            break;
    }
    if (name) {
        live_.name = collector_.bytes();
    } else if (collector_.bytes().size() % 4 != 0) {
        outcome.replies.push_back(ueiError(address, request, qErrSize));  // whole words only
        return;
    } else {
        live_.powerBehaviorConfig = collector_.bytes();
    }
    outcome.replies.push_back(ueiAck(address, request));
}

void SystemEntity::call(const UeiRequest& request, uint8_t address, Outcome& outcome) {
    switch (request.option) {
        case kSave:
            saveSettings();
            break;
        case kReset:
            outcome.reboot = true;
            break;
        case kFactoryDefaults:
            live_ = factory_;
            saved_ = factory_;
            outcome.timingChanged = true;
            break;
        default:
            break;  // the event log lives in the module; nothing to show here
    }
    outcome.replies.push_back(ueiAck(address, request));
}

}  // namespace modulesim
