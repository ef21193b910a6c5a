// The uuencoding of ISP data lines: a length character, then four characters per three bytes,
// each character carrying six bits plus 32 (zero travels as the grave accent).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lpcsim {

constexpr size_t kBytesPerLine = 45;
constexpr size_t kLinesPerChecksum = 20;

// One line without its "\r\n".
std::string uuencodeLine(const uint8_t* data, size_t count);
// The bytes a line announces; characters missing at its end count as zero.
std::vector<uint8_t> uudecodeLine(const std::string& line);
// The decimal checksum of a block: the plain sum of its bytes.
uint32_t byteSum(const std::vector<uint8_t>& bytes);

}  // namespace lpcsim
