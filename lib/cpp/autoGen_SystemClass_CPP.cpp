// Options of the system entity; each is one EntityClass exchange.
#include "autoGen_SystemClass_CPP.h"

#include <limits>

namespace Pelmorax {
namespace Zendrival {

namespace {

constexpr uint8_t OPT_INPUT_POWER_BEHAVIOR_CONFIG = 31;
constexpr uint8_t OPT_NAME = 32;
constexpr size_t WORD_BYTES = sizeof(uint32_t);

// The option of each accessor and the type of its value: a get, a set or an action without value.
// The byte runs (power behaviour words and the name) are written out below.
#define SYSTEM_OPTIONS(GET, SET, CALL)        \
    GET(getModule, uint8_t, 1)                \
    GET(getModuleBaseAddress, uint8_t, 14)    \
    SET(setRouter, uint8_t, 2)                \
    GET(getRouter, uint8_t, 2)                \
    SET(setHBInterval, uint8_t, 3)            \
    GET(getHBInterval, uint8_t, 3)            \
    SET(setLED, uint8_t, 4)                   \
    GET(getLED, uint8_t, 4)                   \
    SET(setBootSlot, uint8_t, 6)              \
    GET(getBootSlot, uint8_t, 6)              \
    GET(getVersion, uint32_t, 7)              \
    GET(getModel, uint8_t, 8)                 \
    GET(getSerialNumber, uint32_t, 9)         \
    CALL(save, 10)                            \
    CALL(reset, 11)                           \
    GET(getInputVoltage, uint32_t, 12)        \
    GET(getModuleHardwareOffset, uint8_t, 13) \
    SET(setModuleSoftwareOffset, uint8_t, 15) \
    GET(getModuleSoftwareOffset, uint8_t, 15) \
    GET(getRouterAddressSetting, uint8_t, 16) \
    SET(routeToMe, uint8_t, 20)               \
    GET(getInputCurrent, uint32_t, 21)        \
    GET(getUptime, uint32_t, 22)              \
    GET(getMaximumTemperature, int32_t, 23)   \
    CALL(logEvents, 24)                       \
    GET(getUnregulatedVoltage, int32_t, 25)   \
    GET(getUnregulatedCurrent, int32_t, 26)   \
    GET(getTemperature, int32_t, 27)          \
    GET(getMinimumTemperature, int32_t, 28)   \
    GET(getInputPowerSource, uint8_t, 29)     \
    SET(setInputPowerBehavior, uint8_t, 30)   \
    GET(getInputPowerBehavior, uint8_t, 30)   \
    GET(getPowerLimit, uint32_t, 33)          \
    SET(setPowerLimitMax, uint32_t, 34)       \
    GET(getPowerLimitMax, uint32_t, 34)       \
    GET(getPowerLimitState, uint32_t, 35)     \
    CALL(resetDeviceToFactoryDefaults, 37)    \
    SET(setLinkInterface, uint8_t, 38)        \
    GET(getLinkInterface, uint8_t, 38)        \
    GET(getHardwareVersion, uint32_t, 40)     \
    GET(getErrors, uint32_t, 41)              \
    SET(setLEDMaxBrightness, uint8_t, 42)     \
    GET(getLEDMaxBrightness, uint8_t, 42)     \
    GET(getBuild, uint32_t, 43)               \
    GET(getProtocolFeatures, uint32_t, 45)

qErr getValue(EntityClass& entity, uint8_t option, uint8_t* value) {
    return entity.getUEI8(option, value);
}

qErr getValue(EntityClass& entity, uint8_t option, uint32_t* value) {
    return entity.getUEI32(option, value);
}

// Readings that can fall below zero travel as the 32 bits of their two's complement.
qErr getValue(EntityClass& entity, uint8_t option, int32_t* value) {
    if (value == nullptr) {
        return qErrParam;
    }
    uint32_t raw = 0;
    const qErr result = entity.getUEI32(option, &raw);
    if (result == qErrNone || result == qErrStreamStale) {
        *value = static_cast<int32_t>(raw);
    }
    return result;
}

qErr setValue(EntityClass& entity, uint8_t option, uint8_t value) {
    return entity.setUEI8(option, value);
}

qErr setValue(EntityClass& entity, uint8_t option, uint32_t value) {
    return entity.setUEI32(option, value);
}

}  // namespace

void SystemClass::init(Module* module, uint8_t index) {
    EntityClass::init(module, COMMAND, index);
}

#define DEFINE_GET(name, type, option)         \
    qErr SystemClass::name(type* value) {      \
        return getValue(*this, option, value); \
    }
#define DEFINE_SET(name, type, option)         \
    qErr SystemClass::name(type value) {       \
        return setValue(*this, option, value); \
    }
#define DEFINE_CALL(name, option) \
    qErr SystemClass::name() {    \
        return callUEI(option);   \
    }
SYSTEM_OPTIONS(DEFINE_GET, DEFINE_SET, DEFINE_CALL)
#undef DEFINE_GET
#undef DEFINE_SET
#undef DEFINE_CALL
#undef SYSTEM_OPTIONS

qErr SystemClass::setInputPowerBehaviorConfig(const uint32_t* words, size_t count) {
    if (words == nullptr && count != 0) {
        return qErrParam;
    }
    return setUEIBytes(OPT_INPUT_POWER_BEHAVIOR_CONFIG, reinterpret_cast<const uint8_t*>(words),
                       count * WORD_BYTES);
}

qErr SystemClass::getInputPowerBehaviorConfig(uint32_t* words, size_t capacity, size_t* count) {
    if (words == nullptr || count == nullptr ||
        capacity > std::numeric_limits<size_t>::max() / WORD_BYTES) {
        return qErrParam;
    }
    qErr result = getUEIBytes(OPT_INPUT_POWER_BEHAVIOR_CONFIG, reinterpret_cast<uint8_t*>(words),
                              capacity * WORD_BYTES, count);
    if (result == qErrNone) {
        result = getUEIBytesCheck(count, WORD_BYTES);
    }
    return result;
}

qErr SystemClass::setName(const uint8_t* name, size_t length) {
    return setUEIBytes(OPT_NAME, name, length);
}

qErr SystemClass::getName(uint8_t* name, size_t capacity, size_t* length) {
    qErr result = getUEIBytes(OPT_NAME, name, capacity, length);
    if (result == qErrNone) {
        result = getUEIBytesCheck(length, 1);
    }
    return result;
}

}  // namespace Zendrival
}  // namespace Pelmorax
