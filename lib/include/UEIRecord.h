// The request/reply record of one UEI exchange: which entity option of which module, and the value
// carried. The caller owns it; requests take it by value and replies fill it through a pointer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Pelmorax {
namespace Zendrival {

enum ueiType : uint8_t {
    ueiTypeNone = 0,
    ueiTypeByte = 1,
    ueiTypeShort = 2,
    ueiTypeInt = 4,
    ueiTypeBytes = 5,
};

struct uei {
    uint8_t module = 0;
    uint8_t command = 0;
    // Option code with the get (0x40) and set (0x80) flags.
    uint8_t option = 0;
    // Index byte: bits 0-4 index, 0x20 request flag; in a reply 0x80 marks an error, whose code is
    // then value.u8.
    uint8_t specifier = 0;
    union Value {
        uint8_t u8;
        uint16_t u16;
        uint32_t u32;
        struct Bytes {
            const uint8_t* data;
            size_t bytesLength;
        } bytes;
    } value{};
    ueiType type = ueiTypeNone;
};

}  // namespace Zendrival
}  // namespace Pelmorax
