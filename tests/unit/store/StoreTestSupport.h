// Helpers of the store tests: capturing the diagnostic log and writing BIRD fixtures.
#pragma once

#include <string>
#include <vector>

#include "BirdWriter.h"
#include "LogCapture.h"
#include "TestSupport.h"

namespace storetest {

using zvtest::LogCapture;

inline std::string asText(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline void writeBird(const std::string& path, const BirdWriter& writer) {
    zvtest::writeFile(path, asText(writer.FileBytes()));
}

}  // namespace storetest
