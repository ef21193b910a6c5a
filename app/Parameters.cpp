#include "Parameters.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "CLI_Display.h"
#include "DefaultServer.h"
#include "Log.h"
#include "OptionParser.h"
#include "qDirectory.h"

namespace {

enum OptionId {
    ID_HELP = 0,
    ID_COMMAND = 1,
    ID_VALUE = 2,
    ID_HTTPS = 3,
    ID_HTTP = 4,
    ID_JSON = 5,
    ID_SKIP_CURRENT = 6,
};

constexpr OptionEntry kOptions[] = {
    {ID_COMMAND, "-B", false},
    {ID_COMMAND, "-L", false},
    {ID_COMMAND, "-D", false},
    {ID_COMMAND, "-G", false},
    {ID_COMMAND, "-I", false},
    {ID_COMMAND, "-U", false},
    {ID_COMMAND, "-OVERRIDE", false},
    {ID_COMMAND, "-N", false},
    {ID_COMMAND, "-Y", false},
    {ID_COMMAND, "-C", false},
    {ID_HELP, "-h", false},
    {ID_HELP, "-H", false},
    {ID_VALUE, "-n", false},
    {ID_VALUE, "-X", true},
    {ID_VALUE, "-Z", true},
    {ID_VALUE, "-m", true},
    {ID_VALUE, "-i", true},
    {ID_VALUE, "-b", true},
    {ID_VALUE, "-d", true},
    {ID_VALUE, "-t", true},
    {ID_VALUE, "-f", true},
    {ID_VALUE, "-r", true},
    {ID_VALUE, "-s", true},
    {ID_VALUE, "-o", true},
    {ID_VALUE, "-e", false},
    {ID_VALUE, "-l", true},
    {ID_VALUE, "-k", true},
    {ID_VALUE, "-u", true},
    {ID_HELP, "--help", false},
    {ID_HTTP, "--http", false},
    {ID_HTTPS, "--https", false},
    {ID_JSON, "--json", false},
    {ID_SKIP_CURRENT, "--skip-current", false},
    {ID_VALUE, "-a", false},
    {ID_VALUE, "-j", true},
    {ID_VALUE, "-w", true},
};

// Shared state of one parse.
struct ParseState {
    CLI_Display& display;
    Parameters* params;
    bool failed = false;
    int urlChoices = 0;

    void error(const char* format, const char* text) {
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, format, text);
        failed = true;
    }
};

bool onlyCharactersOf(const char* text, const char* allowed) {
    return text[strspn(text, allowed)] == '\0';
}

uint32_t convertWhole(const char* text, char** end, const char* allowed, int base) {
    if (text == nullptr || !onlyCharactersOf(text, allowed)) {
        if (end != nullptr) {
            *end = nullptr;
        }
        return 0;
    }
    return static_cast<uint32_t>(strtoul(text, end, base));
}

bool hasHexPrefix(const char* text) {
    return text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

std::string programNameOf(const char* firstWord) {
    std::string word = firstWord != nullptr ? firstWord : "";
    size_t cut = word.find_last_of("/\\");
    return cut == std::string::npos ? word : word.substr(cut + 1);
}

void readDebugMask(ParseState& state, const char* option, const char* arg) {
    char* rest = nullptr;
    unsigned long value = hasHexPrefix(arg) ? strtoul(arg + 2, &rest, 16) : strtoul(arg, &rest, 10);
    state.params->debugBitMask = static_cast<uint32_t>(value);
    state.params->debugMaskGiven = true;
    if (rest != nullptr && *rest != '\0') {
        std::string format = std::string("Invalid format for \"") + option +
                             "\" parameter, unprocessed characters [%s]";
        state.display.message(UpdaterDisplayInterface::LEVEL_ERROR, format.c_str(), rest);
        return;
    }
    Log::ActivatePackage(state.params->debugBitMask);
}

// "-d" and "-r": an optional "0x" prefix, then hexadecimal digits only; zero is refused.
uint32_t readSerial(ParseState& state, const char* arg, const char* prefixLog,
                    const char* invalidMessage) {
    if (hasHexPrefix(arg)) {
        arg += 2;
        Log::log(DEBUG_Updater, "%s", prefixLog);
    }
    uint32_t serial = _get_hex_arg(arg, nullptr);
    if (serial == 0) {
        state.error(invalidMessage, arg);
    }
    return serial;
}

void readTransport(ParseState& state, const char* arg) {
    Parameters* p = state.params;
    p->transportGiven = true;
    if (strncmp(arg, "USB", 3) == 0) {
        p->transport = TRANSPORT_USB;
    } else if (strncmp(arg, "TCP", 3) == 0) {
        p->transport = TRANSPORT_TCPIP;
    } else if (strncmp(arg, "RECOVER", 7) == 0) {
        p->transport = TRANSPORT_RECOVER;
    } else {
        p->transport = TRANSPORT_INVALID;
        state.error(
            "Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER", arg);
    }
}

// "-w": whole seconds, 0 included.
void readWait(ParseState& state, const char* arg) {
    state.params->lockWaitGiven = true;
    state.params->lockWaitSeconds = _get_int_arg(arg, nullptr);
    if (arg[0] == '\0' || !onlyCharactersOf(arg, "0123456789")) {
        state.error("Invalid wait [%s]: give whole seconds", arg);
    }
}

// The command that each command option's letter requests.
struct CommandLetter {
    char letter;
    COMMANDS command;
};

constexpr CommandLetter kCommandLetters[] = {
    {'B', CMD_LIST_BUILDS}, {'C', CMD_CHECK_BIRD},  {'D', CMD_DISCOVER},
    {'G', CMD_GET_BUILD},   {'I', CMD_STORED_INFO}, {'L', CMD_LIST_LOCAL_BUILDS},
    {'N', CMD_FINGERPRINT}, {'U', CMD_UPDATE},
};

void applyCommand(ParseState& state, const char* option) {
    Parameters* p = state.params;
    if (option[1] == 'O') {
        p->overrideModelChecks = true;
        return;
    }
    for (const CommandLetter& entry : kCommandLetters) {
        if (entry.letter == option[1]) {
            p->commands.Set(entry.command);
            return;
        }
    }
    state.error("Unhandled command: [%s]", option);
}

void applyValue(ParseState& state, const char* option, const char* arg) {
    Parameters* p = state.params;
    switch (option[1]) {
        case 'X':
            readDebugMask(state, option, arg);
            break;
        case 'Z':
            p->commands.Set(CMD_Z);
            break;
        case 'm':
            p->useUEIBytesLoading = arg[0] == '1' || strncmp(arg, "true", 4) == 0;
            break;
        case 'b':
            p->buildNumber = std::to_string(_get_int_arg(arg, nullptr));
            break;
        case 'd':
            p->deviceSerialNumber = readSerial(state, arg, "Discarding '0x' serial number prefix\n",
                                               "Invalid serial number obtained from argument [%s]");
            break;
        case 'r':
            p->routerSerialNumber =
                readSerial(state, arg, "Discarding '0x' router serial number prefix\n",
                           "Invalid router serial number obtained from argument [%s]");
            break;
        case 't':
            readTransport(state, arg);
            break;
        case 'o':
            p->baudRate = _get_int_arg(arg, nullptr);
            break;
        case 'e':
            p->echoDuringRecovery = true;
            break;
        case 'n':
            p->flagN = true;
            break;
        case 'f':
            p->birdFilePath = arg;
            break;
        case 'i':
            p->storageDirectory = arg;
            break;
        case 'k':
            p->logFileName = arg;
            p->logFileGiven = true;
            break;
        case 'l':
            p->historyLogMessage = arg;
            break;
        case 's':
            p->serialPort = arg;
            break;
        case 'u':
            p->updateServerUrl = arg;
            ++state.urlChoices;
            break;
        case 'a':
            p->updateAll = true;
            break;
        case 'j':
            p->jobs = _get_int_arg(arg, nullptr);
            if (p->jobs == 0) {
                state.error("Invalid number of jobs [%s]: give a whole number from 1", arg);
            }
            break;
        case 'w':
            readWait(state, arg);
            break;
        default:
            break;
    }
}

void logCommandLine(const Parameters* params, int argc, char** argv) {
    Log::log(DEBUG_APP, "\nApplication parameters:[%s]\n", params->programName.c_str());
    for (int i = 1; i < argc; ++i) {
        Log::log(DEBUG_APP, "\t[%s]\n", argv[i]);
    }
}

void fillDefaults(Parameters* params, int argc, char** argv) {
    *params = Parameters();
    params->updateServerUrl = UPDATE_SERVER_HTTP_URL;
    params->programName = programNameOf(argc > 0 ? argv[0] : nullptr);
    char home[2048] = "";
    qDirectory_GetHomeDirectory(home, sizeof home);
    params->homeDirectory = home;
}

}  // namespace

uint32_t _get_hex_arg(const char* text, char** end) {
    return convertWhole(text, end, "0123456789ABCDEFabcdef", 16);
}

uint32_t _get_int_arg(const char* text, char** end) {
    return convertWhole(text, end, "0123456789", 10);
}

int _get_params(CLI_Display& display, int argc, char** argv, Parameters* params) {
    fillDefaults(params, argc, argv);
    ParseState state{display, params};
    OptionParser parser(kOptions, sizeof kOptions / sizeof kOptions[0], argc, argv);
    ParsedOption option;
    while (parser.next(&option)) {
        if (option.kind != ParsedOption::MATCHED) {
            continue;
        }
        const char* text = option.entry->text;
        switch (option.entry->id) {
            case ID_HELP:
                params->commands.Set(CMD_HELP);
                params->helpRequested = true;
                return 0;
            case ID_HTTPS:
                params->updateServerUrl = UPDATE_SERVER_HTTPS_URL;
                ++state.urlChoices;
                break;
            case ID_HTTP:
                params->updateServerUrl = UPDATE_SERVER_HTTP_URL;
                ++state.urlChoices;
                break;
            case ID_JSON:
                params->jsonOutput = true;
                break;
            case ID_SKIP_CURRENT:
                params->skipCurrent = true;
                break;
            case ID_COMMAND:
                applyCommand(state, text);
                break;
            default:
                applyValue(state, text, option.argument);
                break;
        }
    }
    if (state.urlChoices > 1) {
        state.error("%s",
                    "Multiple update server URLs specified. Choose one of: --https, --http, or -U "
                    "<host:port>.");
    }
    logCommandLine(params, argc, argv);
    return state.failed ? 1 : _validate_params(params);
}

int _release_params(Parameters* params) {
    if (params != nullptr) {
        params->homeDirectory.clear();
        params->homeDirectory.shrink_to_fit();
    }
    return 0;
}

int _validate_params(Parameters*) {
    return 0;
}
