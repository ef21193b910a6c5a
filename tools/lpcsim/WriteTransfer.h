// The data phase of W: uuencoded lines into RAM, a checksum after every 20 lines and after the
// last, each block kept only when its checksum matches ("OK") and sent again after "RESEND".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DeviceMemory.h"

namespace lpcsim {

class WriteTransfer {
  public:
    WriteTransfer(uint32_t address, uint32_t count);

    bool checksumDue() const;
    void dataLine(const std::string& line);
    // Commits the block and returns true when the line holds its sum; else drops the block.
    bool checksumLine(const std::string& line, bool forceResend, DeviceMemory& memory);
    bool finished() const { return committed_ == count_; }

  private:
    uint32_t address_;
    uint32_t count_;
    uint32_t committed_ = 0;
    std::vector<uint8_t> block_;
    size_t linesInBlock_ = 0;
};

}  // namespace lpcsim
