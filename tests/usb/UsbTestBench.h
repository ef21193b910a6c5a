// The simulated modules the USB tests find on the emulated bus, one per scenario, and what the
// tests need from the simulator that plugged them in: whether the bus is there at all, and its
// transfer log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace usbtest {

// A module listed by USB enumeration: its model is the low byte of product id 0x0113.
constexpr uint32_t kListedSerial = 0x0A5B0001;
// Its serial-number string has six characters, so enumeration passes it over.
constexpr uint32_t kShortSerialTextSerial = 0x0A5B0002;
constexpr uint32_t kClaimedSerial = 0x0A5B0003;
constexpr uint32_t kRoundTripSerial = 0x0A5B0004;
constexpr uint32_t kFullPacketSerial = 0x0A5B0005;
constexpr uint32_t kStallSerial = 0x0A5B0006;
constexpr uint32_t kFourInErrorsSerial = 0x0A5B0007;
constexpr uint32_t kFiveInErrorsSerial = 0x0A5B0008;
constexpr uint32_t kLinkSerial = 0x0A5B0009;
// Read while it has nothing to say, so that a transfer waits for it.
constexpr uint32_t kQuietSerial = 0x0A5B000A;
// One IN transfer fails, read by a caller awaiting a reply.
constexpr uint32_t kCallerInErrorSerial = 0x0A5B000B;
// No module has this serial number.
constexpr uint32_t kAbsentSerial = 0x0A5BFFFF;

struct SimulatedUsbModule {
    uint32_t serial;
    uint8_t address;    // its module address, answered to the sync request
    uint32_t usbModel;  // the model USB enumeration reports
    bool listed;        // whether USB enumeration reports it
    std::string knobs;  // the rest of its simulator description
};

const std::vector<SimulatedUsbModule>& simulatedModules();
const SimulatedUsbModule& simulatedModule(uint32_t serial);
// The simulator's --module descriptions of every module above.
std::vector<std::string> simulatorModuleArguments();

// Environment variable naming the simulator's log file, set for the test run that sees the bus.
constexpr const char* kSimulatorLogVariable = "ZV_USB_SIMULATOR_LOG";

// Remembers why the bus could not be set up, for every test to skip with.
void setBusUnavailable(const std::string& why);
// Empty when the bus with these modules is there; otherwise why not.
std::string busMissingReason();

// The simulator's log lines about one module, without their "modulesim SERIAL " prefix.
std::vector<std::string> simulatorNotes(uint32_t serial);
// How many of those lines equal text.
size_t countNotes(const std::vector<std::string>& notes, const std::string& text);
// How many of the module's log lines equal text.
size_t countNotes(uint32_t serial, const std::string& text);

}  // namespace usbtest

// In a test body or SetUp: skip, saying why, unless the emulated bus with the modules is there.
#define ZV_USB_BUS_OR_SKIP() ZV_NEEDS(usbtest::busMissingReason())
