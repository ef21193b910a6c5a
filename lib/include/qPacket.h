// One device packet: module address, length and up to 28 data bytes. On the wire it is exactly
// that (address, length, data) with no header, checksum or terminator, so the receive side
// assembles it one byte at a time.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>
#include <memory>

#include "qError.h"

#define qPACKET_CHECK 0xBEEF
#define qPACKET_MAX_DATA 28
// Address and length byte in front of the data.
#define qPACKET_HEADER_SIZE 2
#define qPACKET_MAX_WIRE (qPACKET_MAX_DATA + qPACKET_HEADER_SIZE)

struct qPacket {
    uint16_t check;
    // Wire bytes accumulated so far: 1 after the address, 2 after the length, then one per data
    // byte. A complete packet has curIndex == dataSize + 2.
    uint8_t curIndex;
    // Module address; 0 while not yet received.
    uint8_t address;
    uint8_t dataSize;
    uint8_t data[qPACKET_MAX_DATA];
};

#define qVALIDPACKET(p) ((p) != nullptr && (p)->check == qPACKET_CHECK)
// A valid packet that can be queued or sent: a size beyond the data array marks a corrupted one.
#define qSENDABLEPACKET(p) (qVALIDPACKET(p) && (p)->dataSize <= qPACKET_MAX_DATA)

// A fresh, empty packet, or null when memory runs out.
ZENDRIVAL_EXPORT qPacket* qPacket_Create();
// A complete packet holding a copy of length bytes of data; null for null data, length > 28 or
// exhausted memory.
ZENDRIVAL_EXPORT qPacket* qPacket_CreateWithData(uint8_t address, uint8_t length,
                                                 const uint8_t* data);
// A new packet with the same address, length and data; null for an invalid packet.
ZENDRIVAL_EXPORT qPacket* qPacket_Copy(const qPacket* packet);

// Data byte 0 (the command), as is.
ZENDRIVAL_EXPORT qErr qPacket_GetCmd(const qPacket* packet, uint8_t* cmd);
// Data byte 1 without its get/set bits.
ZENDRIVAL_EXPORT qErr qPacket_GetOption(const qPacket* packet, uint8_t* option);
// Data byte 2 without its request/stream/error bits.
ZENDRIVAL_EXPORT qErr qPacket_GetIndex(const qPacket* packet, uint8_t* index);

// Empties the packet for reuse by the assembler.
ZENDRIVAL_EXPORT qErr qPacket_Reset(qPacket* packet);
// Receive-side assembler: takes the next wire byte. A zero address, a length above 28, a byte
// beyond the announced length or a 31st byte is refused with an error and leaves the packet as it
// was, so a caller may skip the byte and go on.
ZENDRIVAL_EXPORT qErr qPacket_AddByte(qPacket* packet, uint8_t byte);
ZENDRIVAL_EXPORT bool qPacket_IsComplete(const qPacket* packet);
// Writes the wire form into buffer; qErrOverrun when capacity is below dataSize + 2. written, when
// given, receives dataSize + 2.
ZENDRIVAL_EXPORT qErr qPacket_GetBytes(const qPacket* packet, uint8_t* buffer, size_t capacity,
                                       size_t* written);
// Frees the packet and clears the caller's pointer.
ZENDRIVAL_EXPORT qErr qPacket_Destroy(qPacket** packet);

// Sole owner of a packet made by qPacket_Create*, qPacket_Copy or a queue's get: it releases the
// packet through qPacket_Destroy, the one release that matches how packets are made.
struct qPacketDeleter {
    void operator()(qPacket* packet) const { qPacket_Destroy(&packet); }
};
using qOwnedPacket = std::unique_ptr<qPacket, qPacketDeleter>;
