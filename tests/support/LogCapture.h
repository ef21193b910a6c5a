// For tests of what a piece of code logs: the diagnostic log goes to a temporary file, with these
// packages selected, for the life of the object.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Log.h"
#include "TestSupport.h"

namespace zvtest {

class LogCapture {
  public:
    explicit LogCapture(uint32_t packages) : packages_(packages), file_(tmpfile()) {
        Log::SetOutput(file_);
        Log::ActivatePackage(packages_);
    }
    ~LogCapture() {
        Log::DeactivatePackage(packages_);
        Log::SetOutput(nullptr);
        fclose(file_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything logged so far.
    std::string text() const { return readStream(file_); }

  private:
    uint32_t packages_;
    FILE* file_;
};

}  // namespace zvtest
