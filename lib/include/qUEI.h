// UEI payloads: the command, option, index and value carried in the data bytes of a packet to or
// from a module address, the big-endian byte order of values, and the trailer of byte-sequence
// transfers.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>

#include "qError.h"
#include "qPacket.h"

// Data byte positions of a UEI payload.
constexpr uint8_t qUEI_CMD_BYTE = 0;
constexpr uint8_t qUEI_OPTION_BYTE = 1;
constexpr uint8_t qUEI_INDEX_BYTE = 2;
constexpr uint8_t qUEI_VALUE_BYTE = 3;
constexpr uint8_t qUEI_HEADER_SIZE = 3;

// Option byte: bits 0-5 option code, bit 6 get request, bit 7 set request (a reply to a set
// carries both).
constexpr uint8_t qUEI_OPTION_MASK = 0x3F;
constexpr uint8_t qUEI_OPTION_GET = 0x40;
constexpr uint8_t qUEI_OPTION_SET = 0x80;

// Index byte: bits 0-4 entity index, bit 5 on every request, bit 6 an asynchronous stream value,
// bit 7 an error reply whose first value byte is the error code.
constexpr uint8_t qUEI_INDEX_MASK = 0x1F;
constexpr uint8_t qUEI_INDEX_REQUEST = 0x20;
constexpr uint8_t qUEI_INDEX_STREAM = 0x40;
constexpr uint8_t qUEI_INDEX_ERROR = 0x80;

// Byte sequences travel as runs of packets of up to 24 value bytes and one trailer byte.
constexpr uint8_t qUEI_BYTES_PER_PACKET = 24;
constexpr uint8_t qUEI_BYTES_CONTINUE = 0x80;
constexpr uint8_t qUEI_BYTES_SEQUENCE_MASK = 0x7F;

// Odd link-level addresses. A length-0 packet to the magic address asks a module for its own
// address; a packet to the route address carries one route byte.
constexpr uint8_t qADDRESS_MAGIC = 173;
constexpr uint8_t qADDRESS_ROUTE = 175;

// Command codes (data byte 0 of a packet to a module address).
constexpr uint8_t qCMD_HEARTBEAT = 0;
constexpr uint8_t qCMD_SYSTEM = 3;
constexpr uint8_t qCMD_STORE_SLOT = 4;
constexpr uint8_t qCMD_I2C = 8;
constexpr uint8_t qCMD_ECHO = 23;
constexpr uint8_t qCMD_MODULE_INFO = 73;
constexpr uint8_t qCMD_STORE_ENTITY = 92;
constexpr uint8_t qCMD_FACTORY = 94;
constexpr uint8_t cmdUPGRADE = 95;

// Big-endian values. Store functions give qErrParam for a null buffer; retrieve functions give 0.
ZENDRIVAL_EXPORT qErr qUEI_StoreShort(uint8_t* buffer, uint16_t value);
ZENDRIVAL_EXPORT qErr qUEI_StoreInt(uint8_t* buffer, uint32_t value);
ZENDRIVAL_EXPORT uint16_t qUEI_RetrieveShort(const uint8_t* buffer);
ZENDRIVAL_EXPORT uint32_t qUEI_RetrieveInt(const uint8_t* buffer);
// Converts count 32-bit words in place from big-endian byte order to host order.
ZENDRIVAL_EXPORT qErr qUEI_ModifyIntBuffer(uint32_t* words, size_t count);

// Trailer of a byte-sequence packet (its last data byte): sequence number and continuation flag.
// 0/false for an invalid or empty packet.
ZENDRIVAL_EXPORT uint8_t qUEI_getBytesSequence(const qPacket* packet);
ZENDRIVAL_EXPORT bool qUEI_getBytesContinue(const qPacket* packet);
// True for a packet of 27 or 28 data bytes, which carries a full run of value bytes.
ZENDRIVAL_EXPORT bool qUEI_getBytesFullPacket(const qPacket* packet);

// True when the command byte belongs to a link-level or raw command rather than an entity (an
// empty packet has no entity command either); false for an invalid packet.
ZENDRIVAL_EXPORT bool qUEI_isNotUEIPayload(const qPacket* packet);
// True for a valid packet whose command byte is an entity command.
ZENDRIVAL_EXPORT bool qUEI_isUEIPayload(const qPacket* packet);
// A value a module streams on its own: a UEI payload of more than 4 data bytes, no get/set bits
// and the stream bit in the index.
ZENDRIVAL_EXPORT bool qUEI_isStreamPacket(const qPacket* packet);
