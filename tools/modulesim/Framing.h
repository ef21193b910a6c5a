// How packets sit in an attachment's byte stream. Most attachments carry them back to back in
// their wire form; a packetised serial line wraps each in a checked frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Wire.h"

namespace modulesim {

// A frame thrown away, and how many good packets of the same feed came before it.
struct Rejection {
    size_t after = 0;
    std::string reason;
};

class Framing {
  public:
    virtual ~Framing() = default;

    // Adds received bytes; whole packets go to complete, and each damaged frame that was
    // thrown away to rejected.
    virtual void feed(const uint8_t* bytes, size_t count, std::vector<Packet>& complete,
                      std::vector<Rejection>& rejected) = 0;
    // Forgets a partly received packet or frame.
    virtual void reset() = 0;
    // The bytes that carry packet; badCheck spoils the frame's check value where there is one.
    virtual std::vector<uint8_t> frame(const Packet& packet, bool badCheck) const = 0;
};

// The wire form back to back, with no check of its own.
class RawFraming : public Framing {
  public:
    void feed(const uint8_t* bytes, size_t count, std::vector<Packet>& complete,
              std::vector<Rejection>&) override {
        reader_.feed(bytes, count, complete);
    }
    void reset() override { reader_.reset(); }
    std::vector<uint8_t> frame(const Packet& packet, bool) const override {
        return encodePacket(packet);
    }

  private:
    PacketReader reader_;
};

}  // namespace modulesim
