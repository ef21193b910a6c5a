// The update server's request set, and the order in which its build lists are shown.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

class UpdateServerRequest {
  public:
    using BuildVersion = std::pair<std::string, std::string>;

    // (build, version) pairs, highest version first; versions that are not three numbers
    // ("major.minor.patch") come last, in build order.
    static std::vector<BuildVersion> SortBuildsByVersion(
        const std::map<std::string, std::string>& builds);
    // The three parts of "major.minor.patch", or nothing unless there are exactly three.
    static std::vector<std::string> SplitZendrivalVersion(const std::string& version);
};
