#include "SimOptions.h"

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "CommandLine.h"
#include "Sectors.h"

namespace lpcsim {

namespace {

bool parseUnsigned(const std::string& text, uint32_t* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFull) {
        return false;
    }
    *value = static_cast<uint32_t>(parsed);
    return true;
}

bool parseWords(const std::string& text, std::array<uint32_t, 4>* words) {
    size_t start = 0;
    for (size_t i = 0; i < words->size(); ++i) {
        size_t comma = text.find(',', start);
        bool last = i + 1 == words->size();
        if (last != (comma == std::string::npos)) {
            return false;
        }
        std::string word = text.substr(start, last ? std::string::npos : comma - start);
        if (!parseUnsigned(word, &(*words)[i])) {
            return false;
        }
        start = comma + 1;
    }
    return true;
}

bool parseSeconds(const std::string& text, double* seconds) {
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(parsed > 0)) {
        return false;
    }
    *seconds = parsed;
    return true;
}

bool parseVersion(const std::string& text, SimOptions* options) {
    size_t dot = text.find('.');
    uint32_t major = 0;
    uint32_t minor = 0;
    if (dot == std::string::npos || !parseUnsigned(text.substr(0, dot), &major) ||
        !parseUnsigned(text.substr(dot + 1), &minor) || major > 255 || minor > 255) {
        return false;
    }
    options->bootMajor = major;
    options->bootMinor = minor;
    return true;
}

bool parseCommandLetter(const std::string& text, char* letter) {
    const std::string letters = "UBAWRPCGEJKNMI";
    if (text.size() != 1 || letters.find(text[0]) == std::string::npos) {
        return false;
    }
    *letter = text[0];
    return true;
}

bool setCount(unsigned* target, const std::string& text) {
    uint32_t value = 0;
    if (!parseUnsigned(text, &value)) {
        return false;
    }
    *target = value;
    return true;
}

using Parse = std::function<bool(const std::string&)>;

// An option with a value that parse takes in; a value it refuses is an error naming both.
void addValued(CLI::App& app, const std::string& name, const char* word, const char* help,
               Parse parse) {
    app.add_option_function<std::string>(
           name,
           [name, parse](const std::string& value) {
               if (!parse(value)) {
                   throw CLI::ValidationError("bad value for " + name + ": '" + value + "'");
               }
           },
           help)
        ->type_name(word);
}

void declareOptions(CLI::App& app, SimOptions& o) {
    simtools::useToolHelp(app);
    app.description(
        "An NXP LPC17xx ISP ROM bootloader on a pseudo-terminal. Prints 'pty PATH' and "
        "'ready'.");
    addValued(app, "--duration", "S", "run for S seconds (default 600), or until SIGTERM/SIGINT",
              [&o](const std::string& v) { return parseSeconds(v, &o.durationSeconds); });
    app.add_flag("--log", o.log, "trace every received line and every reply on stderr");
    addValued(app, "--flash", "PATH",
              "write the 512 KB flash image to PATH after every change\nand at exit",
              [&o](const std::string& v) { return o.flashPath = v, !v.empty(); });
    addValued(app, "--flash-initial", "PATH", "start with this flash image (default: erased)",
              [&o](const std::string& v) { return o.flashInitial = v, !v.empty(); });
    addValued(app, "--device-id", "W0,W1,W2,W3", "the serial-number words the N command reports",
              [&o](const std::string& v) { return parseWords(v, &o.deviceId); });
    addValued(app, "--part-id", "N", "the part identification J reports (default 0x26013F37)",
              [&o](const std::string& v) { return parseUnsigned(v, &o.partId); });
    addValued(app, "--boot-version", "MAJ.MIN", "the boot code version K reports (default 4.1)",
              [&o](const std::string& v) { return parseVersion(v, &o); });
    app.add_flag("--echo-off", o.echoOff, "start with echo off");
    app.add_flag("--baud-limit", o.baudLimit, "pace both directions to the rate set on the pty");
    app.add_flag("--lf-before-code", o.lfBeforeCode, "echo a line's LF before its return code");
    addValued(app, "--erase-ms-per-sector", "N", "erase time per sector (default 100)",
              [&o](const std::string& v) { return setCount(&o.eraseMsPerSector, v); });
    addValued(app, "--write-ms-per-256", "N", "flash write time per 256 bytes copied (default 1)",
              [&o](const std::string& v) { return setCount(&o.writeMsPer256, v); });
    app.option_defaults()->group("fault knobs");
    app.add_flag("--silent", o.silent, "never answer anything");
    app.add_flag("--no-sync", o.noSync, "answer '?' with garbage and never synchronise");
    app.add_flag("--bad-checksum-always", o.badChecksumAlways,
                 "answer every W checksum with RESEND");
    addValued(app, "--bad-checksum-at", "N", "answer the Nth W checksum with RESEND (once)",
              [&o](const std::string& v) { return setCount(&o.badChecksumAt, v); });
    addValued(app, "--stop-after", "N", "stop answering after N command lines",
              [&o](const std::string& v) { return setCount(&o.stopAfter, v); });
    addValued(app, "--busy-code", "C", "command letter C answers BUSY (11) once",
              [&o](const std::string& v) { return parseCommandLetter(v, &o.busyCommand); });
    addValued(app, "--unprogrammed-byte", "A",
              "the flash byte at address A never programs (stays 0xFF)",
              [&o](const std::string& v) {
                  o.hasUnprogrammedByte = parseUnsigned(v, &o.unprogrammedByte);
                  return o.hasUnprogrammedByte && o.unprogrammedByte < kFlashSize;
              });
    addValued(app, "--silent-after-copies", "N", "stop answering after N copies to flash",
              [&o](const std::string& v) { return setCount(&o.silentAfterCopies, v); });
}

}  // namespace

int readCommandLine(int argc, char** argv, SimOptions& options) {
    CLI::App app{"", "lpcsim"};
    declareOptions(app, options);
    return simtools::readCommandLine(app, argc, argv);
}

}  // namespace lpcsim
