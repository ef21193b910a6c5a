#include "UsbTestBench.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "TestSupport.h"

namespace usbtest {

namespace {

std::string& unavailableReason() {
    static std::string reason;
    return reason;
}

std::string serialText(uint32_t serial) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", serial);
    return text;
}

}  // namespace

// Modules read by the byte-stream tests send no heartbeats: every byte that arrives is the
// answer to what the test wrote.
const std::vector<SimulatedUsbModule>& simulatedModules() {
    static const std::vector<SimulatedUsbModule> modules = {
        {kListedSerial, 4, 0x13, true, "model=3,usb-product=0x0113"},
        {kShortSerialTextSerial, 2, 13, false, "usb-serial=5B0002"},
        {kClaimedSerial, 2, 7, true, "model=7,usb-claimed"},
        {kRoundTripSerial, 6, 11, true, "model=11,hb-ms=0"},
        {kFullPacketSerial, 10, 12, true, "model=12,hb-ms=0,usb-max-packet=512"},
        {kStallSerial, 12, 14, true, "model=14,hb-ms=0,usb-stall-at=1"},
        {kFourInErrorsSerial, 14, 15, true, "model=15,hb-ms=0,usb-in-errors=4"},
        {kFiveInErrorsSerial, 16, 16, true, "model=16,hb-ms=0,usb-in-errors=5"},
        {kLinkSerial, 8, 17, true, "model=17"},
        {kQuietSerial, 18, 18, true, "model=18,hb-ms=0"},
        {kCallerInErrorSerial, 20, 19, true, "model=19,hb-ms=0,usb-in-errors=1"},
    };
    return modules;
}

const SimulatedUsbModule& simulatedModule(uint32_t serial) {
    for (const SimulatedUsbModule& module : simulatedModules()) {
        if (module.serial == serial) {
            return module;
        }
    }
    throw std::out_of_range("no simulated USB module " + serialText(serial));
}

std::vector<std::string> simulatorModuleArguments() {
    std::vector<std::string> arguments;
    for (const SimulatedUsbModule& module : simulatedModules()) {
        arguments.push_back("--module");
        arguments.push_back("serial=" + serialText(module.serial) + ",address=" +
                            std::to_string(module.address) + "," + module.knobs + ",usb");
    }
    return arguments;
}

void setBusUnavailable(const std::string& why) {
    unavailableReason() = why;
}

std::string busMissingReason() {
    if (!unavailableReason().empty()) {
        return unavailableReason();
    }
    if (std::getenv("UMOCKDEV_DIR") == nullptr || std::getenv(kSimulatorLogVariable) == nullptr) {
        return "the emulated USB bus with the test modules is not set up";
    }
    return "";
}

std::vector<std::string> simulatorNotes(uint32_t serial) {
    const char* path = std::getenv(kSimulatorLogVariable);
    std::vector<std::string> notes;
    if (path == nullptr) {
        return notes;
    }
    const std::string prefix = "modulesim " + serialText(serial) + " ";
    for (const std::string& line : zvtest::splitLines(zvtest::readFile(path))) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            notes.push_back(line.substr(prefix.size()));
        }
    }
    return notes;
}

size_t countNotes(const std::vector<std::string>& notes, const std::string& text) {
    size_t count = 0;
    for (const std::string& note : notes) {
        count += note == text ? 1 : 0;
    }
    return count;
}

size_t countNotes(uint32_t serial, const std::string& text) {
    return countNotes(simulatorNotes(serial), text);
}

}  // namespace usbtest
