#include "CgiOperations.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "Base64Text.h"
#include "RecoveryTable.h"

namespace {

constexpr size_t kMaxBuildBytes = 16u * 1024u * 1024u;

std::string error(const std::string& reason) {
    return "error: " + reason + "\n";
}

bool param(const CgiOperations::Params& params, const char* key, std::string* value) {
    auto it = params.find(key);
    if (it == params.end()) {
        return false;
    }
    *value = it->second;
    return true;
}

bool digitsOnly(const std::string& text, const char* digits, size_t maxLength) {
    return !text.empty() && text.size() <= maxLength &&
           text.find_first_not_of(digits) == std::string::npos;
}

// Serial numbers travel as "%08X"; shorter or lower-case hex is accepted as well.
bool serialParam(const CgiOperations::Params& params, uint32_t* serial) {
    std::string text;
    if (!param(params, "sn", &text) || !digitsOnly(text, "0123456789abcdefABCDEF", 8)) {
        return false;
    }
    *serial = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 16));
    return true;
}

bool buildParam(const CgiOperations::Params& params, unsigned long* build) {
    std::string text;
    if (!param(params, "bld", &text) || !digitsOnly(text, "0123456789", 9)) {
        return false;
    }
    *build = strtoul(text.c_str(), nullptr, 10);
    return true;
}

bool readBuild(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0 || static_cast<size_t>(size) > kMaxBuildBytes) {
        return false;
    }
    in.seekg(0);
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<std::streamoff>(bytes->size()) == size;
}

}  // namespace

std::string CgiOperations::Answer(const Params& params) const {
    using Operation = std::string (CgiOperations::*)(const Params&) const;
    static const std::map<std::string, Operation> kOperations = {
        {"hi", &CgiOperations::hello},         {"qu", &CgiOperations::queryBuild},
        {"bird", &CgiOperations::getBuild},    {"builds", &CgiOperations::buildList},
        {"fix", &CgiOperations::recoveryInfo},
    };
    std::string op;
    param(params, "op", &op);
    auto it = kOperations.find(op);
    if (it == kOperations.end()) {
        return error("unknown operation");
    }
    return (this->*(it->second))(params);
}

bool CgiOperations::buildsOfModule(const Params& params,
                                   std::map<unsigned long, std::string>* builds,
                                   std::string* reply) const {
    uint32_t serial = 0;
    std::string folder;
    if (!serialParam(params, &serial)) {
        *reply = error("invalid serial number");
        return false;
    }
    if (!builds_.folderFor(serial, &folder)) {
        *reply = error("unknown serial number");
        return false;
    }
    *builds = BuildDirectory::Builds(folder);
    return true;
}

std::string CgiOperations::hello(const Params&) const {
    return "ok\n";
}

std::string CgiOperations::queryBuild(const Params& params) const {
    std::map<unsigned long, std::string> builds;
    std::string reply;
    if (!buildsOfModule(params, &builds, &reply)) {
        return reply;
    }
    if (builds.empty()) {
        return error("no builds");
    }
    const auto& latest = *builds.rbegin();
    return "ok\n" + std::to_string(latest.first) + "\n" +
           BuildDirectory::FirmwareIdentifier(latest.second) + "\n";
}

std::string CgiOperations::getBuild(const Params& params) const {
    std::map<unsigned long, std::string> builds;
    std::string reply;
    if (!buildsOfModule(params, &builds, &reply)) {
        return reply;
    }
    unsigned long build = 0;
    std::string firmware;
    std::string noCal;
    if (!buildParam(params, &build) || !param(params, "fw", &firmware) ||
        !param(params, "no_cal", &noCal) || (noCal != "true" && noCal != "false")) {
        return error("missing or invalid parameter");
    }
    auto requested = builds.find(build);
    if (requested == builds.end()) {
        return error("unknown build");
    }
    // The firmware named must be the one the module runs, as op=qu reports it.
    if (firmware != BuildDirectory::FirmwareIdentifier(builds.rbegin()->second)) {
        return error("firmware does not match");
    }
    std::string bytes;
    if (!readBuild(requested->second, &bytes)) {
        return error("build unreadable");
    }
    return "ok\n" + Base64Text(bytes) + "\n";
}

std::string CgiOperations::buildList(const Params& params) const {
    std::map<unsigned long, std::string> builds;
    std::string reply;
    if (!buildsOfModule(params, &builds, &reply)) {
        return reply;
    }
    reply = "ok\n";
    for (const auto& [build, path] : builds) {
        reply += std::to_string(build) + ";" + BuildDirectory::Version(path) + "\n";
    }
    return reply;
}

std::string CgiOperations::recoveryInfo(const Params& params) const {
    std::string text;
    std::array<uint32_t, 4> words{};
    if (!param(params, "fp", &text) || !ParseFingerprint(text, &words)) {
        return error("missing or invalid fingerprint");
    }
    RecoveryEntry entry;
    if (!FindRecovery(builds_.recoveryTable(), words, &entry)) {
        return error("unknown fingerprint");
    }
    char serial[9];
    snprintf(serial, sizeof serial, "%08X", entry.serial);
    return std::string("ok\n") + serial + "\n" + std::to_string(entry.build) + "\n";
}
