#include "ModuleKeys.h"

#include <arpa/inet.h>

#include <functional>
#include <sstream>
#include <type_traits>
#include <vector>

#include "CommandLine.h"
#include "ValueText.h"

namespace modulesim {

namespace {

constexpr size_t kMaxNameLength = 32;
constexpr size_t kMaxUsbSerialLength = 31;

enum class Takes { Nothing, Value, MaybeValue };

// What one key is given; error takes the reason it cannot be applied.
struct KeyText {
    const std::string& key;
    const std::string& value;
    bool hasValue;
    std::string& error;
};

using Apply = std::function<bool(const KeyText&, ModuleConfig&)>;

struct ModuleKey {
    const char* name;
    const char* valueWord;  // how the help writes the value after the name
    Takes takes;
    Apply apply;
    // Its lines after the first are indented to the help column; nullptr for an alias the
    // help does not list.
    const char* help;
};

struct KeyGroup {
    const char* heading;  // "" for the first group, which follows the general heading
    std::vector<ModuleKey> keys;
    const char* note;  // printed after the keys ("" for none)
};

bool fail(const KeyText& text, const std::string& reason) {
    text.error = reason;
    return false;
}

bool setAttachment(ModuleConfig& module, Attachment kind, std::string& error) {
    if (module.attachment != Attachment::None) {
        error =
            "a module takes one of tcp, pty, cobs-pty, usb, imx-rom, imx-rom-hid, node= and "
            "behind=";
        return false;
    }
    module.attachment = kind;
    return true;
}

Apply attach(Attachment kind) {
    return [kind](const KeyText& text, ModuleConfig& module) {
        return setAttachment(module, kind, text.error);
    };
}

// The field a path of member pointers leads to from the module's configuration.
template <typename Object, typename Member>
auto& member(Object& object, Member field) {
    return object.*field;
}

template <typename Object, typename Member, typename... Rest>
auto& member(Object& object, Member field, Rest... rest) {
    return member(object.*field, rest...);
}

template <typename... Path>
Apply flag(Path... path) {
    return [=](const KeyText&, ModuleConfig& module) { return member(module, path...) = true; };
}

// A boot ROM knob: it needs one of the ROM's attachments, which validation checks.
Apply imxFlag(bool ImxKnobs::*field) {
    return [field](const KeyText&, ModuleConfig& module) {
        module.imx.given = true;
        return module.imx.*field = true;
    };
}

template <typename... Path>
Apply count(Path... path) {
    return [=](const KeyText& text, ModuleConfig& module) {
        return parseCount(text.key, text.value, member(module, path...), text.error);
    };
}

template <typename... Path>
Apply milliseconds(Path... path) {
    return [=](const KeyText& text, ModuleConfig& module) {
        return parseMilliseconds(text.key, text.value, member(module, path...), text.error);
    };
}

// A number from min to max, or a reason that names the range.
template <typename... Path>
Apply number(unsigned long long min, unsigned long long max, const char* range, Path... path) {
    return [=](const KeyText& text, ModuleConfig& module) {
        unsigned long long value = 0;
        if (!parseNumber(text.value, max, value) || value < min) {
            return fail(text, text.key + " needs " + range);
        }
        auto& field = member(module, path...);
        field = static_cast<std::remove_reference_t<decltype(field)>>(value);
        return true;
    };
}

Apply busAddress(bool allowZero) {
    return [allowZero](const KeyText& text, ModuleConfig& module) {
        uint8_t address = 0;
        if (!parseBusAddress(text.key, text.value, allowZero, address, text.error)) {
            return false;
        }
        if (allowZero) {
            module.routerAddress = address;
        } else {
            module.address = address;
        }
        return true;
    };
}

Apply path(std::string LoaderKnobs::*field) {
    return [field](const KeyText& text, ModuleConfig& module) {
        module.loader.*field = text.value;
        return !text.value.empty() || fail(text, text.key + " needs a file path");
    };
}

bool parseVersion(const std::string& text, ModuleConfig& module) {
    unsigned long long parts[3];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t dot = text.find('.', start);
        if ((i < 2) != (dot != std::string::npos)) {
            return false;
        }
        std::string piece = text.substr(start, i < 2 ? dot - start : std::string::npos);
        if (!parseNumber(piece, 255, parts[i])) {
            return false;
        }
        start = dot + 1;
    }
    module.major = static_cast<uint8_t>(parts[0]);
    module.minor = static_cast<uint8_t>(parts[1]);
    module.patch = static_cast<uint8_t>(parts[2]);
    return true;
}

bool parseTcp(const std::string& text, ModuleConfig& module) {
    std::string host = text;
    unsigned long long port = 0;
    size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        if (!parseNumber(text.substr(colon + 1), 65535, port)) {
            return false;
        }
    }
    if (host.empty()) {
        host = "127.0.0.1";
    }
    in_addr probe{};
    if (inet_pton(AF_INET, host.c_str(), &probe) != 1) {
        return false;
    }
    module.tcpHost = host;
    module.tcpPort = static_cast<uint16_t>(port);
    return true;
}

// The chip's unique identifier: four 32-bit words, W0:W1:W2:W3, each decimal or 0x-hex.
bool parseUid(const std::string& text, uint32_t (&words)[4]) {
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t colon = text.find(':', start);
        if ((i < 3) != (colon != std::string::npos)) {
            return false;
        }
        std::string piece = text.substr(start, i < 3 ? colon - start : std::string::npos);
        unsigned long long number = 0;
        if (!parseNumber(piece, 0xFFFFFFFFull, number)) {
            return false;
        }
        words[i] = static_cast<uint32_t>(number);
        start = colon + 1;
    }
    return true;
}

bool applyVersion(const KeyText& text, ModuleConfig& module) {
    return parseVersion(text.value, module) ||
           fail(text, "version needs MAJOR.MINOR.PATCH, each 0 to 255");
}

bool applyTcp(const KeyText& text, ModuleConfig& module) {
    if (!setAttachment(module, Attachment::Tcp, text.error)) {
        return false;
    }
    return !text.hasValue || parseTcp(text.value, module) ||
           fail(text, "tcp needs ADDR:PORT with an IPv4 address");
}

bool applySerial(const KeyText& text, ModuleConfig& module) {
    module.hasSerial = parseHexSerial(text.value, module.serial);
    return module.hasSerial || fail(text, "serial needs up to 8 hexadecimal digits");
}

bool applyName(const KeyText& text, ModuleConfig& module) {
    module.name = text.value;
    module.hasName = true;
    return text.value.size() <= kMaxNameLength || fail(text, "name holds at most 32 bytes");
}

bool applyNode(const KeyText& text, ModuleConfig& module) {
    module.nodeDir = text.value;
    if (text.value.empty()) {
        return fail(text, "node needs a directory");
    }
    return setAttachment(module, Attachment::Node, text.error);
}

bool applyBehind(const KeyText& text, ModuleConfig& module) {
    if (!parseHexSerial(text.value, module.behind)) {
        return fail(text, "behind needs the router's serial number (up to 8 hexadecimal digits)");
    }
    return setAttachment(module, Attachment::Bus, text.error);
}

bool applyStreamMs(const KeyText& text, ModuleConfig& module) {
    if (!parseMilliseconds(text.key, text.value, module.streamMs, text.error)) {
        return false;
    }
    return module.streamMs != 0 || fail(text, "stream-ms needs at least 1 ms");
}

bool applyUsbSerial(const KeyText& text, ModuleConfig& module) {
    module.usb.serialText = text.value;
    module.usb.hasSerialText = true;
    return text.value.size() <= kMaxUsbSerialLength ||
           fail(text, "usb-serial holds at most 31 characters");
}

bool applyImxRom(const KeyText& text, ModuleConfig& module) {
    module.imx.hid = text.key == "imx-rom-hid";
    return setAttachment(module, Attachment::ImxRom, text.error);
}

bool applyImxSerial(const KeyText& text, ModuleConfig& module) {
    module.imx.given = true;
    bool ok = parseHexSerial(text.value, module.imx.loaderSerial) && module.imx.loaderSerial != 0;
    return ok ||
           fail(text, "imx-serial needs a serial number of up to 8 hexadecimal digits, not 0");
}

bool applyImxRam(const KeyText& text, ModuleConfig& module) {
    module.imx.given = true;
    module.imx.ramPath = text.value;
    return !text.value.empty() || fail(text, "imx-ram needs a file path");
}

bool applyUid(const KeyText& text, ModuleConfig& module) {
    module.hasUid = parseUid(text.value, module.uid);
    return module.hasUid || fail(text, text.key + " needs four 32-bit words W0:W1:W2:W3");
}

bool applyFirmwarePrepareStatus(const KeyText& text, ModuleConfig& module) {
    const std::string& value = text.value;
    size_t colon = value.find(':');
    unsigned long long status = 0;
    unsigned long long count = 1;
    bool ok = parseNumber(value.substr(0, colon), 0xFF, status) && status != 0 &&
              (colon == std::string::npos ||
               (parseNumber(value.substr(colon + 1), 0xFFFFFFFFull, count) && count != 0));
    module.loader.firmwarePrepareStatus = static_cast<uint8_t>(status);
    module.loader.firmwarePrepareRefused = static_cast<uint32_t>(count);
    return ok ||
           fail(text, text.key + " needs S[:N], a status from 1 to 255 and a count of at least 1");
}

const std::vector<KeyGroup>& keyGroups() {
    using M = ModuleConfig;
    using L = LoaderKnobs;
    using F = FaultKnobs;
    using U = UsbKnobs;
    const Takes value = Takes::Value;
    const Takes alone = Takes::Nothing;
    static const std::vector<KeyGroup> groups = {
        {"",
         {
             {"serial", "=HEX8", value, applySerial, "serial number (required)"},
             {"model", "=N", value, number(0, 255, "a number from 0 to 255", &M::model),
              "model number (default 13)"},
             {"address", "=N", value, busAddress(false), "even bus address (default 2)"},
             {"router-address", "=N", value, busAddress(true),
              "router address it reports (default: its own address, or\n"
              "the router's for a module on a bus)"},
             {"version", "=MAJ.MIN.PAT", value, applyVersion, "firmware version (default 2.12.2)"},
             {"build", "=N", value,
              number(0, 0xFFFFFFFFull, "a number from 0 to 4294967295", &M::build),
              "firmware build number (default 1000)"},
             {"name", "=TEXT", value, applyName,
              "module name, at most 32 bytes, no commas\n"
              "(default \"Module\" and the serial number)"},
             {"features", "=N", value,
              number(0, 0xFFFFFFFFull, "a number from 0 to 4294967295", &M::protocolFeatures),
              "protocol feature bits (default 0x80000000)"},
         },
         ""},
        {"one attachment:",
         {
             {"tcp", "[=ADDR:PORT]", Takes::MaybeValue, applyTcp,
              "own TCP/IP port (default 127.0.0.1:0, 0 = any free port);\n"
              "answers the TCP/IP discovery request"},
             {"pty", "", alone, attach(Attachment::Pty), "raw bytes on a pseudo-terminal"},
             {"cobs-pty", "", alone, attach(Attachment::CobsPty),
              "a pseudo-terminal as a packetised serial line: each packet\n"
              "both ways is one frame (address, length, data, CRC-8/MAXIM,\n"
              "COBS-encoded, then a 0 byte); frames that fail the check\n"
              "are dropped (noted with --log), as are bytes past the\n"
              "module's 32-byte buffer before a 0"},
             {"usb", "", alone, attach(Attachment::Usb),
              "a device on an emulated USB bus (umockdev): the maker's\n"
              "vendor id, bulk endpoints on the vendor interface; programs\n"
              "reach it through libusb when run with\n"
              "LD_PRELOAD=libumockdev-preload.so.0 UMOCKDEV_DIR=DIR\n"
              "(scripts/usb-run does this); a restart re-enumerates it"},
             {"imx-rom", "", alone, applyImxRom,
              "an i.MX chip in its boot ROM: the Serial Download Protocol\n"
              "on a pseudo-terminal (UART bytes, answers little-endian);\n"
              "after a jump into written RAM the recovery loader runs and\n"
              "enumerates on the emulated USB bus (as usb above)"},
             {"imx-rom-hid", "", alone, applyImxRom,
              "the same ROM as a HID device (1FC9:0130) on the emulated\n"
              "USB bus, reached through its hidraw node"},
             {"node", "=DIR", value, applyNode,
              "pseudo-terminal reached as DIR/zendrival.SERIAL, as the\n"
              "kernel driver's device node"},
             {"behind", "=HEX8", value, applyBehind,
              "on the I2C bus of that router module, at its address"},
         },
         ""},
        {"timing and faults:",
         {
             {"latency-ms", "=N", value, milliseconds(&M::faults, &F::latencyMs),
              "delay every reply (default: --latency-ms, else 0)"},
             {"drop-every", "=N", value, count(&M::faults, &F::dropEvery), "drop every Nth reply"},
             {"corrupt-every", "=N", value, count(&M::faults, &F::corruptEvery),
              "damage every Nth reply (last data byte inverted; a reply\n"
              "without data gets an odd address)"},
             {"disconnect-after", "=N", value, count(&M::faults, &F::disconnectAfter),
              "close the link on the Nth received packet, unanswered, once\n"
              "(TCP: that connection, a host that connects again is not\n"
              "cut off; pty: the terminal hangs up for good); the host's\n"
              "heartbeat answers and sync/identify requests are not\n"
              "counted, so N does not depend on the run's timing"},
             {"silent", "", alone, flag(&M::faults, &F::silent),
              "answer nothing on the link (discovery still finds it)"},
             {"bad-crc-every", "=N", value, count(&M::faults, &F::badCrcEvery),
              "cobs-pty: every Nth reply frame carries its CRC inverted"},
             {"bad-crc-at", "=N", value, count(&M::faults, &F::badCrcAt),
              "cobs-pty: only the Nth reply frame carries its CRC inverted"},
             {"no-address", "", alone, flag(&M::faults, &F::noAddress),
              "ignore the sync/identify request (address 173)"},
             {"hb-ms", "=N", value, milliseconds(&M::heartbeatMs),
              "heartbeat interval (default 1000, 0 = off); system option 3\n"
              "reads and sets it in units of 10 ms; modules on a bus send\n"
              "none of their own"},
             {"stream-ms", "=N", value, applyStreamMs, "stream sampling interval (default 50)"},
             {"reboot-ms", "=N", value, milliseconds(&M::rebootMs),
              "how long a TCP/IP module stays away when it reboots\n"
              "(default 500)"},
         },
         ""},
        {"USB (usb attachment):",
         {
             {"usb-serial", "=TEXT", value, applyUsbSerial,
              "serial-number string (default the serial as 8 hex digits)"},
             {"usb-product", "=N", value,
              number(0, 0xFFFF, "a number from 0 to 0xFFFF", &M::usb, &U::productId),
              "USB product id (default the model number)"},
             {"usb-max-packet", "=N", value,
              number(8, 1024, "a number from 8 to 1024", &M::usb, &U::maxPacket),
              "wMaxPacketSize of the bulk endpoints (default 512)"},
             {"usb-claimed", "", alone, flag(&M::usb, &U::claimed),
              "another program holds the interface: claims are busy"},
             {"usb-stall-at", "=N", value, count(&M::usb, &U::stallAt),
              "the Nth bulk OUT transfer stalls the endpoint until the host\n"
              "clears the halt"},
             {"usb-in-errors", "=N", value, count(&M::usb, &U::inErrors),
              "the first N bulk IN transfers end in an I/O error"},
         },
         ""},
        {"i.MX boot ROM (imx-rom, imx-rom-hid):",
         {
             {"imx-serial", "=HEX8", value, applyImxSerial,
              "serial number of the running recovery loader (default\n"
              "DEADDEAD); serial= is the module's own, under which it comes\n"
              "back once firmware committed through the loader runs"},
             {"imx-ram", "=PATH", value, applyImxRam,
              "every completed write is appended to PATH as a line\n"
              "\"WRITE AAAAAAAA N\", the N bytes as sent, and a newline"},
             {"uid", "=W0:W1:W2:W3", value, applyUid,
              "the chip's unique identifier, answered by system option 39\n"
              "(sub-index j gives word 3-j); any module takes it, and only\n"
              "modules with it answer the option (also imx-uid=); the\n"
              "loader's default is 1FC90130:SERIAL:~SERIAL:00494D58"},
             {"imx-uid", "=W0:W1:W2:W3", value, applyUid, nullptr},
             {"imx-silent", "", alone, imxFlag(&ImxKnobs::silent), "the ROM never answers"},
             {"imx-data-error", "", alone, imxFlag(&ImxKnobs::dataError),
              "the ROM refuses every write at once, before its data, with\n"
              "status 0x33333333 (which error status then reports)"},
             {"imx-bad-complete", "", alone, imxFlag(&ImxKnobs::badComplete),
              "a finished write is answered 0x88888800, not 0x88888888"},
         },
         "The ROM answers error status with the HAB mode (0x56787856, open) and the last\n"
         "error (0xF0F0F0F0 for none); a write with the mode and 0x88888888 after its last\n"
         "byte; a jump with the mode only, then it stops answering and the loader enumerates\n"
         "reboot-ms later (a jump where nothing was written hangs the chip). It forgets an\n"
         "unfinished command or write after 1 s of silence. The loader takes firmware blocks\n"
         "at once (no loader blocks or LOAD needed); a system reset sends the chip back to the\n"
         "ROM; REBOOT after a WRITE brings it back, reboot-ms later, as the module itself."},
        {"upgrade loader (command 95; REBOOT after a WRITE commits the image and restarts the\n"
         "module into it, reporting the build stamped in it as \"ZVBUILD=\" and a big-endian\n"
         "32-bit number, else the build it had, and the version stamped as \"ZVVERSION=\" and\n"
         "the major, minor and patch bytes, else the version it had):",
         {
             {"flash", "=PATH", value, path(&L::flashPath),
              "after each commit, write the flash from the lowest to the\n"
              "highest written address (gaps 0xFF) to PATH"},
             {"block-size", "=N", value,
              number(0, 0xFFFF, "a number from 0 to 65535", &M::loader, &L::blockSize),
              "block size PREPARE offers (default 1024; 0 is allowed)"},
             {"prepare-status", "=S", value,
              number(0, 0xFF, "a number from 0 to 255", &M::loader, &L::prepareStatus),
              "PREPARE answers status S (default 0)"},
             {"bad-sum", "=N", value, count(&M::loader, &L::badSum),
              "the Nth SUM reply carries the sum plus 1"},
             {"drop-reply", "=N", value, count(&M::loader, &L::dropReply),
              "the Nth reply to command 95 is not sent"},
             {"short-count", "=N", value, count(&M::loader, &L::shortCount),
              "the Nth DATA is not accepted (count n-1, bytes discarded)"},
             {"always-short", "", alone, flag(&M::loader, &L::alwaysShort),
              "no DATA is accepted (every count n-1)"},
             {"silent-loader", "", alone, flag(&M::loader, &L::silent),
              "command 95 is never answered"},
             {"drop-at-load", "", alone, flag(&M::loader, &L::dropAtLoad),
              "LOAD drops the link unanswered; the module comes back after\n"
              "reboot-ms with its loader running"},
             {"no-uei-data", "", alone, flag(&M::loader, &L::noUeiData),
              "a block cannot come as one byte sequence (UEI option 10)"},
             {"short-init", "", alone, flag(&M::loader, &L::shortInit),
              "INIT answers 6 data bytes, without the last byte of the base\n"
              "address"},
             {"short-loader-prepare", "", alone, flag(&M::loader, &L::shortLoaderPrepare),
              "PREPARE before LOAD answers status 0 without a block size\n"
              "(3 data bytes); the running loader still sends one"},
             {"lost-reboot", "", alone, flag(&M::loader, &L::lostReboot),
              "REBOOT never arrives: the loader keeps running, on the link\n"
              "it had, and nothing is committed"},
             {"boots-old-build", "", alone, flag(&M::loader, &L::bootsOldBuild),
              "REBOOT restarts the module, but into the firmware (build and\n"
              "version) it ran before, and nothing is committed"},
             {"firmware-write-refused", "=N", value, count(&M::loader, &L::firmwareWriteRefused),
              "the first N attempts at the first firmware block (each from\n"
              "its PREPARE after LOAD) have their first WRITE answered with\n"
              "status 30 and nothing written; loader blocks go through"},
             {"firmware-prepare-status", "=S[:N]", value, applyFirmwarePrepareStatus,
              "the first N firmware PREPAREs (after LOAD; default 1) answer\n"
              "status S (1 to 255) and open no block"},
         },
         ""},
    };
    return groups;
}

const ModuleKey* findKey(const std::string& name) {
    for (const KeyGroup& group : keyGroups()) {
        for (const ModuleKey& key : group.keys) {
            if (name == key.name) {
                return &key;
            }
        }
    }
    return nullptr;
}

// Indents every line of text after the first by indent.
std::string indentLines(const std::string& text, const std::string& indent) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\n') {
            out += indent;
        }
    }
    return out;
}

}  // namespace

bool applyModuleKey(const std::string& key, const std::string& value, bool hasValue,
                    ModuleConfig& module, std::string& error) {
    const ModuleKey* entry = findKey(key);
    if (entry == nullptr) {
        error = "unknown module key \"" + key + "\"";
        return false;
    }
    if (entry->takes == Takes::Nothing && hasValue) {
        error = key + " takes no value";
        return false;
    }
    if (entry->takes == Takes::Value && !hasValue) {
        error = key + " needs a value (" + key + "=...)";
        return false;
    }
    return entry->apply(KeyText{key, value, hasValue, error}, module);
}

std::string moduleKeysHelp() {
    std::ostringstream out;
    for (const KeyGroup& group : keyGroups()) {
        if (*group.heading != '\0') {
            out << "  " << indentLines(group.heading, "  ") << "\n";
        }
        for (const ModuleKey& key : group.keys) {
            if (key.help != nullptr) {
                CLI::detail::format_help(out, std::string("  ") + key.name + key.valueWord,
                                         key.help, simtools::kHelpColumn);
            }
        }
        if (*group.note != '\0') {
            out << "  " << indentLines(group.note, "  ") << "\n";
        }
    }
    return out.str();
}

}  // namespace modulesim
