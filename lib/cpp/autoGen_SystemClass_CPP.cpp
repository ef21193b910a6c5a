// Options of the system entity; each is one EntityClass exchange.
#include "autoGen_SystemClass_CPP.h"

#include <limits>

namespace Pelmorax {
namespace Zendrival {

namespace {

enum SystemOption : uint8_t {
    OPT_MODULE = 1,
    OPT_ROUTER = 2,
    OPT_HB_INTERVAL = 3,
    OPT_LED = 4,
    OPT_BOOT_SLOT = 6,
    OPT_VERSION = 7,
    OPT_MODEL = 8,
    OPT_SERIAL_NUMBER = 9,
    OPT_SAVE = 10,
    OPT_RESET = 11,
    OPT_INPUT_VOLTAGE = 12,
    OPT_HARDWARE_OFFSET = 13,
    OPT_MODULE_BASE_ADDRESS = 14,
    OPT_SOFTWARE_OFFSET = 15,
    OPT_ROUTER_ADDRESS_SETTING = 16,
    OPT_ROUTE_TO_ME = 20,
    OPT_INPUT_CURRENT = 21,
    OPT_UPTIME = 22,
    OPT_MAXIMUM_TEMPERATURE = 23,
    OPT_LOG_EVENTS = 24,
    OPT_UNREGULATED_VOLTAGE = 25,
    OPT_UNREGULATED_CURRENT = 26,
    OPT_TEMPERATURE = 27,
    OPT_MINIMUM_TEMPERATURE = 28,
    OPT_INPUT_POWER_SOURCE = 29,
    OPT_INPUT_POWER_BEHAVIOR = 30,
    OPT_INPUT_POWER_BEHAVIOR_CONFIG = 31,
    OPT_NAME = 32,
    OPT_POWER_LIMIT = 33,
    OPT_POWER_LIMIT_MAX = 34,
    OPT_POWER_LIMIT_STATE = 35,
    OPT_RESET_TO_FACTORY = 37,
    OPT_LINK_INTERFACE = 38,
    OPT_HARDWARE_VERSION = 40,
    OPT_ERRORS = 41,
    OPT_LED_MAX_BRIGHTNESS = 42,
    OPT_BUILD = 43,
    OPT_PROTOCOL_FEATURES = 45,
};

constexpr size_t WORD_BYTES = sizeof(uint32_t);

}  // namespace

void SystemClass::init(Module* module, uint8_t index) {
    EntityClass::init(module, COMMAND, index);
}

qErr SystemClass::getSigned32(uint8_t option, int32_t* value) {
    if (value == nullptr) {
        return qErrParam;
    }
    uint32_t raw = 0;
    const qErr result = getUEI32(option, &raw);
    if (result == qErrNone || result == qErrStreamStale) {
        *value = static_cast<int32_t>(raw);
    }
    return result;
}

qErr SystemClass::getModule(uint8_t* address) {
    return getUEI8(OPT_MODULE, address);
}
qErr SystemClass::getModuleBaseAddress(uint8_t* address) {
    return getUEI8(OPT_MODULE_BASE_ADDRESS, address);
}
qErr SystemClass::setRouter(uint8_t router) {
    return setUEI8(OPT_ROUTER, router);
}
qErr SystemClass::getRouter(uint8_t* router) {
    return getUEI8(OPT_ROUTER, router);
}
qErr SystemClass::setHBInterval(uint8_t interval) {
    return setUEI8(OPT_HB_INTERVAL, interval);
}
qErr SystemClass::getHBInterval(uint8_t* interval) {
    return getUEI8(OPT_HB_INTERVAL, interval);
}
qErr SystemClass::setLED(uint8_t led) {
    return setUEI8(OPT_LED, led);
}
qErr SystemClass::getLED(uint8_t* led) {
    return getUEI8(OPT_LED, led);
}
qErr SystemClass::setBootSlot(uint8_t slot) {
    return setUEI8(OPT_BOOT_SLOT, slot);
}
qErr SystemClass::getBootSlot(uint8_t* slot) {
    return getUEI8(OPT_BOOT_SLOT, slot);
}
qErr SystemClass::getVersion(uint32_t* version) {
    return getUEI32(OPT_VERSION, version);
}
qErr SystemClass::getModel(uint8_t* model) {
    return getUEI8(OPT_MODEL, model);
}
qErr SystemClass::getSerialNumber(uint32_t* serialNumber) {
    return getUEI32(OPT_SERIAL_NUMBER, serialNumber);
}
qErr SystemClass::save() {
    return callUEI(OPT_SAVE);
}
qErr SystemClass::reset() {
    return callUEI(OPT_RESET);
}
qErr SystemClass::getInputVoltage(uint32_t* voltage) {
    return getUEI32(OPT_INPUT_VOLTAGE, voltage);
}
qErr SystemClass::getModuleHardwareOffset(uint8_t* offset) {
    return getUEI8(OPT_HARDWARE_OFFSET, offset);
}
qErr SystemClass::setModuleSoftwareOffset(uint8_t offset) {
    return setUEI8(OPT_SOFTWARE_OFFSET, offset);
}
qErr SystemClass::getModuleSoftwareOffset(uint8_t* offset) {
    return getUEI8(OPT_SOFTWARE_OFFSET, offset);
}
qErr SystemClass::getRouterAddressSetting(uint8_t* address) {
    return getUEI8(OPT_ROUTER_ADDRESS_SETTING, address);
}
qErr SystemClass::routeToMe(uint8_t enable) {
    return setUEI8(OPT_ROUTE_TO_ME, enable);
}
qErr SystemClass::getInputCurrent(uint32_t* current) {
    return getUEI32(OPT_INPUT_CURRENT, current);
}
qErr SystemClass::getUptime(uint32_t* uptime) {
    return getUEI32(OPT_UPTIME, uptime);
}
qErr SystemClass::getMaximumTemperature(int32_t* temperature) {
    return getSigned32(OPT_MAXIMUM_TEMPERATURE, temperature);
}
qErr SystemClass::logEvents() {
    return callUEI(OPT_LOG_EVENTS);
}
qErr SystemClass::getUnregulatedVoltage(int32_t* voltage) {
    return getSigned32(OPT_UNREGULATED_VOLTAGE, voltage);
}
qErr SystemClass::getUnregulatedCurrent(int32_t* current) {
    return getSigned32(OPT_UNREGULATED_CURRENT, current);
}
qErr SystemClass::getTemperature(int32_t* temperature) {
    return getSigned32(OPT_TEMPERATURE, temperature);
}
qErr SystemClass::getMinimumTemperature(int32_t* temperature) {
    return getSigned32(OPT_MINIMUM_TEMPERATURE, temperature);
}
qErr SystemClass::getInputPowerSource(uint8_t* source) {
    return getUEI8(OPT_INPUT_POWER_SOURCE, source);
}
qErr SystemClass::setInputPowerBehavior(uint8_t behavior) {
    return setUEI8(OPT_INPUT_POWER_BEHAVIOR, behavior);
}
qErr SystemClass::getInputPowerBehavior(uint8_t* behavior) {
    return getUEI8(OPT_INPUT_POWER_BEHAVIOR, behavior);
}

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

qErr SystemClass::getPowerLimit(uint32_t* limit) {
    return getUEI32(OPT_POWER_LIMIT, limit);
}
qErr SystemClass::setPowerLimitMax(uint32_t limit) {
    return setUEI32(OPT_POWER_LIMIT_MAX, limit);
}
qErr SystemClass::getPowerLimitMax(uint32_t* limit) {
    return getUEI32(OPT_POWER_LIMIT_MAX, limit);
}
qErr SystemClass::getPowerLimitState(uint32_t* state) {
    return getUEI32(OPT_POWER_LIMIT_STATE, state);
}
qErr SystemClass::resetDeviceToFactoryDefaults() {
    return callUEI(OPT_RESET_TO_FACTORY);
}
qErr SystemClass::setLinkInterface(uint8_t linkInterface) {
    return setUEI8(OPT_LINK_INTERFACE, linkInterface);
}
qErr SystemClass::getLinkInterface(uint8_t* linkInterface) {
    return getUEI8(OPT_LINK_INTERFACE, linkInterface);
}
qErr SystemClass::getHardwareVersion(uint32_t* version) {
    return getUEI32(OPT_HARDWARE_VERSION, version);
}
qErr SystemClass::getErrors(uint32_t* errors) {
    return getUEI32(OPT_ERRORS, errors);
}
qErr SystemClass::setLEDMaxBrightness(uint8_t brightness) {
    return setUEI8(OPT_LED_MAX_BRIGHTNESS, brightness);
}
qErr SystemClass::getLEDMaxBrightness(uint8_t* brightness) {
    return getUEI8(OPT_LED_MAX_BRIGHTNESS, brightness);
}
qErr SystemClass::getBuild(uint32_t* build) {
    return getUEI32(OPT_BUILD, build);
}
qErr SystemClass::getProtocolFeatures(uint32_t* features) {
    return getUEI32(OPT_PROTOCOL_FEATURES, features);
}

}  // namespace Zendrival
}  // namespace Pelmorax
