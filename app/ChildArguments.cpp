#include "ChildArguments.h"

#include <cstdio>

namespace {

std::string hexWord(unsigned value, const char* format) {
    char text[16];
    snprintf(text, sizeof text, format, value);
    return text;
}

void addIf(std::vector<std::string>& words, bool given, std::initializer_list<std::string> more) {
    if (given) {
        words.insert(words.end(), more);
    }
}

}  // namespace

std::vector<std::string> _child_arguments(const Parameters& params, const ModuleToUpdate& module) {
    std::vector<std::string> words = {"--json", "-U", "--skip-current", "-d",
                                      hexWord(module.serial, "%08X")};
    addIf(words, module.routerSerial != 0, {"-r", hexWord(module.routerSerial, "%08X")});
    addIf(words, params.commands.IsSet(CMD_GET_BUILD), {"-G"});
    addIf(words, !params.buildNumber.empty(), {"-b", params.buildNumber});
    addIf(words, !params.birdFilePath.empty(), {"-f", params.birdFilePath});
    addIf(words, !params.storageDirectory.empty(), {"-i", params.storageDirectory});
    // The URL the run chose ("-u", "--http" or "--https"), or the default.
    words.insert(words.end(), {"-u", params.updateServerUrl});
    words.insert(words.end(), {"-m", params.useUEIBytesLoading ? "1" : "0"});
    addIf(words, params.overrideModelChecks, {"-OVERRIDE"});
    addIf(words, !params.historyLogMessage.empty(), {"-l", params.historyLogMessage});
    addIf(words, params.debugMaskGiven, {"-X", hexWord(params.debugBitMask, "0x%08X")});
    addIf(words, params.logFileGiven, {"-k", params.logFileName});
    addIf(words, params.flagN, {"-n"});
    addIf(words, params.lockWaitGiven, {"-w", std::to_string(params.lockWaitSeconds)});
    return words;
}
