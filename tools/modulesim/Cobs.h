// Consistent Overhead Byte Stuffing, the byte stuffing of a module's packetised serial line: a
// frame carries no zero byte, so a single 0 can mark where each frame ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace modulesim {

// Runs of at most 254 non-zero bytes, each led by a code byte (0xFF for a full run).
std::vector<uint8_t> cobsEncode(const uint8_t* bytes, size_t count);

// False when a code byte is 0 or points beyond the input: the frame is damaged.
bool cobsDecode(const uint8_t* bytes, size_t count, std::vector<uint8_t>& decoded);

}  // namespace modulesim
