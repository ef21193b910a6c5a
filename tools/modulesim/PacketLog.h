// Optional trace on standard error: one line per packet received or sent, and notes on what the
// fault knobs did.
#pragma once

#include <cstdint>
#include <string>

#include "Wire.h"

namespace modulesim {

class PacketLog {
  public:
    explicit PacketLog(bool enabled, bool segments = false)
        : enabled_(enabled), segments_(enabled && segments) {}
    bool enabled() const { return enabled_; }
    // Whether reads from a TCP/IP host are noted with their bytes and segments.
    bool segments() const { return segments_; }

    // direction: '<' received from the host, '>' sent to it, 'x' dropped on purpose.
    void packet(uint32_t serial, char direction, const Packet& packet) const;
    void note(uint32_t serial, const std::string& text) const;

  private:
    bool enabled_;
    bool segments_;
};

}  // namespace modulesim
