#include "SimConfig.h"

#include <arpa/inet.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace modulesim {

namespace {

constexpr int kMaxMilliseconds = 600000;
constexpr double kMaxDurationSeconds = 7 * 24 * 3600;
constexpr size_t kMaxNameLength = 32;

// Decimal, or hexadecimal with a 0x prefix; the whole text must be the number.
bool parseNumber(const std::string& text, unsigned long long max, unsigned long long& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || isspace((unsigned char)text[0])) {
        return false;
    }
    int base = 10;
    const char* start = text.c_str();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start += 2;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long value = strtoull(start, &end, base);
    if (errno != 0 || end == start || *end != '\0' || value > max) {
        return false;
    }
    out = value;
    return true;
}

bool parseHexSerial(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    for (char c : text) {
        if (!isxdigit((unsigned char)c)) {
            return false;
        }
    }
    out = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 16));
    return true;
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

bool parseMilliseconds(const std::string& key, const std::string& value, int& out,
                       std::string& error) {
    unsigned long long number = 0;
    if (!parseNumber(value, kMaxMilliseconds, number)) {
        error = key + " needs milliseconds from 0 to " + std::to_string(kMaxMilliseconds);
        return false;
    }
    out = static_cast<int>(number);
    return true;
}

bool parseCount(const std::string& key, const std::string& value, uint32_t& out,
                std::string& error) {
    unsigned long long number = 0;
    if (!parseNumber(value, 0xFFFFFFFFull, number)) {
        error = key + " needs a count";
        return false;
    }
    out = static_cast<uint32_t>(number);
    return true;
}

bool parseBusAddress(const std::string& key, const std::string& value, bool allowZero, uint8_t& out,
                     std::string& error) {
    unsigned long long number = 0;
    if (!parseNumber(value, 254, number) || (number & 1) != 0 || (number == 0 && !allowZero)) {
        error = key + " needs an even address from " + (allowZero ? "0" : "2") + " to 254";
        return false;
    }
    out = static_cast<uint8_t>(number);
    return true;
}

// What applying one key came to: done, refused (error set), or not a key of that group.
enum class KeyResult { Done, Error, NotMine };

KeyResult result(bool ok) {
    return ok ? KeyResult::Done : KeyResult::Error;
}

// Keys that stand alone: pty, cobs-pty, usb, usb-claimed, silent, no-address, and tcp with or
// without ADDR:PORT.
KeyResult applyFlagKey(const std::string& key, const std::string& value, bool hasValue,
                       ModuleConfig& module, std::string& error) {
    if (key != "pty" && key != "cobs-pty" && key != "usb" && key != "usb-claimed" &&
        key != "silent" && key != "no-address" && key != "tcp") {
        return KeyResult::NotMine;
    }
    if (hasValue && key != "tcp") {
        error = key + " takes no value";
        return KeyResult::Error;
    }
    if (key == "silent") {
        module.faults.silent = true;
    } else if (key == "usb-claimed") {
        module.usb.claimed = true;
    } else if (key == "usb") {
        return result(setAttachment(module, Attachment::Usb, error));
    } else if (key == "no-address") {
        module.faults.noAddress = true;
    } else if (key == "pty" || key == "cobs-pty") {
        Attachment kind = key == "pty" ? Attachment::Pty : Attachment::CobsPty;
        return result(setAttachment(module, kind, error));
    } else if (!setAttachment(module, Attachment::Tcp, error)) {
        return KeyResult::Error;
    } else if (hasValue && !parseTcp(value, module)) {
        error = "tcp needs ADDR:PORT with an IPv4 address";
        return KeyResult::Error;
    }
    return KeyResult::Done;
}

// Who the module is: serial number, model, addresses, firmware version, build, name, features.
KeyResult applyIdentityKey(const std::string& key, const std::string& value, ModuleConfig& module,
                           std::string& error) {
    unsigned long long number = 0;
    if (key == "serial") {
        module.hasSerial = parseHexSerial(value, module.serial);
        if (!module.hasSerial)
            error = "serial needs up to 8 hexadecimal digits";
        return result(module.hasSerial);
    }
    if (key == "model") {
        bool ok = parseNumber(value, 255, number);
        if (ok)
            module.model = static_cast<uint8_t>(number);
        if (!ok)
            error = "model needs a number from 0 to 255";
        return result(ok);
    }
    if (key == "address") {
        return result(parseBusAddress(key, value, false, module.address, error));
    }
    if (key == "router-address") {
        uint8_t router = 0;
        bool ok = parseBusAddress(key, value, true, router, error);
        if (ok)
            module.routerAddress = router;
        return result(ok);
    }
    if (key == "version") {
        bool ok = parseVersion(value, module);
        if (!ok)
            error = "version needs MAJOR.MINOR.PATCH, each 0 to 255";
        return result(ok);
    }
    if (key == "build" || key == "features") {
        bool ok = parseNumber(value, 0xFFFFFFFFull, number);
        (key == "build" ? module.build : module.protocolFeatures) = static_cast<uint32_t>(number);
        if (!ok)
            error = key + " needs a number from 0 to 4294967295";
        return result(ok);
    }
    if (key == "name") {
        bool ok = value.size() <= kMaxNameLength;
        module.name = value;
        module.hasName = true;
        if (!ok)
            error = "name holds at most 32 bytes";
        return result(ok);
    }
    return KeyResult::NotMine;
}

// Where the module is reached when it is not a flag: a node directory or a router's bus.
KeyResult applyPlaceKey(const std::string& key, const std::string& value, ModuleConfig& module,
                        std::string& error) {
    if (key == "node") {
        module.nodeDir = value;
        if (value.empty())
            error = "node needs a directory";
        return result(!value.empty() && setAttachment(module, Attachment::Node, error));
    }
    if (key == "behind") {
        if (!parseHexSerial(value, module.behind)) {
            error = "behind needs the router's serial number (up to 8 hexadecimal digits)";
            return KeyResult::Error;
        }
        return result(setAttachment(module, Attachment::Bus, error));
    }
    return KeyResult::NotMine;
}

// Timing and fault knobs.
KeyResult applyKnobKey(const std::string& key, const std::string& value, ModuleConfig& module,
                       std::string& error) {
    if (key == "latency-ms")
        return result(parseMilliseconds(key, value, module.faults.latencyMs, error));
    if (key == "hb-ms")
        return result(parseMilliseconds(key, value, module.heartbeatMs, error));
    if (key == "reboot-ms")
        return result(parseMilliseconds(key, value, module.rebootMs, error));
    if (key == "stream-ms") {
        if (!parseMilliseconds(key, value, module.streamMs, error))
            return KeyResult::Error;
        if (module.streamMs == 0)
            error = "stream-ms needs at least 1 ms";
        return result(module.streamMs != 0);
    }
    if (key == "drop-every")
        return result(parseCount(key, value, module.faults.dropEvery, error));
    if (key == "corrupt-every") {
        return result(parseCount(key, value, module.faults.corruptEvery, error));
    }
    if (key == "disconnect-after") {
        return result(parseCount(key, value, module.faults.disconnectAfter, error));
    }
    if (key == "bad-crc-every") {
        return result(parseCount(key, value, module.faults.badCrcEvery, error));
    }
    if (key == "bad-crc-at") {
        return result(parseCount(key, value, module.faults.badCrcAt, error));
    }
    return KeyResult::NotMine;
}

// The upgrade loader's stand-alone keys: its fault knobs that take no value.
KeyResult applyLoaderFlag(const std::string& key, bool hasValue, LoaderKnobs& loader,
                          std::string& error) {
    bool* flag = key == "always-short"           ? &loader.alwaysShort
                 : key == "silent-loader"        ? &loader.silent
                 : key == "drop-at-load"         ? &loader.dropAtLoad
                 : key == "no-uei-data"          ? &loader.noUeiData
                 : key == "short-init"           ? &loader.shortInit
                 : key == "short-loader-prepare" ? &loader.shortLoaderPrepare
                 : key == "lost-reboot"          ? &loader.lostReboot
                 : key == "boots-old-build"      ? &loader.bootsOldBuild
                                                 : nullptr;
    if (flag == nullptr) {
        return KeyResult::NotMine;
    }
    *flag = true;
    if (hasValue)
        error = key + " takes no value";
    return result(!hasValue);
}

// The upgrade loader's keys with a value: its flash image, what PREPARE answers, and the knobs
// that pick one exchange to spoil.
KeyResult applyLoaderValue(const std::string& key, const std::string& value, bool hasValue,
                           LoaderKnobs& loader, std::string& error) {
    if (key != "flash" && key != "block-size" && key != "prepare-status" && key != "bad-sum" &&
        key != "drop-reply" && key != "short-count") {
        return KeyResult::NotMine;
    }
    if (!hasValue) {
        error = key + " needs a value (" + key + "=...)";
        return KeyResult::Error;
    }
    if (key == "flash") {
        loader.flashPath = value;
        if (value.empty())
            error = "flash needs a file path";
        return result(!value.empty());
    }
    unsigned long long number = 0;
    if (key == "block-size") {
        bool ok = parseNumber(value, 0xFFFF, number);
        loader.blockSize = static_cast<uint16_t>(number);
        if (!ok)
            error = "block-size needs a number from 0 to 65535";
        return result(ok);
    }
    if (key == "prepare-status") {
        bool ok = parseNumber(value, 0xFF, number);
        loader.prepareStatus = static_cast<uint8_t>(number);
        if (!ok)
            error = "prepare-status needs a number from 0 to 255";
        return result(ok);
    }
    uint32_t& count = key == "bad-sum"      ? loader.badSum
                      : key == "drop-reply" ? loader.dropReply
                                            : loader.shortCount;
    return result(parseCount(key, value, count, error));
}

// How the module looks on the emulated USB bus, and its USB fault knobs.
KeyResult applyUsbKey(const std::string& key, const std::string& value, UsbKnobs& usb,
                      std::string& error) {
    unsigned long long number = 0;
    if (key == "usb-serial") {
        usb.serialText = value;
        usb.hasSerialText = true;
        if (value.size() > 31)
            error = "usb-serial holds at most 31 characters";
        return result(value.size() <= 31);
    }
    if (key == "usb-product") {
        bool ok = parseNumber(value, 0xFFFF, number);
        usb.productId = static_cast<int>(number);
        if (!ok)
            error = "usb-product needs a number from 0 to 0xFFFF";
        return result(ok);
    }
    if (key == "usb-max-packet") {
        bool ok = parseNumber(value, 1024, number) && number >= 8;
        usb.maxPacket = static_cast<uint16_t>(number);
        if (!ok)
            error = "usb-max-packet needs a number from 8 to 1024";
        return result(ok);
    }
    if (key == "usb-stall-at")
        return result(parseCount(key, value, usb.stallAt, error));
    if (key == "usb-in-errors")
        return result(parseCount(key, value, usb.inErrors, error));
    return KeyResult::NotMine;
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

// The i.MX boot ROM: its attachments, what the loader it starts looks like, and its fault knobs.
KeyResult applyImxKey(const std::string& key, const std::string& value, bool hasValue,
                      ModuleConfig& module, std::string& error) {
    ImxKnobs& imx = module.imx;
    bool* flag = key == "imx-silent"         ? &imx.silent
                 : key == "imx-data-error"   ? &imx.dataError
                 : key == "imx-bad-complete" ? &imx.badComplete
                                             : nullptr;
    bool attachment = key == "imx-rom" || key == "imx-rom-hid";
    bool valued = key == "imx-serial" || key == "imx-ram" || key == "uid" || key == "imx-uid";
    if (flag == nullptr && !attachment && !valued) {
        return KeyResult::NotMine;
    }
    if (hasValue != valued) {
        error = valued ? key + " needs a value (" + key + "=...)" : key + " takes no value";
        return KeyResult::Error;
    }
    if (attachment) {
        imx.hid = key == "imx-rom-hid";
        return result(setAttachment(module, Attachment::ImxRom, error));
    }
    if (flag != nullptr) {
        *flag = true;
        imx.given = true;
        return KeyResult::Done;
    }
    if (key == "uid" || key == "imx-uid") {
        module.hasUid = parseUid(value, module.uid);
        if (!module.hasUid)
            error = key + " needs four 32-bit words W0:W1:W2:W3";
        return result(module.hasUid);
    }
    imx.given = true;
    if (key == "imx-serial") {
        bool ok = parseHexSerial(value, imx.loaderSerial) && imx.loaderSerial != 0;
        if (!ok)
            error = "imx-serial needs a serial number of up to 8 hexadecimal digits, not 0";
        return result(ok);
    }
    imx.ramPath = value;
    if (value.empty())
        error = "imx-ram needs a file path";
    return result(!value.empty());
}

// Faults that hit the firmware blocks only, sent once LOAD started the loader: how often the
// first firmware block's WRITE is refused, and what the first firmware PREPAREs answer.
KeyResult applyFirmwareFaultKey(const std::string& key, const std::string& value,
                                LoaderKnobs& loader, std::string& error) {
    if (key == "firmware-write-refused") {
        return result(parseCount(key, value, loader.firmwareWriteRefused, error));
    }
    if (key != "firmware-prepare-status") {
        return KeyResult::NotMine;
    }
    size_t colon = value.find(':');
    unsigned long long status = 0;
    unsigned long long count = 1;
    bool ok = parseNumber(value.substr(0, colon), 0xFF, status) && status != 0 &&
              (colon == std::string::npos ||
               (parseNumber(value.substr(colon + 1), 0xFFFFFFFFull, count) && count != 0));
    loader.firmwarePrepareStatus = static_cast<uint8_t>(status);
    loader.firmwarePrepareRefused = static_cast<uint32_t>(count);
    if (!ok)
        error = key + " needs S[:N], a status from 1 to 255 and a count of at least 1";
    return result(ok);
}

// One key or key=value of a --module description.
bool applyModuleKey(const std::string& key, const std::string& value, bool hasValue,
                    ModuleConfig& module, std::string& error) {
    KeyResult outcome = applyFlagKey(key, value, hasValue, module, error);
    if (outcome == KeyResult::NotMine)
        outcome = applyImxKey(key, value, hasValue, module, error);
    if (outcome == KeyResult::NotMine)
        outcome = applyLoaderFlag(key, hasValue, module.loader, error);
    if (outcome == KeyResult::NotMine)
        outcome = applyLoaderValue(key, value, hasValue, module.loader, error);
    if (outcome == KeyResult::NotMine) {
        if (!hasValue) {
            ModuleConfig scratch;
            std::string ignored;
            bool known = applyIdentityKey(key, "", scratch, ignored) != KeyResult::NotMine ||
                         applyPlaceKey(key, "", scratch, ignored) != KeyResult::NotMine ||
                         applyKnobKey(key, "", scratch, ignored) != KeyResult::NotMine ||
                         applyUsbKey(key, "", scratch.usb, ignored) != KeyResult::NotMine;
            known = known ||
                    applyFirmwareFaultKey(key, "", scratch.loader, ignored) != KeyResult::NotMine;
            error = known ? key + " needs a value (" + key + "=...)"
                          : "unknown module key \"" + key + "\"";
            return false;
        }
        outcome = applyIdentityKey(key, value, module, error);
    }
    if (outcome == KeyResult::NotMine)
        outcome = applyPlaceKey(key, value, module, error);
    if (outcome == KeyResult::NotMine)
        outcome = applyKnobKey(key, value, module, error);
    if (outcome == KeyResult::NotMine)
        outcome = applyUsbKey(key, value, module.usb, error);
    if (outcome == KeyResult::NotMine)
        outcome = applyFirmwareFaultKey(key, value, module.loader, error);
    if (outcome == KeyResult::NotMine) {
        error = "unknown module key \"" + key + "\"";
        return false;
    }
    return outcome == KeyResult::Done;
}

bool parseModule(const std::string& spec, ModuleConfig& module, std::string& error) {
    size_t start = 0;
    while (start <= spec.size()) {
        size_t comma = spec.find(',', start);
        std::string item = spec.substr(start, comma == std::string::npos ? comma : comma - start);
        if (item.empty()) {
            error = "empty item in --module " + spec;
            return false;
        }
        size_t equals = item.find('=');
        std::string key = item.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
        if (!applyModuleKey(key, value, equals != std::string::npos, module, error)) {
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (!module.hasSerial) {
        error = "--module " + spec + ": serial= is required";
        return false;
    }
    return true;
}

const ModuleConfig* findModule(const SimConfig& config, uint32_t serial) {
    for (const ModuleConfig& module : config.modules) {
        if (module.serial == serial) {
            return &module;
        }
    }
    return nullptr;
}

std::string serialText(uint32_t serial) {
    char text[9];
    snprintf(text, sizeof text, "%08X", serial);
    return text;
}

// bad-crc-every has something to spoil only where replies travel in COBS frames.
bool framesCarryCrc(const SimConfig& config, const ModuleConfig& module) {
    if ((module.faults.badCrcEvery == 0 && module.faults.badCrcAt == 0) ||
        module.attachment == Attachment::CobsPty) {
        return true;
    }
    const ModuleConfig* router =
        module.attachment == Attachment::Bus ? findModule(config, module.behind) : nullptr;
    return router != nullptr && router->attachment == Attachment::CobsPty;
}

// Checks that apply across modules: unique serials, attachments, routers and bus addresses.
bool validate(SimConfig& config, std::string& error) {
    if (config.modules.empty()) {
        error = "no modules: give at least one --module";
        return false;
    }
    std::set<uint32_t> serials;
    std::set<std::pair<uint32_t, uint8_t>> busAddresses;
    for (ModuleConfig& module : config.modules) {
        std::string who = "module " + serialText(module.serial);
        if (!serials.insert(module.serial).second) {
            error = who + " is given twice";
            return false;
        }
        if (module.attachment == Attachment::None) {
            error = who +
                    " has no attachment (tcp=, pty, cobs-pty, usb, imx-rom, imx-rom-hid, node= or "
                    "behind=)";
            return false;
        }
        if (module.imx.given && module.attachment != Attachment::ImxRom) {
            error = who + ": the imx- knobs need the imx-rom or imx-rom-hid attachment";
            return false;
        }
        if (!framesCarryCrc(config, module)) {
            error = who + ": bad-crc-every needs frames with a CRC (cobs-pty, or behind= one)";
            return false;
        }
        if (module.attachment != Attachment::Bus) {
            if (module.routerAddress < 0)
                module.routerAddress = module.address;
            continue;
        }
        const ModuleConfig* router = findModule(config, module.behind);
        if (router == nullptr || router->attachment == Attachment::Bus ||
            router->attachment == Attachment::None || router->attachment == Attachment::ImxRom) {
            error = who +
                    ": behind= must name a module with a tcp, pty, cobs-pty, usb or node "
                    "attachment";
            return false;
        }
        if (module.address == router->address ||
            !busAddresses.insert({module.behind, module.address}).second) {
            error = who + ": address " + std::to_string(module.address) + " is taken on the bus";
            return false;
        }
        if (module.routerAddress < 0)
            module.routerAddress = router->address;
    }
    return true;
}

bool parseDuration(const std::string& text, double& out) {
    errno = 0;
    char* end = nullptr;
    double value = strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0 ||
        value > kMaxDurationSeconds) {
        return false;
    }
    out = value;
    return true;
}

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, SimConfig& config, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            inlineValue = true;
        }
        auto takeValue = [&]() {
            if (inlineValue)
                return true;
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            config.help = true;
        } else if (arg == "--log" && !inlineValue) {
            config.log = true;
        } else if (arg == "--log-segments" && !inlineValue) {
            config.logSegments = true;
        } else if (arg == "--duration") {
            if (!takeValue())
                return false;
            if (!parseDuration(value, config.durationSeconds)) {
                error = "--duration needs seconds above 0 (at most a week)";
                return false;
            }
        } else if (arg == "--latency-ms") {
            if (!takeValue())
                return false;
            if (!parseMilliseconds(arg, value, config.latencyMs, error))
                return false;
        } else if (arg == "--module") {
            if (!takeValue())
                return false;
            ModuleConfig module;
            if (!parseModule(value, module, error))
                return false;
            config.modules.push_back(module);
        } else {
            error = "unknown argument \"" + std::string(argv[i]) + "\" (see --help)";
            return false;
        }
    }
    return config.help || validate(config, error);
}

const char* usageText() {
    return "usage: modulesim [--duration SECONDS] [--latency-ms N] [--log [--log-segments]] "
           "MODULE...\n"
           "Simulates Zendrival modules for the host library and Updater to talk to.\n"
           "\n"
           "  MODULE = --module key=value[,key=value...]\n"
           "    serial=HEX8          serial number (required)\n"
           "    model=N              model number (default 13)\n"
           "    address=N            even bus address (default 2)\n"
           "    router-address=N     router address it reports (default: its own address, or\n"
           "                         the router's for a module on a bus)\n"
           "    version=MAJ.MIN.PAT  firmware version (default 2.12.2)\n"
           "    build=N              firmware build number (default 1000)\n"
           "    name=TEXT            module name, at most 32 bytes, no commas\n"
           "                         (default \"Module\" and the serial number)\n"
           "    features=N           protocol feature bits (default 0x80000000)\n"
           "  one attachment:\n"
           "    tcp[=ADDR:PORT]      own TCP/IP port (default 127.0.0.1:0, 0 = any free port);\n"
           "                         answers the TCP/IP discovery request\n"
           "    pty                  raw bytes on a pseudo-terminal\n"
           "    cobs-pty             a pseudo-terminal as a packetised serial line: each packet\n"
           "                         both ways is one frame (address, length, data, CRC-8/MAXIM,\n"
           "                         COBS-encoded, then a 0 byte); frames that fail the check\n"
           "                         are dropped (noted with --log), as are bytes past the\n"
           "                         module's 32-byte buffer before a 0\n"
           "    usb                  a device on an emulated USB bus (umockdev): the maker's\n"
           "                         vendor id, bulk endpoints on the vendor interface; programs\n"
           "                         reach it through libusb when run with\n"
           "                         LD_PRELOAD=libumockdev-preload.so.0 UMOCKDEV_DIR=DIR\n"
           "                         (scripts/usb-run does this); a restart re-enumerates it\n"
           "    imx-rom              an i.MX chip in its boot ROM: the Serial Download Protocol\n"
           "                         on a pseudo-terminal (UART bytes, answers little-endian);\n"
           "                         after a jump into written RAM the recovery loader runs and\n"
           "                         enumerates on the emulated USB bus (as usb above)\n"
           "    imx-rom-hid          the same ROM as a HID device (1FC9:0130) on the emulated\n"
           "                         USB bus, reached through its hidraw node\n"
           "    node=DIR             pseudo-terminal reached as DIR/zendrival.SERIAL, as the\n"
           "                         kernel driver's device node\n"
           "    behind=HEX8          on the I2C bus of that router module, at its address\n"
           "  timing and faults:\n"
           "    latency-ms=N         delay every reply (default: --latency-ms, else 0)\n"
           "    drop-every=N         drop every Nth reply\n"
           "    corrupt-every=N      damage every Nth reply (last data byte inverted; a reply\n"
           "                         without data gets an odd address)\n"
           "    disconnect-after=N   close the link on the Nth received packet, unanswered, once\n"
           "                         (TCP: that connection, a host that connects again is not\n"
           "                         cut off; pty: the terminal hangs up for good); the host's\n"
           "                         heartbeat answers and sync/identify requests are not\n"
           "                         counted, so N does not depend on the run's timing\n"
           "    silent               answer nothing on the link (discovery still finds it)\n"
           "    bad-crc-every=N      cobs-pty: every Nth reply frame carries its CRC inverted\n"
           "    bad-crc-at=N         cobs-pty: only the Nth reply frame carries its CRC inverted\n"
           "    no-address           ignore the sync/identify request (address 173)\n"
           "    hb-ms=N              heartbeat interval (default 1000, 0 = off); system option 3\n"
           "                         reads and sets it in units of 10 ms; modules on a bus send\n"
           "                         none of their own\n"
           "    stream-ms=N          stream sampling interval (default 50)\n"
           "    reboot-ms=N          how long a TCP/IP module stays away when it reboots\n"
           "                         (default 500)\n"
           "  USB (usb attachment):\n"
           "    usb-serial=TEXT      serial-number string (default the serial as 8 hex digits)\n"
           "    usb-product=N        USB product id (default the model number)\n"
           "    usb-max-packet=N     wMaxPacketSize of the bulk endpoints (default 512)\n"
           "    usb-claimed          another program holds the interface: claims are busy\n"
           "    usb-stall-at=N       the Nth bulk OUT transfer stalls the endpoint until the host\n"
           "                         clears the halt\n"
           "    usb-in-errors=N      the first N bulk IN transfers end in an I/O error\n"
           "  i.MX boot ROM (imx-rom, imx-rom-hid):\n"
           "    imx-serial=HEX8      serial number of the running recovery loader (default\n"
           "                         DEADDEAD); serial= is the module's own, under which it comes\n"
           "                         back once firmware committed through the loader runs\n"
           "    imx-ram=PATH         every completed write is appended to PATH as a line\n"
           "                         \"WRITE AAAAAAAA N\", the N bytes as sent, and a newline\n"
           "    uid=W0:W1:W2:W3      the chip's unique identifier, answered by system option 39\n"
           "                         (sub-index j gives word 3-j); any module takes it, and only\n"
           "                         modules with it answer the option (also imx-uid=); the\n"
           "                         loader's default is 1FC90130:SERIAL:~SERIAL:00494D58\n"
           "    imx-silent           the ROM never answers\n"
           "    imx-data-error       the ROM refuses every write at once, before its data, with\n"
           "                         status 0x33333333 (which error status then reports)\n"
           "    imx-bad-complete     a finished write is answered 0x88888800, not 0x88888888\n"
           "  The ROM answers error status with the HAB mode (0x56787856, open) and the last\n"
           "  error (0xF0F0F0F0 for none); a write with the mode and 0x88888888 after its last\n"
           "  byte; a jump with the mode only, then it stops answering and the loader enumerates\n"
           "  reboot-ms later (a jump where nothing was written hangs the chip). It forgets an\n"
           "  unfinished command or write after 1 s of silence. The loader takes firmware blocks\n"
           "  at once (no loader blocks or LOAD needed); a system reset sends the chip back to "
           "the\n"
           "  ROM; REBOOT after a WRITE brings it back, reboot-ms later, as the module itself.\n"
           "  upgrade loader (command 95; REBOOT after a WRITE commits the image and restarts the\n"
           "  module into it, reporting the build stamped in it as \"ZVBUILD=\" and a big-endian\n"
           "  32-bit number, else the build it had, and the version stamped as \"ZVVERSION=\" and\n"
           "  the major, minor and patch bytes, else the version it had):\n"
           "    flash=PATH           after each commit, write the flash from the lowest to the\n"
           "                         highest written address (gaps 0xFF) to PATH\n"
           "    block-size=N         block size PREPARE offers (default 1024; 0 is allowed)\n"
           "    prepare-status=S     PREPARE answers status S (default 0)\n"
           "    bad-sum=N            the Nth SUM reply carries the sum plus 1\n"
           "    drop-reply=N         the Nth reply to command 95 is not sent\n"
           "    short-count=N        the Nth DATA is not accepted (count n-1, bytes discarded)\n"
           "    always-short         no DATA is accepted (every count n-1)\n"
           "    silent-loader        command 95 is never answered\n"
           "    drop-at-load         LOAD drops the link unanswered; the module comes back after\n"
           "                         reboot-ms with its loader running\n"
           "    no-uei-data          a block cannot come as one byte sequence (UEI option 10)\n"
           "    short-init           INIT answers 6 data bytes, without the last byte of the base\n"
           "                         address\n"
           "    short-loader-prepare PREPARE before LOAD answers status 0 without a block size\n"
           "                         (3 data bytes); the running loader still sends one\n"
           "    lost-reboot          REBOOT never arrives: the loader keeps running, on the link\n"
           "                         it had, and nothing is committed\n"
           "    boots-old-build      REBOOT restarts the module, but into the firmware (build and\n"
           "                         version) it ran before, and nothing is committed\n"
           "    firmware-write-refused=N\n"
           "                         the first N attempts at the first firmware block (each from\n"
           "                         its PREPARE after LOAD) have their first WRITE answered with\n"
           "                         status 30 and nothing written; loader blocks go through\n"
           "    firmware-prepare-status=S[:N]\n"
           "                         the first N firmware PREPAREs (after LOAD; default 1) answer\n"
           "                         status S (1 to 255) and open no block\n"
           "\n"
           "On start it prints one line per attachment, then \"ready\":\n"
           "  tcp SERIAL ADDR:PORT | pty SERIAL /dev/pts/N | node SERIAL DIR/zendrival.SERIAL\n"
           "  | usb SERIAL /dev/bus/usb/BBB/DDD | imx-rom SERIAL /dev/pts/N\n"
           "  | imx-rom-hid SERIAL /dev/hidrawN, and \"umockdev DIR\" when there is a usb or\n"
           "  imx-rom module\n"
           "(a cobs-pty attachment prints a pty line; a node attachment prints its pty line\n"
           "too). It runs until SIGTERM or SIGINT, or for --duration seconds (default 600), and\n"
           "exits 0. Command-line errors exit 2.\n"
           "--log prints every packet received (<) and sent (>) on standard error.\n"
           "--log-segments adds, for every read from a TCP/IP host, a note of the bytes it\n"
           "brought and the number of TCP segments they came in.\n"
           "\n"
           "TCP/IP modules join the discovery group on every interface: run it in a private\n"
           "network namespace (scripts/netns-run). In the machine's own namespace it listens\n"
           "for discovery on loopback only.\n";
}

}  // namespace modulesim
