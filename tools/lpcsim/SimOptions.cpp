#include "SimOptions.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

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

using Flag = std::function<void(SimOptions&)>;
using Valued = std::function<bool(SimOptions&, const std::string&)>;

const std::map<std::string, Flag>& flags() {
    static const std::map<std::string, Flag> table = {
        {"--log", [](SimOptions& o) { o.log = true; }},
        {"--echo-off", [](SimOptions& o) { o.echoOff = true; }},
        {"--baud-limit", [](SimOptions& o) { o.baudLimit = true; }},
        {"--lf-before-code", [](SimOptions& o) { o.lfBeforeCode = true; }},
        {"--silent", [](SimOptions& o) { o.silent = true; }},
        {"--no-sync", [](SimOptions& o) { o.noSync = true; }},
        {"--bad-checksum-always", [](SimOptions& o) { o.badChecksumAlways = true; }},
    };
    return table;
}

bool setCount(unsigned* target, const std::string& text) {
    uint32_t value = 0;
    if (!parseUnsigned(text, &value)) {
        return false;
    }
    *target = value;
    return true;
}

const std::map<std::string, Valued>& valuedOptions() {
    static const std::map<std::string, Valued> table = {
        {"--duration",
         [](SimOptions& o, const std::string& v) { return parseSeconds(v, &o.durationSeconds); }},
        {"--flash",
         [](SimOptions& o, const std::string& v) { return o.flashPath = v, !v.empty(); }},
        {"--flash-initial",
         [](SimOptions& o, const std::string& v) { return o.flashInitial = v, !v.empty(); }},
        {"--device-id",
         [](SimOptions& o, const std::string& v) { return parseWords(v, &o.deviceId); }},
        {"--part-id",
         [](SimOptions& o, const std::string& v) { return parseUnsigned(v, &o.partId); }},
        {"--boot-version", [](SimOptions& o, const std::string& v) { return parseVersion(v, &o); }},
        {"--erase-ms-per-sector",
         [](SimOptions& o, const std::string& v) { return setCount(&o.eraseMsPerSector, v); }},
        {"--write-ms-per-256",
         [](SimOptions& o, const std::string& v) { return setCount(&o.writeMsPer256, v); }},
        {"--bad-checksum-at",
         [](SimOptions& o, const std::string& v) { return setCount(&o.badChecksumAt, v); }},
        {"--stop-after",
         [](SimOptions& o, const std::string& v) { return setCount(&o.stopAfter, v); }},
        {"--busy-code",
         [](SimOptions& o, const std::string& v) { return parseCommandLetter(v, &o.busyCommand); }},
        {"--unprogrammed-byte",
         [](SimOptions& o, const std::string& v) {
             o.hasUnprogrammedByte = parseUnsigned(v, &o.unprogrammedByte);
             return o.hasUnprogrammedByte && o.unprogrammedByte < kFlashSize;
         }},
        {"--silent-after-copies",
         [](SimOptions& o, const std::string& v) { return setCount(&o.silentAfterCopies, v); }},
    };
    return table;
}

}  // namespace

ParseResult parseOptions(int argc, char** argv, SimOptions& options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            return ParseResult::Help;
        }
        auto flag = flags().find(name);
        if (flag != flags().end()) {
            flag->second(options);
            continue;
        }
        auto valued = valuedOptions().find(name);
        if (valued == valuedOptions().end()) {
            *error = "unknown option " + name + " (try --help)";
            return ParseResult::Error;
        }
        if (i + 1 >= argc) {
            *error = name + " needs a value";
            return ParseResult::Error;
        }
        std::string value = argv[++i];
        if (!valued->second(options, value)) {
            *error = "bad value for " + name + ": '" + value + "'";
            return ParseResult::Error;
        }
    }
    return ParseResult::Run;
}

const char* usageText() {
    return "usage: lpcsim [options]\n"
           "An NXP LPC17xx ISP ROM bootloader on a pseudo-terminal. Prints 'pty PATH' and "
           "'ready'.\n"
           "  --duration S            run for S seconds (default 600), or until SIGTERM/SIGINT\n"
           "  --log                   trace every received line and every reply on stderr\n"
           "  --flash PATH            write the 512 KB flash image to PATH after every change\n"
           "                          and at exit\n"
           "  --flash-initial PATH    start with this flash image (default: erased)\n"
           "  --device-id W0,W1,W2,W3 the serial-number words the N command reports\n"
           "  --part-id N             the part identification J reports (default 0x26013F37)\n"
           "  --boot-version MAJ.MIN  the boot code version K reports (default 4.1)\n"
           "  --echo-off              start with echo off\n"
           "  --baud-limit            pace both directions to the rate set on the pty\n"
           "  --lf-before-code        echo a line's LF before its return code\n"
           "  --erase-ms-per-sector N erase time per sector (default 100)\n"
           "  --write-ms-per-256 N    flash write time per 256 bytes copied (default 1)\n"
           "fault knobs:\n"
           "  --silent                never answer anything\n"
           "  --no-sync               answer '?' with garbage and never synchronise\n"
           "  --bad-checksum-always   answer every W checksum with RESEND\n"
           "  --bad-checksum-at N     answer the Nth W checksum with RESEND (once)\n"
           "  --stop-after N          stop answering after N command lines\n"
           "  --busy-code C           command letter C answers BUSY (11) once\n"
           "  --unprogrammed-byte A   the flash byte at address A never programs (stays 0xFF)\n"
           "  --silent-after-copies N stop answering after N copies to flash\n";
}

}  // namespace lpcsim
