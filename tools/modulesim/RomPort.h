// How the i.MX boot ROM is reached: a UART (a pseudo-terminal here) or USB HID. The port hands
// the ROM the command and data bytes the host sent, in order, on the simulator's thread, and
// carries the ROM's answer words back in the transport's own form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "EventLoop.h"
#include "SdpRom.h"

namespace modulesim {

class UsbBus;

class RomPort {
  public:
    using BytesHandler = std::function<void(const uint8_t* bytes, size_t count)>;

    virtual ~RomPort() = default;
    virtual bool open(BytesHandler handler, std::string& error) = 0;
    // Where the host finds the ROM: a terminal or a hidraw node.
    virtual std::string where() const = 0;
    // The kind word of the start-up line.
    virtual std::string kind() const = 0;
    virtual void send(const std::vector<SdpRom::Word>& answer) = 0;
    // What the host sent and has not been read, or was sent and the host has not read, is lost
    // (the ROM starts afresh).
    virtual void dropPending() {}
    // The ROM hands the chip over to other code, and takes it back after a reset: a ROM on USB
    // leaves the bus and comes back.
    virtual void romStops() {}
    virtual void romRuns() {}
};

// The ROM's UART on a pseudo-terminal: bytes without report ids both ways, answer words as four
// little-endian bytes each.
std::unique_ptr<RomPort> makeUartRomPort(EventLoop& loop);

// The ROM as a USB HID device (vendor 0x1FC9, product 0x0130) with a hidraw node on the
// emulated bus: commands in report 1, data in report 2, the mode in report 3, values in report 4.
std::unique_ptr<RomPort> makeHidRomPort(EventLoop& loop, UsbBus& bus, int usbPort);

}  // namespace modulesim
