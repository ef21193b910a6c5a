#include "SimConfig.h"

#include <cstdio>
#include <set>

#include "CommandLine.h"
#include "ModuleKeys.h"
#include "ValueText.h"

namespace modulesim {

namespace {

const char kDescription[] =
    "Simulates Zendrival modules for the host library and Updater to talk to.";

const char kAfterKeys[] =
    "On start it prints one line per attachment, then \"ready\":\n"
    "  tcp SERIAL ADDR:PORT | pty SERIAL /dev/pts/N | node SERIAL DIR/zendrival.SERIAL\n"
    "  | usb SERIAL /dev/bus/usb/BBB/DDD | imx-rom SERIAL /dev/pts/N\n"
    "  | imx-rom-hid SERIAL /dev/hidrawN, and \"umockdev DIR\" when there is a usb or\n"
    "  imx-rom module\n"
    "(a cobs-pty attachment prints a pty line; a node attachment prints its pty line\n"
    "too). It runs until SIGTERM or SIGINT, or for --duration seconds (default 600), and\n"
    "exits 0. Command-line errors exit 2.\n"
    "\n"
    "TCP/IP modules join the discovery group on every interface: run it in a private\n"
    "network namespace (scripts/netns-run). In the machine's own namespace it listens\n"
    "for discovery on loopback only.";

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

void declareOptions(CLI::App& app, SimConfig& config, std::vector<std::string>& modules) {
    simtools::useToolHelp(app);
    app.description(kDescription);
    app.add_option_function<std::string>(
           "--duration",
           [&config](const std::string& text) {
               if (!parseDuration(text, config.durationSeconds)) {
                   throw CLI::ValidationError("--duration needs seconds above 0 (at most a week)");
               }
           },
           "how long to run (default 600)")
        ->type_name("SECONDS");
    app.add_option_function<std::string>(
           "--latency-ms",
           [&config](const std::string& text) {
               std::string error;
               if (!parseMilliseconds("--latency-ms", text, config.latencyMs, error)) {
                   throw CLI::ValidationError(error);
               }
           },
           "delay every reply by N ms (default 0)")
        ->type_name("N");
    app.add_flag("--log", config.log,
                 "print every packet received (<) and sent (>) on standard error");
    app.add_flag("--log-segments", config.logSegments,
                 "with --log: add, for every read from a TCP/IP host, a note of\n"
                 "the bytes it brought and the number of TCP segments they came in");
    app.add_option("--module", modules,
                   "one simulated module (at least one, each given its own\n"
                   "--module), described by the keys below")
        ->type_name("KEYS")
        ->allow_extra_args(false);
    app.footer("  KEYS = key[=value][,key[=value]...] of these:\n" + moduleKeysHelp() + "\n" +
               kAfterKeys);
}

}  // namespace

int readCommandLine(int argc, char** argv, SimConfig& config) {
    CLI::App app{"", "modulesim"};
    std::vector<std::string> modules;
    declareOptions(app, config, modules);
    app.callback([&config, &modules] {
        std::string error;
        for (const std::string& spec : modules) {
            ModuleConfig module;
            if (!parseModule(spec, module, error)) {
                throw CLI::ValidationError(error);
            }
            config.modules.push_back(module);
        }
        if (!validate(config, error)) {
            throw CLI::ValidationError(error);
        }
    });
    return simtools::readCommandLine(app, argc, argv);
}

}  // namespace modulesim
