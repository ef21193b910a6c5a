// What the simulator is asked to run: the modules, their attachments and their fault knobs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modulesim {

enum class Attachment { None, Tcp, Pty, CobsPty, Node, Bus, Usb, ImxRom };

// Ways a module can misbehave on purpose, and how fast it answers.
struct FaultKnobs {
    int latencyMs = -1;            // delay before every reply; -1 = the simulator-wide value
    uint32_t dropEvery = 0;        // drop every Nth reply (0 = never)
    uint32_t corruptEvery = 0;     // damage every Nth reply (0 = never)
    uint32_t disconnectAfter = 0;  // close the link on the Nth received packet (0 = never)
    uint32_t badCrcEvery = 0;      // every Nth reply frame with a wrong CRC (0 = never)
    uint32_t badCrcAt = 0;         // only the Nth reply frame with a wrong CRC (0 = never)
    bool silent = false;           // answers nothing on its link
    bool noAddress = false;        // ignores the sync/identify request
};

// How the module's upgrade loader (command 95) behaves, and how it misbehaves on purpose.
struct LoaderKnobs {
    std::string flashPath;            // where each committed image is written ("" = nowhere)
    uint16_t blockSize = 1024;        // what PREPARE offers
    uint8_t prepareStatus = 0;        // what PREPARE answers
    uint32_t badSum = 0;              // the Nth SUM reply is off by one (0 = never)
    uint32_t dropReply = 0;           // the Nth reply to command 95 is not sent (0 = never)
    uint32_t shortCount = 0;          // the Nth DATA is not accepted (0 = never)
    bool alwaysShort = false;         // no DATA is accepted
    bool silent = false;              // command 95 is never answered
    bool dropAtLoad = false;          // LOAD drops the link and restarts into the loader
    bool noUeiData = false;           // a block cannot come as one byte sequence
    bool shortInit = false;           // INIT answers without the last byte of its base address
    bool shortLoaderPrepare = false;  // PREPARE before LOAD answers without a block size
    bool lostReboot = false;          // REBOOT never arrives: the loader keeps running
    bool bootsOldBuild = false;       // REBOOT restarts the module into the firmware it had
    // The module is a recovery loader started in RAM: its loader runs from the start and after
    // every restart, without an INIT or LOAD.
    bool loaderFromStart = false;
    // Faults of the firmware blocks only; the loader's own blocks, sent before LOAD, go through.
    // The first N attempts at the first firmware block have their first WRITE refused (0 = never).
    uint32_t firmwareWriteRefused = 0;
    // The first firmwarePrepareRefused PREPAREs after LOAD answer firmwarePrepareStatus.
    uint8_t firmwarePrepareStatus = 0;
    uint32_t firmwarePrepareRefused = 0;
};

// How a module on the emulated USB bus presents itself, and how it misbehaves on purpose.
struct UsbKnobs {
    std::string serialText;  // serial-number string ("" = the serial as 8 hex digits)
    bool hasSerialText = false;
    int productId = -1;        // -1 = the model number
    uint16_t maxPacket = 512;  // wMaxPacketSize of both bulk endpoints
    bool claimed = false;      // another program holds the interface: every claim is busy
    uint32_t stallAt = 0;      // the Nth bulk OUT transfer stalls the endpoint (0 = never)
    uint32_t inErrors = 0;     // the first N bulk IN transfers end in an I/O error
};

// A module built on an i.MX chip that starts in its boot ROM: the ROM takes the recovery loader
// over the Serial Download Protocol on a pseudo-terminal (or as a HID device on the emulated USB
// bus) and, once told to jump, the loader runs and the module enumerates on the USB bus.
struct ImxKnobs {
    uint32_t loaderSerial = 0xDEADDEADu;  // the serial number the running loader enumerates with
    std::string ramPath;                  // where each completed write is recorded ("" = nowhere)
    bool hid = false;                     // the ROM is a HID device, not a UART on a pty
    bool silent = false;                  // the ROM never answers
    bool dataError = false;               // the ROM reports an error as soon as data is due
    bool badComplete = false;             // a finished write is not confirmed with 0x88888888
    bool given = false;                   // some imx- key was given (they need imx-rom)
};

struct ModuleConfig {
    uint32_t serial = 0;
    bool hasSerial = false;
    uint8_t model = 13;
    uint8_t address = 2;
    int routerAddress = -1;  // -1 = own address, or the router's for a module on a bus
    uint8_t major = 2;
    uint8_t minor = 12;
    uint8_t patch = 2;
    uint32_t build = 1000;
    std::string name;
    bool hasName = false;
    uint32_t protocolFeatures = 0x80000000u;  // bit 31: batched packets are fine
    // The chip's unique identifier (system option 39), as a host prints it: sub-index j of the
    // option answers word 3 - j.
    uint32_t uid[4] = {0, 0, 0, 0};
    bool hasUid = false;

    Attachment attachment = Attachment::None;
    std::string tcpHost = "127.0.0.1";
    uint16_t tcpPort = 0;
    std::string nodeDir;
    uint32_t behind = 0;  // serial number of the router for Attachment::Bus

    FaultKnobs faults;
    LoaderKnobs loader;
    UsbKnobs usb;
    ImxKnobs imx;
    int heartbeatMs = 1000;  // 0 = no heartbeats
    int streamMs = 50;
    int rebootMs = 500;  // how long a rebooting module stays away
};

struct SimConfig {
    double durationSeconds = 600;
    int latencyMs = 0;
    bool log = false;
    bool logSegments = false;  // with log: bytes and TCP segments of every read from a host
    std::vector<ModuleConfig> modules;
};

// Reads the command line into config. Returns -1 when the simulator is to run; otherwise it
// has printed the help or a one-line reason and returns the exit code (0 or 2).
int readCommandLine(int argc, char** argv, SimConfig& config);

}  // namespace modulesim
