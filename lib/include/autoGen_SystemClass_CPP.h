// The system entity of a module (command 3): its address, router, heartbeat, LED, version, model,
// serial number, name, power readings and the actions save, reset and route-to-me. Each operation
// is one UEI exchange; the values are the firmware's numbers, carried as they are.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>

#include "Entity.h"

namespace Pelmorax {
namespace Zendrival {

class ZENDRIVAL_EXPORT SystemClass : public EntityClass {
  public:
    static constexpr uint8_t COMMAND = 3;

    void init(Module* module, uint8_t index);

    qErr getModule(uint8_t* address);
    qErr getModuleBaseAddress(uint8_t* address);
    qErr setRouter(uint8_t router);
    qErr getRouter(uint8_t* router);
    qErr setHBInterval(uint8_t interval);
    qErr getHBInterval(uint8_t* interval);
    qErr setLED(uint8_t led);
    qErr getLED(uint8_t* led);
    qErr setBootSlot(uint8_t slot);
    qErr getBootSlot(uint8_t* slot);
    // Packed firmware version (qVersion_Parse*).
    qErr getVersion(uint32_t* version);
    qErr getModel(uint8_t* model);
    qErr getSerialNumber(uint32_t* serialNumber);
    qErr save();
    // The module restarts.
    qErr reset();
    qErr getInputVoltage(uint32_t* voltage);
    qErr getModuleHardwareOffset(uint8_t* offset);
    qErr setModuleSoftwareOffset(uint8_t offset);
    qErr getModuleSoftwareOffset(uint8_t* offset);
    qErr getRouterAddressSetting(uint8_t* address);
    qErr routeToMe(uint8_t enable);
    qErr getInputCurrent(uint32_t* current);
    qErr getUptime(uint32_t* uptime);
    qErr getMaximumTemperature(int32_t* temperature);
    qErr logEvents();
    qErr getUnregulatedVoltage(int32_t* voltage);
    qErr getUnregulatedCurrent(int32_t* current);
    qErr getTemperature(int32_t* temperature);
    qErr getMinimumTemperature(int32_t* temperature);
    qErr getInputPowerSource(uint8_t* source);
    qErr setInputPowerBehavior(uint8_t behavior);
    qErr getInputPowerBehavior(uint8_t* behavior);
    // Words travel as they lie in memory, four bytes each.
    qErr setInputPowerBehaviorConfig(const uint32_t* words, size_t count);
    qErr getInputPowerBehaviorConfig(uint32_t* words, size_t capacity, size_t* count);
    qErr setName(const uint8_t* name, size_t length);
    // The name's bytes, not terminated.
    qErr getName(uint8_t* name, size_t capacity, size_t* length);
    qErr getPowerLimit(uint32_t* limit);
    qErr setPowerLimitMax(uint32_t limit);
    qErr getPowerLimitMax(uint32_t* limit);
    qErr getPowerLimitState(uint32_t* state);
    qErr resetDeviceToFactoryDefaults();
    qErr setLinkInterface(uint8_t linkInterface);
    qErr getLinkInterface(uint8_t* linkInterface);
    qErr getHardwareVersion(uint32_t* version);
    qErr getErrors(uint32_t* errors);
    qErr setLEDMaxBrightness(uint8_t brightness);
    qErr getLEDMaxBrightness(uint8_t* brightness);
    qErr getBuild(uint32_t* build);
    qErr getProtocolFeatures(uint32_t* features);
};

}  // namespace Zendrival
}  // namespace Pelmorax
