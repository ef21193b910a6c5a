#include "qPacketDebug.h"

#include <new>

namespace {

constexpr uint16_t kPacketLogCheck = 0x1065;
// Each record carries its type and length in front of its bytes.
constexpr uint32_t kRecordHeader = 2;

}  // namespace

struct qPacketLog {
    uint16_t check;
    uint32_t capacity;
    uint32_t readIndex;
    uint32_t writeIndex;
    uint8_t* bytes;
};

namespace {

bool validLog(const qPacketLog* log) {
    return log != nullptr && log->check == kPacketLogCheck && log->bytes != nullptr;
}

// One slot always stays free, so equal indexes mean empty rather than full.
uint32_t usedBytes(const qPacketLog* log) {
    return (log->writeIndex + log->capacity - log->readIndex) % log->capacity;
}

uint8_t byteAt(const qPacketLog* log, uint32_t index) {
    return log->bytes[index % log->capacity];
}

void storeByte(qPacketLog* log, uint8_t byte) {
    log->bytes[log->writeIndex] = byte;
    log->writeIndex = (log->writeIndex + 1) % log->capacity;
}

void dropOldestRecord(qPacketLog* log) {
    uint32_t length = byteAt(log, log->readIndex + 1);
    log->readIndex = (log->readIndex + kRecordHeader + length) % log->capacity;
}

}  // namespace

qPacketLog* qPacketLog_Create(uint32_t capacity) {
    if (capacity <= kRecordHeader) {
        return nullptr;
    }
    qPacketLog* log = new (std::nothrow) qPacketLog{};
    if (log == nullptr) {
        return nullptr;
    }
    log->bytes = new (std::nothrow) uint8_t[capacity];
    if (log->bytes == nullptr) {
        delete log;
        return nullptr;
    }
    log->capacity = capacity;
    log->check = kPacketLogCheck;
    return log;
}

qErr qPacketLog_Put(qPacketLog* log, uint8_t type, uint8_t length, const uint8_t* bytes) {
    if (!validLog(log) || (bytes == nullptr && length > 0)) {
        return qErrParam;
    }
    const uint32_t needed = kRecordHeader + length;
    if (needed >= log->capacity) {
        return qErrOverrun;
    }
    while (needed >= log->capacity - usedBytes(log)) {
        dropOldestRecord(log);
    }
    storeByte(log, type);
    storeByte(log, length);
    for (uint32_t i = 0; i < length; ++i) {
        storeByte(log, bytes[i]);
    }
    return qErrNone;
}

qErr qPacketLog_Get(qPacketLog* log, uint8_t* type, uint8_t* length, uint8_t* buffer) {
    if (!validLog(log) || type == nullptr || length == nullptr) {
        return qErrParam;
    }
    if (log->readIndex == log->writeIndex) {
        return qErrNotFound;
    }
    const uint8_t capacity = *length;
    const uint8_t recordLength = byteAt(log, log->readIndex + 1);
    *type = byteAt(log, log->readIndex);
    *length = recordLength;
    if (recordLength > capacity) {
        return qErrOverrun;
    }
    if (buffer == nullptr && recordLength > 0) {
        *length = capacity;
        return qErrParam;
    }
    for (uint32_t i = 0; i < recordLength; ++i) {
        buffer[i] = byteAt(log, log->readIndex + kRecordHeader + i);
    }
    log->readIndex = (log->readIndex + kRecordHeader + recordLength) % log->capacity;
    return qErrNone;
}

qErr qPacketLog_Destroy(qPacketLog** log) {
    if (log == nullptr || !validLog(*log)) {
        return qErrParam;
    }
    (*log)->check = 0;
    delete[](*log)->bytes;
    delete *log;
    *log = nullptr;
    return qErrNone;
}
