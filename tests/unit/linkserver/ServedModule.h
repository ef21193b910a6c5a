// The module the link server publishes in these tests, as a script for the shared module peer:
// it answers the address and model queries and echoes every other request, and builds the
// packets the tests send through the server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "WirePacket.h"

namespace servedmodule {

constexpr uint8_t kAddress = 4;
constexpr uint8_t kModel = 0x2A;

// The default answers (wire forms): module address and model queries, echo of everything else
// except route packets, heartbeat answers and full UEI byte-write packets that announce more.
std::vector<std::string> standardReply(const std::string& packet);

}  // namespace servedmodule

using zvtest::bytes;
using zvtest::hex;

// A UEI byte-write packet of dataSize bytes (command 30) with its trailer; tag marks the sender.
std::string bytesPacket(uint8_t dataSize, uint8_t sequence, bool more, uint8_t tag);
// A packet of 28 data bytes of a command that is no UEI payload (95 upgrade, 4 store slots, 94
// factory data), its second byte the sub-command, filled with tag up to a last byte of last.
std::string fullPlainPacket(uint8_t command, uint8_t sub, uint8_t tag, uint8_t last);
