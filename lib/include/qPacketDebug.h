// Packet debug log: a byte ring of records (type, length, bytes) that drops its oldest records
// to make room for new ones.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "qError.h"

struct qPacketLog;

ZENDRIVAL_EXPORT qPacketLog* qPacketLog_Create(uint32_t capacity);
ZENDRIVAL_EXPORT qErr qPacketLog_Put(qPacketLog* log, uint8_t type, uint8_t length,
                                     const uint8_t* bytes);
// length: buffer capacity on entry, record length on return. qErrNotFound when empty;
// qErrOverrun (record kept) when the record is longer than the capacity.
ZENDRIVAL_EXPORT qErr qPacketLog_Get(qPacketLog* log, uint8_t* type, uint8_t* length,
                                     uint8_t* buffer);
ZENDRIVAL_EXPORT qErr qPacketLog_Destroy(qPacketLog** log);
