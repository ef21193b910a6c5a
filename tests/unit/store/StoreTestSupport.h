// Helpers of the store tests: capturing the diagnostic log and writing BIRD fixtures.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "BirdWriter.h"
#include "Log.h"
#include "TestSupport.h"

namespace storetest {

// Points the diagnostic log at a temporary file for the life of the object.
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

    std::string text() const { return zvtest::readStream(file_); }

  private:
    uint32_t bits_;
    FILE* file_;
};

inline std::string asText(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline void writeBird(const std::string& path, const BirdWriter& writer) {
    zvtest::writeFile(path, asText(writer.FileBytes()));
}

}  // namespace storetest
