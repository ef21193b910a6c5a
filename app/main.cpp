// Entry point of Updater: read the command line, prepare the store directory and run the
// requested commands in their fixed order: "-N", "-G", "-C", "-I", then the first of "-D", "-U",
// "-B", "-L"; "-a" instead runs "-G" and "-U" for every module found. With "--json" each command
// that runs prints its document on every path, and the run's report prints one at the end when
// no command did.
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "BuildPath.h"
#include "CLI_Display.h"
#include "CheckBird.h"
#include "CommandLineText.h"
#include "JsonOutput.h"
#include "JsonReport.h"
#include "Log.h"
#include "LogFile.h"
#include "OutputFormats.h"
#include "Parameters.h"
#include "UpdateAll.h"
#include "Updater.h"
#include "Usage.h"
#include "qDirectory.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;

void error(CLI_Display& display, const char* text) {
    display.message(UpdaterDisplayInterface::LEVEL_ERROR, "%s", text);
}

// The store root: the "-i" directory or ~/.pelmorax, with "updater" below it. Empty on failure.
std::string prepareStorageDirectory(CLI_Display& display, const Parameters& params) {
    std::string base = params.storageDirectory;
    if (base.empty()) {
        char home[2048] = "";
        int rc = qDirectory_GetHomeDirectory(home, sizeof home);
        if (rc != 0) {
            Log::log(DEBUG_APP, "Updater: FailedqDirectory_GetHomeDirectory()==> %d\n", rc);
            return "";
        }
        base = BuildPath(home, ".pelmorax", nullptr);
    }
    std::string root = BuildPath(base.c_str(), "updater", nullptr);
    // A dry run makes nothing, not even the store: a store that is not there holds nothing.
    if (params.flagN) {
        return root;
    }
    if (qDirectory_Ensure(root.c_str(), 0755) != 0) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "Could not find updater directory at %s", root.c_str());
        return "";
    }
    return root;
}

int runFingerprint(CLI_Display& display, Updater& updater, const Parameters& params,
                   JsonReport& report) {
    Fingerprint fingerprint;
    if (!updater.Get_Fingerprint(fingerprint, params.serialPort, UNKNOWN_RECOVERY_SERIAL,
                                 params.birdFilePath, params.baudRate, true)) {
        // A port held by another Updater has been reported; the chip was never asked.
        if (!updater.Recovery_Port_Busy()) {
            error(display, "Got no response from chip");
        }
        report.print(_json_command("fingerprint"));
        return EXIT_FAILED;
    }
    if (params.jsonOutput) {
        report.print(_json_fingerprint(fingerprint));
    } else {
        _display_fingerprint(display, fingerprint);
    }
    return EXIT_OK;
}

int runGetBuild(CLI_Display& display, Updater& updater, Parameters& params, JsonReport& report) {
    display.message(UpdaterDisplayInterface::LEVEL_INFO,
                    "Retrieving firmware for device with serial number %08X",
                    params.deviceSerialNumber);
    if (params.buildNumber.empty()) {
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "No build specified");
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "Using Latest build");
    } else {
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "Retrieving firmware build %s",
                        params.buildNumber.c_str());
    }
    unsigned build = updater.Download_Firmware(params.deviceSerialNumber, params.buildNumber,
                                               params.overrideModelChecks, false);
    nlohmann::json document = _json_download(params.deviceSerialNumber, build);
    if (params.flagN) {
        document["dry_run"] = true;
    }
    report.print(document);
    if (build == 0) {
        return EXIT_FAILED;
    }
    // A following "-U" updates to exactly the build just stored.
    params.buildNumber = std::to_string(build);
    return EXIT_OK;
}

// "-D" without "-t" or "-r": the USB list, then the TCP/IP list, each as its own "-t" shows it;
// with "--json" one document holding both.
int runDiscoverBoth(CLI_Display& display, Updater& updater, const Parameters& params,
                    JsonReport& report) {
    std::vector<DeviceSearch> searches;
    for (linkType type : {linkTypeUSB, linkTypeTCPIP}) {
        searches.push_back({type, updater.Discover_Devices(type)});
        if (!params.jsonOutput) {
            _display_device_list(display, searches.back().devices, type);
        }
    }
    if (params.jsonOutput) {
        report.print(_json_device_searches(searches));
    }
    return EXIT_OK;
}

int runDiscover(CLI_Display& display, Updater& updater, const Parameters& params,
                JsonReport& report) {
    linkType type = linkTypeNone;
    if (params.transportGiven && params.transport != TRANSPORT_RECOVER) {
        type = static_cast<linkType>(params.transport);
    }
    std::vector<DeviceInfo> devices;
    if (params.routerSerialNumber != 0) {
        display.message(UpdaterDisplayInterface::LEVEL_INFO,
                        "Searching for Zendrival Network devices connected to %08X",
                        params.routerSerialNumber);
        devices = updater.Discover_ZVNetwork_Devices(params.routerSerialNumber, type);
    } else {
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "Searching for Zendrival devices");
        if (type == linkTypeNone) {
            return runDiscoverBoth(display, updater, params, report);
        }
        devices = updater.Discover_Devices(type);
    }
    if (params.jsonOutput) {
        report.print(_json_device_list(devices, type, params.routerSerialNumber));
    } else {
        _display_device_list(display, devices, type);
    }
    return EXIT_OK;
}

int runUpdate(CLI_Display& display, Updater& updater, const Parameters& params,
              JsonReport& report) {
    unsigned build = params.buildNumber.empty()
                         ? 0
                         : static_cast<unsigned>(std::stoul(params.buildNumber, nullptr, 10));
    updater.Set_UEIBytes_Load(params.useUEIBytesLoading);
    bool ok = false;
    if (params.transport == TRANSPORT_RECOVER) {
        ok = updater.Recover_Firmware(params.serialPort, build, params.baudRate,
                                      params.deviceSerialNumber, params.birdFilePath,
                                      params.overrideModelChecks);
        report.print(_json_recovery(params.serialPort, params.deviceSerialNumber,
                                    updater.Last_Outcome(), params.flagN));
    } else if (params.deviceSerialNumber != 0) {
        ok = updater.Update_Firmware(params.deviceSerialNumber, build, params.birdFilePath,
                                     params.targetModuleAddress, params.routerSerialNumber,
                                     params.overrideModelChecks);
        report.print(_json_update(params.deviceSerialNumber, params.routerSerialNumber,
                                  updater.Last_Outcome(), params.flagN));
    } else {
        error(display, "Must specify the specific device to be updated");
        report.print(_json_update(0, params.routerSerialNumber, UpdateOutcome(), params.flagN));
        return EXIT_FAILED;
    }
    return ok ? EXIT_OK : EXIT_FAILED;
}

int runListBuilds(CLI_Display& display, Updater& updater, const Parameters& params,
                  JsonReport& report, bool local) {
    if (params.deviceSerialNumber == 0) {
        error(display, local ? "Error must supply a serial number for the List Local Builds command"
                             : "Error must supply a serial number for the List Builds command");
        _display_usage(params.debugMaskGiven, false);
        report.print(_json_command(local ? "list_local_builds" : "list_builds"));
        return EXIT_FAILED;
    }
    BuildList builds = local ? updater.Get_BuildListLocal(params.deviceSerialNumber)
                             : updater.Get_BuildList(params.deviceSerialNumber);
    if (params.jsonOutput) {
        report.print(_json_builds(builds, params.deviceSerialNumber, local));
    } else {
        _display_builds(display, builds, params.deviceSerialNumber);
    }
    return EXIT_OK;
}

// "-I": what the store holds for the "-d" device, or for every stored device.
int runStoredInfo(CLI_Display& display, Updater& updater, const Parameters& params,
                  JsonReport& report) {
    std::vector<StoredDevice> devices = updater.Get_StoredInfo(params.deviceSerialNumber);
    const bool oneDevice = params.deviceSerialNumber != 0;  // with its history's entries
    if (devices.empty() && params.deviceSerialNumber != 0) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                        "No stored information for device [%08X] in %s", params.deviceSerialNumber,
                        updater.StorageDirectory().c_str());
        report.print(_json_stored_info(devices, oneDevice));
        return EXIT_FAILED;
    }
    if (devices.empty()) {
        display.message(UpdaterDisplayInterface::LEVEL_INFO, "No stored information in %s",
                        updater.StorageDirectory().c_str());
    }
    if (params.jsonOutput) {
        report.print(_json_stored_info(devices, oneDevice));
    } else {
        _display_stored_info(display, devices, oneDevice);
    }
    return EXIT_OK;
}

int runCommands(CLI_Display& display, Parameters& params, const std::string& storage,
                JsonReport& report) {
    Updater updater(params.updateServerUrl.c_str(), storage.c_str(), display);
    updater.Set_Recovery_Echo(params.echoDuringRecovery);
    updater.Set_Transfer_Message(params.historyLogMessage);
    updater.Set_Dry_Run(params.flagN);
    updater.Set_Skip_Current(params.skipCurrent);
    updater.Set_Command_Line(params.commandLine);
    updater.Set_Program_Version(UPDATER_APP_RELEASE);
    updater.Set_Lock_Wait(params.lockWaitSeconds);
    // Every module's "-G" and "-U" run in processes of their own; "-D" still comes before "-U".
    if (params.updateAll && !params.commands.IsSet(CMD_DISCOVER)) {
        return _update_all(display, updater, params, report);
    }
    int result = EXIT_OK;
    if (params.commands.IsSet(CMD_FINGERPRINT)) {
        if (params.serialPort.empty()) {
            error(display, "Must specify the serial port used for connecting");
            report.print(_json_command("fingerprint"));
            return EXIT_FAILED;
        }
        result = runFingerprint(display, updater, params, report);
    }
    if (params.commands.IsSet(CMD_GET_BUILD)) {
        if (params.deviceSerialNumber == 0) {
            error(display, "-G must specify a specific device via -d");
            error(display, "--help for usage information");
            report.print(_json_download(0, 0));
            return EXIT_FAILED;
        }
        result = runGetBuild(display, updater, params, report);
    }
    if (params.commands.IsSet(CMD_CHECK_BIRD)) {
        result = _check_bird_file(display, params.birdFilePath) ? EXIT_OK : EXIT_FAILED;
        report.print(_json_check_bird(params.birdFilePath));
    }
    // After "-G", so that a download in the same run is shown.
    if (params.commands.IsSet(CMD_STORED_INFO)) {
        // Shown after an earlier command failed, it must not turn that failure into success.
        if (runStoredInfo(display, updater, params, report) != EXIT_OK) {
            result = EXIT_FAILED;
        }
    }
    if (params.commands.IsSet(CMD_DISCOVER)) {
        return runDiscover(display, updater, params, report);
    }
    if (params.commands.IsSet(CMD_UPDATE)) {
        return runUpdate(display, updater, params, report);
    }
    if (params.commands.IsSet(CMD_LIST_BUILDS)) {
        return runListBuilds(display, updater, params, report, false);
    }
    if (params.commands.IsSet(CMD_LIST_LOCAL_BUILDS)) {
        return runListBuilds(display, updater, params, report, true);
    }
    return result;
}

// Everything after reading the command line; parsed is what _get_params returned.
int runParsed(CLI_Display& display, Parameters& params, int parsed, JsonReport& report) {
    if (parsed != 0) {
        _display_app_version(display);
        _display_copyright(display);
        _display_usage(params.debugMaskGiven, false);
        return EXIT_FAILED;
    }
    _display_app_version(display);
    if (params.helpRequested || !params.commands.IsSet(CMD_ANY_COMMAND)) {
        _display_copyright(display);
        _display_usage(params.debugMaskGiven, params.helpRequested);
        return EXIT_OK;
    }
    LogFile logFile;
    if (params.logFileGiven && !logFile.Open(params.logFileName, params.logFileMode)) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Could not open log file %s: %s",
                        params.logFileName.c_str(), strerror(errno));
        return EXIT_FAILED;
    }
    std::string storage = prepareStorageDirectory(display, params);
    if (storage.empty()) {
        return EXIT_FAILED;
    }
    return runCommands(display, params, storage, report);
}

int run(int argc, char** argv) {
    Parameters params;
    CLI_Display display;
    Log::SetOutput(stderr);
    int parsed = _get_params(display, argc, argv, &params);
    params.commandLine = _command_line_text(argc, argv);
    if (params.jsonOutput) {
        display.divert_info_to_stderr();
    }
    JsonReport report(display, params.jsonOutput);
    int code = runParsed(display, params, parsed, report);
    report.finish();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    int code = run(argc, argv);
    return code;
}
