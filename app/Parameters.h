// Everything the command line asked for, filled by _get_params.
#pragma once

#include <cstdint>
#include <string>

#include "Commands.h"

class CLI_Display;

// Transport chosen with "-t"; the values are the link types of the device library, plus one for
// recovery through a ROM bootloader.
enum : uint32_t {
    TRANSPORT_INVALID = 0,
    TRANSPORT_USB = 1,
    TRANSPORT_TCPIP = 2,
    TRANSPORT_RECOVER = 255,
};

struct Parameters {
    CommandsClass commands;
    uint32_t deviceSerialNumber = 0;
    uint32_t routerSerialNumber = 0;
    uint32_t transport = TRANSPORT_USB;
    bool transportGiven = false;
    std::string serialPort;
    uint32_t baudRate = 115200;
    uint8_t targetModuleAddress = 0;  // 0: looked up on the router's network
    std::string birdFilePath;
    std::string historyLogMessage;
    std::string buildNumber;  // decimal text; empty means the latest build
    bool echoDuringRecovery = false;
    std::string updateServerUrl;
    bool flagN = false;        // "-n": a dry run of "-U", "-G" and "-U -t RECOVER"
    bool skipCurrent = false;  // "--skip-current": "-U" leaves a module on the chosen build alone
    std::string storageDirectory;
    std::string programName;
    std::string commandLine;  // all of it, quoted as a shell would need it (the module history)
    std::string homeDirectory;
    std::string logFileMode = "a+";
    std::string logFileName = "Updater.log";
    bool logFileGiven = false;  // "-k": the diagnostic log goes to the file too
    bool overrideModelChecks = false;
    bool useUEIBytesLoading = true;
    uint32_t debugBitMask = 0;
    bool debugMaskGiven = false;
    bool helpRequested = false;
    // "--json": device lists, build lists, fingerprints and stored information are written to
    // standard output as JSON documents, and standard output carries nothing else.
    bool jsonOutput = false;
    // "-a": "-U" (and "-G") for every module found, each in an Updater process of its own.
    bool updateAll = false;
    unsigned jobs = 1;  // "-j": how many of those processes run at once
    // "-w": how long to wait for a module another Updater holds (0: report it busy at once).
    unsigned lockWaitSeconds = 0;
    bool lockWaitGiven = false;
};

// 0 when the command line was accepted; otherwise non-zero, every problem already reported.
int _get_params(CLI_Display& display, int argc, char** argv, Parameters* params);
int _release_params(Parameters* params);
int _validate_params(Parameters* params);

// Whole-text number arguments: any character outside the digits gives 0; truncated to 32 bits.
uint32_t _get_hex_arg(const char* text, char** end);
uint32_t _get_int_arg(const char* text, char** end);
