// A module's packetised serial line: each packet is its wire form and a CRC-8, COBS-encoded and
// closed by a 0 byte. The module's receive buffer holds 32 bytes, the encoding of the largest
// packet with its CRC; what comes beyond that before a 0 is lost, and the frame fails its check.
#pragma once

#include "Framing.h"

namespace modulesim {

class CobsFraming : public Framing {
  public:
    static constexpr size_t kReceiveBufferSize = 32;

    void feed(const uint8_t* bytes, size_t count, std::vector<Packet>& complete,
              std::vector<Rejection>& rejected) override;
    void reset() override { buffer_.clear(); }
    std::vector<uint8_t> frame(const Packet& packet, bool badCheck) const override;

  private:
    // Empty when the frame is good, else why it is not.
    static std::string check(const std::vector<uint8_t>& decoded);
    void endOfFrame(std::vector<Packet>& complete, std::vector<Rejection>& rejected);

    std::vector<uint8_t> buffer_;
    uint64_t rejectedCount_ = 0;  // numbers the lines on dropped frames
};

}  // namespace modulesim
