#include <algorithm>
#include <stdexcept>

#include "Log.h"
#include "UpdateServerRequest.h"
#include "qVersion.h"

namespace {

struct ParsedVersion {
    bool valid = false;
    int major = 0;
    int minor = 0;
    int patch = 0;
};

ParsedVersion parseVersion(const std::string& text) {
    ParsedVersion parsed;
    std::vector<std::string> parts = UpdateServerRequest::SplitZendrivalVersion(text);
    if (parts.size() != 3) {
        return parsed;
    }
    try {
        parsed.major = std::stoi(parts[0], nullptr, 10);
        parsed.minor = std::stoi(parts[1], nullptr, 10);
        parsed.patch = std::stoi(parts[2], nullptr, 10);
        parsed.valid = true;
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion",
                 e.what());
    }
    return parsed;
}

// Higher versions first, compared as 8-bit major, minor and patch like the modules do. A version
// that cannot be read sorts after every readable one, so the order stays a strict weak ordering
// whatever the server sends.
bool comesBefore(const ParsedVersion& a, const ParsedVersion& b) {
    if (a.valid != b.valid) {
        return a.valid;
    }
    if (!a.valid) {
        return false;
    }
    return !qVersion_IsAtLeastCompare(b.major, b.minor, b.patch, a.major, a.minor, a.patch);
}

}  // namespace

std::vector<std::string> UpdateServerRequest::SplitZendrivalVersion(const std::string& version) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t dot = version.find('.', start);
        parts.push_back(version.substr(start, dot - start));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    if (parts.size() != 3) {
        parts.clear();
    }
    return parts;
}

std::vector<UpdateServerRequest::BuildVersion> UpdateServerRequest::SortBuildsByVersion(
    const std::map<std::string, std::string>& builds) {
    std::vector<std::pair<ParsedVersion, BuildVersion>> keyed;
    keyed.reserve(builds.size());
    for (const auto& entry : builds) {
        keyed.emplace_back(parseVersion(entry.second), entry);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return comesBefore(a.first, b.first); });
    std::vector<BuildVersion> sorted;
    sorted.reserve(keyed.size());
    for (auto& item : keyed) {
        sorted.push_back(std::move(item.second));
    }
    return sorted;
}
