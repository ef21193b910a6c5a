// The data phase of R: the ROM sends up to 20 uuencoded lines and their checksum, then waits
// for the host's "OK" (next block) or "RESEND" (the same block again).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lpcsim {

class ReadTransfer {
  public:
    explicit ReadTransfer(std::vector<uint8_t> data);

    // The current block's lines and checksum line, each ending in "\r\n".
    std::string block() const;
    void acknowledge();
    bool finished() const { return position_ >= data_.size(); }

  private:
    size_t blockSize() const;

    std::vector<uint8_t> data_;
    size_t position_ = 0;
};

}  // namespace lpcsim
