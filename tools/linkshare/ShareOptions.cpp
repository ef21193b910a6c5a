#include "ShareOptions.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <vector>

#include "CommandLine.h"

namespace linkshare {

namespace {

const char kDescription[] =
    "Opens the module's link (one of --tcp, --usb and --serial) and shares it with other\n"
    "processes through a link server (this machine only unless --network). SERIAL is\n"
    "hexadecimal. Runs until SIGINT or SIGTERM, or for SECONDS. --network lets in only the\n"
    "clients whose certificates are in the key directory's clients/; --make-keys makes the\n"
    "missing key pairs there and prints the public keys.";

const char* const kLinkOptions[] = {"--tcp", "--usb", "--serial"};

// Serial numbers are written as hex digits, as the module prints them; 0 names no module.
uint32_t serialNumber(const std::string& text) {
    size_t used = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &used, 16);
    } catch (const std::logic_error&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value == 0 || value > 0xFFFFFFFFull) {
        throw CLI::ValidationError("bad serial number: " + text);
    }
    return static_cast<uint32_t>(value);
}

bool parseNumber(const char* text, unsigned long limit, unsigned long* number) {
    char* end = nullptr;
    *number = strtoul(text, &end, 10);
    return *text != '\0' && *end == '\0' && *number <= limit;
}

bool parseEndpoint(const std::string& text, uint32_t* address, uint32_t* port) {
    size_t colon = text.rfind(':');
    unsigned long number = 0;
    if (colon == std::string::npos ||
        inet_pton(AF_INET, text.substr(0, colon).c_str(), address) != 1 ||
        !parseNumber(text.c_str() + colon + 1, 65535, &number) || number == 0) {
        return false;
    }
    *port = static_cast<uint32_t>(number);
    return true;
}

// One way to reach the module: its link's values (if any), then its serial number.
void addLink(CLI::App& app, const char* name, const char* words, Transport transport,
             ShareOptions& options, const char* help) {
    const int values = transport == Transport::Usb ? 1 : 2;
    app.add_option_function<std::vector<std::string>>(
           name,
           [transport, &options](const std::vector<std::string>& given) {
               options.transport = transport;
               if (transport == Transport::Tcp &&
                   !parseEndpoint(given[0], &options.address, &options.port)) {
                   throw CLI::ValidationError("bad address: " + given[0]);
               }
               if (transport == Transport::Serial) {
                   options.path = given[0];
               }
               options.serial = serialNumber(given.back());
           },
           help)
        ->type_name(words)
        ->expected(values);
}

void declareOptions(CLI::App& app, ShareOptions& options) {
    simtools::useToolHelp(app);
    app.description(kDescription);
    addLink(app, "--tcp", "ADDR:PORT SERIAL", Transport::Tcp, options,
            "a module with its own TCP/IP port");
    addLink(app, "--usb", "SERIAL", Transport::Usb, options, "a module on USB");
    addLink(app, "--serial", "PATH SERIAL", Transport::Serial, options,
            "a module on a serial port");
    simtools::addChecked(app, "--baud", options.baud, "RATE",
                         "the serial port's rate (default 115200)", simtools::within(0u, 4000000u));
    app.add_flag("--network", options.network, "publish the link beyond this machine");
    app.add_option("--keys", options.keys,
                   "the key directory (default ~/.pelmorax/updater/linkshare)")
        ->type_name("DIR");
    app.add_flag("--make-keys", options.makeKeys,
                 "make the missing server and client key pairs, print the public keys and stop");
    simtools::addChecked(app, "--duration", options.durationSeconds, "SECONDS",
                         "stop by itself after SECONDS", simtools::within(0, 86400));
    app.callback([&app, &options] {
        size_t links = 0;
        for (const char* name : kLinkOptions) {
            links += app.get_option(name)->empty() ? 0 : 1;
        }
        if (options.makeKeys) {
            if (links != 0) {
                throw CLI::ValidationError("--make-keys shares no link");
            }
            return;
        }
        if (links == 0) {
            throw CLI::ValidationError("no link given (--tcp, --usb or --serial)");
        }
        if (links > 1) {
            throw CLI::ValidationError("only one link can be shared");
        }
    });
}

}  // namespace

int readShareOptions(int argc, char** argv, ShareOptions& options) {
    CLI::App app{"", "linkshare"};
    declareOptions(app, options);
    return simtools::readCommandLine(app, argc, argv);
}

}  // namespace linkshare
