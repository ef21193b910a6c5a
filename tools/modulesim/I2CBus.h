// The I2C entity (command 8): a module's I2C bus with the modules that sit on it. Every module
// answers on the bus it sits on as a small register file (the first written byte selects the
// register, further bytes are stored from there, reads continue from the selected register).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "Outcome.h"

namespace modulesim {

class I2CRegisters {
  public:
    void write(const uint8_t* bytes, size_t count);
    std::vector<uint8_t> read(size_t count);

  private:
    std::array<uint8_t, 256> registers_{};
    uint8_t pointer_ = 0;
};

class I2CBus {
  public:
    // address: the 8-bit write address (the module's bus address).
    void attach(uint8_t address, I2CRegisters* target) { targets_[address] = target; }
    I2CRegisters* find(uint8_t address) const;

    void handle(const Packet& request, uint8_t moduleAddress, Outcome& outcome);

    static constexpr size_t kMaxTransfer = 23;

  private:
    void write(const Packet& request, uint8_t moduleAddress, Outcome& outcome);
    void read(const Packet& request, uint8_t moduleAddress, Outcome& outcome);

    std::map<uint8_t, I2CRegisters*> targets_;
    bool pullup_ = false;
};

}  // namespace modulesim
