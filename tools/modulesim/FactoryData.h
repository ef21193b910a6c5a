// Factory data (command 94): sixteen numbered blocks read or written in chunks of up to 26
// bytes, each transfer closed by an end request carrying the byte count.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Outcome.h"

namespace modulesim {

class FactoryData {
  public:
    explicit FactoryData(uint32_t serial, uint8_t model);
    void handle(const Packet& request, uint8_t address, Outcome& outcome);
    // A transfer the host did not finish is forgotten.
    void abandonTransfer() { transfer_ = Transfer(); }

    static constexpr size_t kBlockCapacity = 512;
    static constexpr size_t kChunk = 26;

  private:
    struct Transfer {
        bool active = false;
        bool writing = false;
        uint8_t block = 0;
        size_t position = 0;           // read: next byte to send
        size_t moved = 0;              // bytes sent or received so far
        std::vector<uint8_t> pending;  // write: received so far, stored at the end request
    };

    void read(uint8_t block, bool first, uint8_t address, Outcome& outcome);
    void write(const Packet& request, uint8_t block, bool first, uint8_t address, Outcome& outcome);
    void finish(const Packet& request, uint8_t address, Outcome& outcome);

    std::array<std::vector<uint8_t>, 16> blocks_;
    Transfer transfer_;
};

}  // namespace modulesim
