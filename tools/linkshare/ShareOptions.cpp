#include "ShareOptions.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

namespace linkshare {

namespace {

// Serial numbers are written as eight hex digits, as the module prints them.
bool parseSerial(const char* text, uint32_t* serial) {
    char* end = nullptr;
    unsigned long value = strtoul(text, &end, 16);
    if (*text == '\0' || *end != '\0' || value == 0 || value > 0xFFFFFFFFul) {
        return false;
    }
    *serial = static_cast<uint32_t>(value);
    return true;
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

// The transport option and its values; i is left on the last value used.
bool parseTransport(int argc, char** argv, int* i, ShareOptions* options, std::string* error) {
    const std::string option = argv[*i];
    const int values = option == "--usb" ? 1 : 2;
    if (*i + values >= argc) {
        *error = option + " needs " + (values == 1 ? "SERIAL" : "a link and SERIAL");
        return false;
    }
    const char* serialText = argv[*i + values];
    if (option == "--tcp") {
        options->transport = Transport::Tcp;
        if (!parseEndpoint(argv[*i + 1], &options->address, &options->port)) {
            *error = std::string("bad address: ") + argv[*i + 1];
            return false;
        }
    } else if (option == "--serial") {
        options->transport = Transport::Serial;
        options->path = argv[*i + 1];
    } else {
        options->transport = Transport::Usb;
    }
    if (!parseSerial(serialText, &options->serial)) {
        *error = std::string("bad serial number: ") + serialText;
        return false;
    }
    *i += values;
    return true;
}

bool parseValue(int argc, char** argv, int* i, unsigned long limit, unsigned long* number,
                std::string* error) {
    if (*i + 1 >= argc || !parseNumber(argv[*i + 1], limit, number)) {
        *error = std::string("bad value for ") + argv[*i];
        return false;
    }
    ++*i;
    return true;
}

}  // namespace

bool parseShareOptions(int argc, char** argv, ShareOptions* options, std::string* error) {
    bool haveLink = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        unsigned long number = 0;
        if (option == "--help" || option == "-h") {
            options->help = true;
            return true;
        } else if (option == "--tcp" || option == "--usb" || option == "--serial") {
            if (haveLink) {
                *error = "only one link can be shared";
                return false;
            }
            if (!parseTransport(argc, argv, &i, options, error)) {
                return false;
            }
            haveLink = true;
        } else if (option == "--network") {
            options->network = true;
        } else if (option == "--duration") {
            if (!parseValue(argc, argv, &i, 86400, &number, error)) {
                return false;
            }
            options->durationSeconds = static_cast<int>(number);
        } else if (option == "--baud") {
            if (!parseValue(argc, argv, &i, 4000000, &number, error)) {
                return false;
            }
            options->baud = static_cast<uint32_t>(number);
        } else {
            *error = "unknown option: " + option;
            return false;
        }
    }
    if (!haveLink) {
        *error = "no link given (--tcp, --usb or --serial)";
        return false;
    }
    return true;
}

const char* shareUsage() {
    return "usage: linkshare --tcp ADDR:PORT SERIAL | --usb SERIAL | --serial PATH SERIAL\n"
           "                 [--baud RATE] [--network] [--duration SECONDS]\n"
           "Opens the module's link and shares it with other processes through a link server\n"
           "(this machine only unless --network). SERIAL is hexadecimal. Runs until SIGINT or\n"
           "SIGTERM, or for SECONDS.\n";
}

}  // namespace linkshare
