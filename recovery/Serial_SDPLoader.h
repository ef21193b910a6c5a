// The ROM's Serial Download Protocol over a UART (a POSIX serial device, 115200 baud, 8N1, raw):
// the same 16-byte commands as over HID but without report ids, and each answer as 4 bytes of
// security configuration followed by the 4-byte answer value.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "SDPLoader.h"

struct PrivateSerial_SDPLoader;

class Serial_SDPLoader : public SDPLoader_Interface {
  public:
    explicit Serial_SDPLoader(const char* devicePath);
    ~Serial_SDPLoader() override;
    Serial_SDPLoader(const Serial_SDPLoader&) = delete;
    Serial_SDPLoader& operator=(const Serial_SDPLoader&) = delete;

    // Opens and sets up the line; false unless the path is a terminal.
    bool init() override;
    // Sends all but the report id and returns once the line has sent them. A line that takes
    // nothing for 2 s ends the write: the bytes sent so far, or -1 when none were.
    long writeData(const std::vector<uint8_t>& command) override;
    // Waits timeoutMs, then takes what has arrived; 0 ms never blocks.
    long readData(std::vector<uint8_t>& answer, unsigned timeoutMs) override;
    // answer needs at least (offset + 2) * 4 bytes.
    bool getDataFromBuffer(const std::vector<uint8_t>& answer, unsigned offset,
                           uint32_t& value) override;

  private:
    std::unique_ptr<PrivateSerial_SDPLoader> d_;
};
