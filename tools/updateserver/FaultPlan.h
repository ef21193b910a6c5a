// The fault knobs: how the simulated server misbehaves on purpose, on every request or only on
// those of one operation.
#pragma once

#include <string>

#include "Lifetime.h"
#include "ServerOptions.h"

namespace httplib {
struct Response;
}

class FaultPlan {
  public:
    FaultPlan(FaultOptions options, const Lifetime& lifetime)
        : options_(std::move(options)), lifetime_(lifetime) {}

    // Reads the prepared reply, if any; false with *error when it cannot be read.
    bool load(std::string* error);
    // Puts body into response as the answer to a request of operation op, with the faults.
    void answer(const std::string& op, std::string body, httplib::Response& response) const;

  private:
    bool appliesTo(const std::string& op) const;
    std::string alteredBody(std::string body) const;
    // One line on standard error naming the faults applied to a request of operation op.
    void note(const std::string& op) const;

    FaultOptions options_;
    const Lifetime& lifetime_;
    std::string reply_;
};
