// Sets (or, with nullptr, removes) an environment variable for a scope and restores it
// afterwards, whatever the test's assertions did in between.
#pragma once

#include <string>

namespace zvtest {

class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

}  // namespace zvtest
