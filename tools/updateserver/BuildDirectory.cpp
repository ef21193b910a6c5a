#include "BuildDirectory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "BirdInfo.h"

namespace {

constexpr size_t kMaxBuildDigits = 9;

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// "NNNN.bird" with a decimal build number.
bool buildNumberOf(const std::string& name, unsigned long* build) {
    static const std::string kSuffix = ".bird";
    if (name.size() <= kSuffix.size() || name.size() - kSuffix.size() > kMaxBuildDigits ||
        name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
        return false;
    }
    std::string digits = name.substr(0, name.size() - kSuffix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *build = strtoul(digits.c_str(), nullptr, 10);
    return true;
}

// Query values are sent without escaping, so only characters that need none may be used.
bool travelsUnescaped(const std::string& text) {
    static const char kUnreserved[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    return !text.empty() && text.find_first_not_of(kUnreserved) == std::string::npos;
}

// A build-list entry is "build;version" on one line, so the version ends before either.
std::string entrySafe(const std::string& version) {
    return version.substr(0, version.find_first_of("\r\n;"));
}

std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

bool BuildDirectory::folderFor(uint32_t serial, std::string* folder) const {
    char name[9];
    snprintf(name, sizeof name, "%08X", static_cast<unsigned>(serial));
    for (const std::string& candidate : {root_ + "/" + name, root_ + "/default"}) {
        if (isDirectory(candidate)) {
            *folder = candidate;
            return true;
        }
    }
    return false;
}

std::map<unsigned long, std::string> BuildDirectory::Builds(const std::string& folder) {
    std::map<unsigned long, std::string> builds;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return builds;
    }
    while (dirent* entry = readdir(directory)) {
        unsigned long build = 0;
        if (buildNumberOf(entry->d_name, &build)) {
            // Of "12.bird" and "012.bird" the name that sorts first serves build 12.
            std::string path = folder + "/" + entry->d_name;
            auto [it, inserted] = builds.emplace(build, path);
            if (!inserted && path < it->second) {
                it->second = path;
            }
        }
    }
    closedir(directory);
    return builds;
}

std::string BuildDirectory::Version(const std::string& birdPath) {
    std::string versionPath = birdPath.substr(0, birdPath.size() - 5) + ".version";
    std::ifstream probe(versionPath);
    if (probe) {
        return entrySafe(firstLineOf(versionPath));
    }
    BirdInfo info;
    return ReadBirdInfo(birdPath, &info) ? entrySafe(info.version) : "";
}

std::string BuildDirectory::FirmwareIdentifier(const std::string& birdPath) {
    BirdInfo info;
    if (ReadBirdInfo(birdPath, &info) && travelsUnescaped(info.model)) {
        return info.model;
    }
    return "firmware";
}
