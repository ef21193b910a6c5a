#include "Usage.h"

#include <cstdio>
#include <initializer_list>

#include "CLI_Display.h"
#include "DefaultServer.h"

namespace {

struct UsageEntry {
    const char* option;
    std::initializer_list<const char*> lines;
    bool blankAfter;
};

struct DebugBit {
    const char* name;
    unsigned value;
    bool groupEnds;
};

struct Sample {
    const char* command;
    std::initializer_list<const char*> lines;
    bool commandOnOwnLine = false;
};

constexpr const char* kHeader =
    "\nApplication Usage:\n%s <-B | -D | -G | -U > [-Hh | --help] [-b build_num]\n"
    "    [-d serial_num]\n    [-t transport] [-r router_serial]\n"
    "    [-s serial_port] [-o baud_rate]\n\n"
    "  Zendrival Update and Maintenance Application\n"
    "    -H -h or --help for full usage information.\n\n";

constexpr const char* kContinuationIndent = "                                ";  // 32 spaces

void printEntry(const UsageEntry& entry) {
    bool first = true;
    for (const char* line : entry.lines) {
        if (first) {
            fprintf(stderr, "     %-25s- %s\n", entry.option, line);
            first = false;
        } else {
            fprintf(stderr, "%s%s\n", kContinuationIndent, line);
        }
    }
    if (entry.blankAfter) {
        fputs("\n", stderr);
    }
}

void printEntries(std::initializer_list<UsageEntry> entries) {
    for (const UsageEntry& entry : entries) {
        printEntry(entry);
    }
}

void printParametersAndCommands() {
    fputs("  Parameters to commands:\n", stderr);
    printEntries({
        {"-i <pelmorax_directory>",
         {"The Pelmorax directory used for storage of ",
          "firmware files. [Default: ~/.pelmorax ]."},
         false},
        {"-b <build number>",
         {"Build version of the firmware to transfer.", "[Default: latest version available]."},
         false},
        {"-d <device>", {"Device serial number of the device to access."}, false},
        {"-t <transport type>", {"communications method [USB,TCP,RECOVER]."}, false},
        {"-f <bird file>", {"Firmware file to be transferred to device."}, false},
        {"-r <router serial>", {"indirect connection through router device"}, false},
        {"-s <serial port>", {"name of serial port to use for recovery"}, false},
        {"-o <baud rate>",
         {"baud rate for serial port (2400, 4800, 9600,", "19200, 38400, 57600, 115200, 230400)"},
         false},
        {"-j <jobs>", {"With -a: modules updated at once [Default: 1]."}, false},
        {"-w <seconds>",
         {"Wait up to this long for a module that another",
          "Updater holds [Default: report it busy]."},
         false},
    });
    fputs("  Commands:\n", stderr);
    printEntries({
        {"-B", {"list the Builds available for given device."}, true},
        {"-L", {"list the local Builds available for given device."}, true},
        {"-D", {"Discover devices that are currently connected."}, true},
        {"-G",
         {"Get build file from the Pelmorax server and",
          "store on local machine for download to device.",
          "Must specify a specific device [\"-d\" option].",
          "Default is to obtain the latest build for the",
          "given device, override with \"-b\" option."},
         true},
        {"-U",
         {"Update the firmware on device specified.",
          "Must specify a specific device [\"-d\" option].",
          "Default is to download the latest build for the",
          "given device, override with \"-b\" option or",
          "specify specific BIRD file using \"-f\" option."},
         false},
        {"-a",
         {"With -U: update every module found, as -D finds",
          "them and behind the routers among them (narrowed",
          "by -t, -r and -d), each in a process of its own;",
          "a module already running its build is left alone.",
          "Ends with a table and a summary line."},
         true},
        {"-H or -h", {"Display extended usage information."}, true},
        {"--http", {"Use HTTP for the update server (" UPDATE_SERVER_HTTP_URL ")."}, false},
        {"--https",
         {"Use HTTPS for the update server (" UPDATE_SERVER_HTTPS_URL ").",
          "Recommended; HTTPS will be the default in the next major version."},
         false},
    });
}

void printDebugBits() {
    constexpr DebugBit kBits[] = {
        {"DEBUG_Updater", 0x00000001, false},     {"DEBUG_History", 0x00000002, false},
        {"DEBUG_Attributes", 0x00000004, false},  {"DEBUG_BirdFile", 0x00000008, false},
        {"DEBUG_Network", 0x00000010, false},     {"DEBUG_ServerComm", 0x00000020, true},
        {"DEBUG_Network", 0x00000100, false},     {"DEBUG_Network_SR", 0x00000200, false},
        {"DEBUG_Network_FIRM", 0x00000400, true}, {"DEBUG_NXPSerial", 0x00001000, false},
        {"DEBUG_NXPSerial_E", 0x00002000, false}, {"DEBUG_NXPSerial_SR", 0x00004000, true},
        {"DEBUG_APP", 0x00010000, true},          {"DEBUG_iMXSerial", 0x10000000, false},
    };
    for (const DebugBit& bit : kBits) {
        fprintf(stderr, "%s%-20s0x%08X\n", kContinuationIndent, bit.name, bit.value);
        if (bit.groupEnds) {
            fputs("\n", stderr);
        }
    }
    // The table as a whole is followed by a blank line.
    fputs("\n", stderr);
}

void printExtended() {
    fputs("  Extended Parameters:\n", stderr);
    printEntries({
        {"-e", {"echoing of bytes enabled during recovery."}, true},
        {"-m", {"Attemps to use UEIBytes for faster loading"}, false},
        {"-l 'log message'", {"message to place in device history log"}, false},
        {"-k <filename>", {"log messages written into given filename", "Default:[APP.log]"}, false},
        {"-u <host:port>",
         {"The hostname and port of the update server",
          "Default: " UPDATE_SERVER_DEFAULT_HOST ":port"},
         false},
    });
    fputs("  Extended Commands:\n", stderr);
    printEntries({
        {"-I",
         {"View stored device information.", "Must either use DISCOVER command [\"-D\"] or",
          "specify a specific device [\"-d\" option]."},
         true},
        {"-OVERRIDE",
         {"Override the model checks for BIRD firmware files.",
          "This option should only be used when authorized by", "Pelmorax development engineers."},
         true},
        {"-N", {"Get fingerprint from a device, requires -s"}, true},
        {"-X <BIT_MASK>", {"Bitmask for Logging"}, false},
    });
    printDebugBits();
    printEntries({{"-C", {"Check the given BIRDFILE"}, true}});
}

void printSample(const Sample& sample) {
    constexpr const char* kSampleIndent = "                               ";  // 31 spaces
    bool first = true;
    bool commandAlone = sample.commandOnOwnLine;
    if (commandAlone) {
        fprintf(stderr, "%s\n", sample.command);
    }
    for (const char* line : sample.lines) {
        if (first && !commandAlone) {
            fprintf(stderr, "%-31s%s\n", sample.command, line);
        } else {
            fprintf(stderr, "%s%s\n", kSampleIndent, line);
        }
        first = false;
    }
    fputs("\n", stderr);
}

void printSamples() {
    fputs(" Sample usage:\n", stderr);
    for (const Sample& sample : {
             Sample{"-D",
                    {"Discover all devices connected by either USB or TCPIP.",
                     "Records the device information into the settings for that device."}},
             Sample{"-D -t USB",
                    {"Discover all the devices connected by USB. Records the",
                     "device information into the settings for that device."}},
             Sample{"-D -t USB -d 0F5849A",
                    {"Discover settings of the specific device (serial number 0x40F5849A)"}},
             Sample{"-G -d 40F5849A",
                    {"Get the latest firmware for the given device.",
                     "Downloads the firmware file into the updater specific device directory."}},
             Sample{"-U -d 40F5849A",
                    {"Update the firmware on the specific device.",
                     "Without other options, this command will try to locate",
                     "the latest firmware version to be used for updating the device."}},
             Sample{"-G -d 40F5849A -b 99528558",
                    {"Get the specified build's firmware for the given device.",
                     "Downloads the firmware file into the updater's specific",
                     "device directory with the build number as the filename."}},
             Sample{"-G -U -d 40F5849A",
                    {"Get the latest firmware for the given device.",
                     "Downloads the firmware file into the updater specific",
                     "device directory. After download, update the firmware",
                     "using the latest release."}},
             Sample{"-U -t RECOVER -s /dev/serial",
                    {"Update the firmware as described above, but uses the serial interface",
                     "in communicating with the device to install the latest firmware."}},
         }) {
        printSample(sample);
    }
    fputs(" Sample usage for network discovery and updates:\n", stderr);
    printSample({"-D -r D272031D",
                 {"Discover all devices connected to the I2C Zendrival network",
                  "of the given routing device D272031D."}});
    printSample({"-G -U -d 2181F0EE -r D272031D",
                 {"Get and Update to the latest firmware for device 2181F0EE",
                  "indirectly through routing device D272031D."},
                 true});
    printSample({"-G -U -a -j 3",
                 {"Get and Update to the latest firmware for every device found,",
                  "also those behind routing devices, three at a time."}});
}

}  // namespace

void _display_app_version(CLI_Display& display) {
    display.message(UpdaterDisplayInterface::LEVEL_INFO, "%s (%s)", UPDATER_APP_NAME,
                    UPDATER_APP_VERSION);
}

void _display_copyright(CLI_Display& display) {
    display.message(UpdaterDisplayInterface::LEVEL_INFO,
                    "(Copyright (c) 2026 Pelmorax. All rights reserved.)");
}

void _display_usage(bool debugGiven, bool helpRequested) {
    fprintf(stderr, kHeader, UPDATER_APP_NAME);
    if (!helpRequested) {
        return;
    }
    printParametersAndCommands();
    if (debugGiven) {
        printExtended();
    }
    printSamples();
}
