// The update server's request set, and the order in which its build lists are shown.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class UpdateServerRequest {
  public:
    using BuildVersion = std::pair<std::string, std::string>;

    // Each request returns true only for HTTP status 200 and a first reply line beginning with
    // "ok". A null url means the default server (UPDATE_SERVER_HTTP_URL). Outputs whose reply
    // line is missing keep their values.
    static bool ping(const char* url);
    // The latest build number (decimal text) and the firmware identifier for a serial number.
    static bool QueryBuild(uint32_t serial, std::string& build, std::string& firmware,
                           const char* url);
    // The base64 text of one build's BIRD file; data is cleared first.
    static bool GetBuild(uint32_t serial, const char* firmware, const char* build,
                         std::string& data, const char* url, bool noCal);
    // build -> version for every build the server offers; builds is cleared first.
    static bool GetBuildList(uint32_t serial, std::map<std::string, std::string>& builds,
                             const char* url);
    // Which module (serial) and build a chip with this fingerprint belongs to.
    static bool GetRecoveryInfo(const uint32_t fingerprint[4], uint32_t* serial, uint32_t* build,
                                const char* url);

    // (build, version) pairs, highest version first; versions that are not three numbers
    // ("major.minor.patch") come last, in build order.
    static std::vector<BuildVersion> SortBuildsByVersion(
        const std::map<std::string, std::string>& builds);
    // The three parts of "major.minor.patch", or nothing unless there are exactly three.
    static std::vector<std::string> SplitZendrivalVersion(const std::string& version);
};
