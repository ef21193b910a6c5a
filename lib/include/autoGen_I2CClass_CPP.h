// An I2C bus of a module (command 8). Transfers are raw packets, not UEI: each carries the
// 8-bit I2C address, the length and the bus speed, and the module answers with a status byte.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "Entity.h"

namespace Pelmorax {
namespace Zendrival {

class ZENDRIVAL_EXPORT I2CClass : public EntityClass {
  public:
    static constexpr uint8_t COMMAND = 8;
    // Header bytes of a transfer request leave room for this many data bytes in one packet.
    static constexpr uint8_t MAX_TRANSFER = 23;
    static constexpr uint8_t MAX_SPEED = 3;

    void init(Module* module, uint8_t index);

    // address is the 8-bit form; read sets its bit 0. length at most 23 (qErrSize above).
    qErr read(uint8_t address, uint8_t length, uint8_t* buffer);
    qErr write(uint8_t address, uint8_t length, const uint8_t* data);
    qErr setPullup(bool enable);
    // 0 to 3 (qErrParam above); sent with every later transfer, never on its own.
    qErr setSpeed(uint8_t speed);
    qErr getSpeed(uint8_t* speed) const;

  private:
    // Sends request and awaits the reply that starts with pattern, checking its status byte.
    qErr transfer(const uint8_t* request, uint8_t requestLength, const uint8_t* pattern,
                  uint8_t patternLength, uint8_t* reply, uint8_t* length);

    uint8_t speed = 0;
};

}  // namespace Zendrival
}  // namespace Pelmorax
