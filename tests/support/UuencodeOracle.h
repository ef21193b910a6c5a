// The tests' own uuencoding of ISP data lines (45 bytes per line, a grave accent for zero), kept
// apart from both the bootloader simulator's and the updater's, so that each is checked against
// an independent reading of the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zvtest {

std::string uuLine(const uint8_t* data, size_t count);
std::vector<uint8_t> uuDecode(const std::string& line);

}  // namespace zvtest
