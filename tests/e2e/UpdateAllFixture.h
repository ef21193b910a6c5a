// The world of "-U -a": modules of several kinds (on the emulated USB bus, on TCP/IP, behind a
// router) in module simulators that log every packet, the update server serving a build 1300 for
// each, and the document of each run checked against the installed JSON Schema.
#pragma once

#include <map>
#include <nlohmann/json.hpp>

#include "FirmwareFixture.h"

namespace firmwaretest {

class UpdateAllFixture : public FirmwareFixture {
  protected:
    void prepare() override;

    // Build 1300 (version 2.13.0) of the module on the server, firmwareBytes of firmware.
    void serveBuild(const std::string& serial, const std::string& modelName,
                    size_t firmwareBytes = 2000);
    // A module simulator with these module descriptions, logging to work/NAME.log; the first
    // with a USB module gives the runs its bus.
    std::unique_ptr<zvtest::BackgroundProgram> startSimulator(
        const std::string& name, const std::vector<std::string>& modules);
    std::string simulatorLog(const std::string& name) const;

    // "Updater -i STORE -U -a -u URL ARGS", beside the emulated USB bus when there is one.
    zvtest::RunResult updateAll(const std::vector<std::string>& args);
    // The same, run beside the test.
    std::vector<std::string> updateAllArguments(const std::vector<std::string>& args) const;
    const std::vector<std::string>& environment() const { return usbEnvironment; }

    // Standard output as the one document of a run, checked against the schema.
    nlohmann::json documentOf(const zvtest::RunResult& r);
    // Its modules by serial number.
    static std::map<std::string, nlohmann::json> modulesOf(const nlohmann::json& document);
    // The line of the table (on standard output, or standard error with "--json") of a module.
    static std::string tableRow(const std::string& text, const std::string& serial);
    // The lines of log holding an upgrade packet (command 95) the host sent to the module.
    static std::vector<size_t> upgradeRequests(const std::string& log, const std::string& serial);

  private:
    std::vector<std::string> usbEnvironment;
};

}  // namespace firmwaretest
