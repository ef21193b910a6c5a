// For tests of the application: points the diagnostic log at a temporary file, with the given
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
    explicit LogCapture(uint32_t bits) : bits_(bits), file_(tmpfile()) {
        Log::SetOutput(file_);
        Log::ActivatePackage(bits_);
    }
    ~LogCapture() {
        Log::DeactivatePackage(bits_);
        Log::SetOutput(nullptr);
        fclose(file_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return readStream(file_); }

  private:
    uint32_t bits_;
    FILE* file_;
};

}  // namespace zvtest
