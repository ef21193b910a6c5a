// UEI payloads as a module sees them: requests from the host, value replies, acknowledgements,
// error replies and byte-sequence runs.
#pragma once

#include <cstdint>
#include <vector>

#include "Wire.h"

namespace modulesim {

constexpr uint8_t kOptionGet = 0x40;
constexpr uint8_t kOptionSet = 0x80;
constexpr uint8_t kIndexStream = 0x40;
constexpr uint8_t kIndexError = 0x80;
constexpr size_t kBytesPerRunPacket = 24;

struct UeiRequest {
    uint8_t command = 0;
    uint8_t option = 0;  // option code, flags removed
    uint8_t index = 0;   // entity index, flags removed
    bool get = false;
    bool set = false;
    std::vector<uint8_t> value;  // the bytes after the index byte, as sent
};

// False when the packet is too short to be a request or its option byte asks for neither a get
// nor a set (or both).
bool parseUeiRequest(const Packet& packet, UeiRequest& request);

// A numeric value of the request's declared width, with or without a leading sub-index byte.
// False when the request carries a value of another length.
bool ueiNumericValue(const UeiRequest& request, size_t width, uint32_t& value);

// Reply to a get: plain option and index, then the value big-endian.
Packet ueiValueReply(uint8_t address, const UeiRequest& request, uint32_t value, size_t width);
// Acknowledgement of a set or call: option | 0xC0, index without the request bit, then the
// value as stored (none for a call or a byte sequence).
Packet ueiAck(uint8_t address, const UeiRequest& request, const std::vector<uint8_t>& value = {});
// Error reply: the option byte as the awaited reply would carry it (0xC0 added for a set), the
// index with bit 7, and the error code.
Packet ueiError(uint8_t address, const UeiRequest& request, ErrorCode code);

// A byte sequence as a run of packets: up to 24 value bytes each, then the trailer (bit 7 = more
// follow, bits 0-6 = sequence number). An empty value still takes one packet.
void ueiBytesRun(uint8_t address, const UeiRequest& request, const std::vector<uint8_t>& bytes,
                 std::vector<Packet>& out);

// Collects the packets of a byte-sequence set until the last one arrives.
class BytesCollector {
  public:
    enum class Result { NeedMore, Complete, Error };

    // limit: the most bytes the value may hold. On Error, *code tells why.
    Result add(const UeiRequest& request, size_t limit, ErrorCode* code);
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    void reset();

  private:
    bool active_ = false;
    uint8_t command_ = 0;
    uint8_t option_ = 0;
    uint8_t index_ = 0;
    uint8_t expected_ = 0;
    std::vector<uint8_t> bytes_;
};

}  // namespace modulesim
