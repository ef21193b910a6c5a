// The update server's CGI at /cgi/u: the query's "op" selects the operation. Every answer has
// status 200 as a CGI would give it; the first body line is "ok" or "error: <reason>", and each
// result line ends with "\n".
#pragma once

#include <map>
#include <string>

#include "BuildDirectory.h"

class CgiOperations {
  public:
    using Params = std::multimap<std::string, std::string>;

    explicit CgiOperations(BuildDirectory builds) : builds_(std::move(builds)) {}

    std::string Answer(const Params& params) const;

  private:
    // The builds of the module named by "sn" (build -> .bird path); false with *reply = an error.
    bool buildsOfModule(const Params& params, std::map<unsigned long, std::string>* builds,
                        std::string* reply) const;

    std::string hello(const Params& params) const;
    std::string queryBuild(const Params& params) const;
    std::string getBuild(const Params& params) const;
    std::string buildList(const Params& params) const;
    std::string recoveryInfo(const Params& params) const;

    BuildDirectory builds_;
};
