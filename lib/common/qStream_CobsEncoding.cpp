#include "qStream_CobsEncoding.h"

#include <cstring>
#include <new>

#include "cobs.h"
#include "crc8.h"
#include "qPacket.h"

namespace {

constexpr uint16_t COBS_STREAM_CHECK = 0xC0B5;
// The largest packet's wire form and its CRC, COBS-encoded.
constexpr size_t RECEIVE_LIMIT = 32;
// Wire form, CRC, COBS overhead and the delimiter.
constexpr size_t FRAME_LIMIT = qPACKET_MAX_WIRE + 1 + 2 + 1;

struct CobsRecord {
    uint16_t check = COBS_STREAM_CHECK;
    qStreamGetProc get = nullptr;
    qStreamPutProc put = nullptr;
    qStreamWriteProc write = nullptr;
    qStreamDeleteProc del = nullptr;
    void* context = nullptr;
    qPacket* assembler = nullptr;
    uint8_t transmit[FRAME_LIMIT] = {};
    uint8_t receive[RECEIVE_LIMIT] = {};
    size_t received = 0;
    // A checked frame being handed out, one byte per get.
    uint8_t frame[RECEIVE_LIMIT] = {};
    size_t frameLength = 0;
    size_t framePosition = 0;
};

CobsRecord* recordOf(void* reference) {
    CobsRecord* record = static_cast<CobsRecord*>(reference);
    return record != nullptr && record->check == COBS_STREAM_CHECK ? record : nullptr;
}

qErr sendFrame(CobsRecord* record) {
    size_t length = 0;
    qPacket_GetBytes(record->assembler, record->transmit, sizeof record->transmit, &length);
    qPacket_Reset(record->assembler);
    record->transmit[length] = crc8_create(record->transmit, length);
    length = cobs_encode_inplace(record->transmit, length + 1);
    record->transmit[length++] = 0;
    return record->write(record->transmit, length, record->context);
}

qErr cobsWrite(const uint8_t* bytes, size_t length, void* reference) {
    CobsRecord* record = recordOf(reference);
    if (record == nullptr || (bytes == nullptr && length != 0)) {
        return qErrParam;
    }
    qErr result = qErrNone;
    for (size_t i = 0; i < length; ++i) {
        // Bytes that cannot belong to a packet are skipped.
        if (qPacket_AddByte(record->assembler, bytes[i]) != qErrNone ||
            !qPacket_IsComplete(record->assembler)) {
            continue;
        }
        qErr sent = sendFrame(record);
        if (sent != qErrNone) {
            result = sent;
        }
    }
    return result;
}

qErr cobsPut(uint8_t byte, void* reference) {
    CobsRecord* record = recordOf(reference);
    return record != nullptr ? record->put(byte, record->context) : qErrParam;
}

// A decoded frame is a packet's wire form and its CRC: address, length, data, CRC.
bool acceptFrame(CobsRecord* record) {
    size_t length = cobs_decode_inplace(record->receive, record->received);
    record->received = 0;
    if (length <= 2 || length != size_t(record->receive[1]) + 3 ||
        !crc8_check(record->receive, length - 1, record->receive[length - 1])) {
        return false;
    }
    memcpy(record->frame, record->receive, length - 1);
    record->frameLength = length - 1;
    record->framePosition = 0;
    return true;
}

// Hands out the next byte of a checked frame, if one is ready.
bool takeFrameByte(CobsRecord* record, uint8_t* byte) {
    if (record->framePosition >= record->frameLength) {
        return false;
    }
    *byte = record->frame[record->framePosition++];
    return true;
}

// Reads on while the line has bytes, so that "nothing yet" is reported only when the line is
// really quiet: the reader takes that as silence (a synchronisation in progress starts again on
// it), and the gaps between the frames of a burst are no silence.
qErr cobsGet(uint8_t* byte, void* reference) {
    CobsRecord* record = recordOf(reference);
    if (record == nullptr || byte == nullptr) {
        return qErrParam;
    }
    if (takeFrameByte(record, byte)) {
        return qErrNone;
    }
    for (size_t taken = 0; taken <= 2 * RECEIVE_LIMIT; ++taken) {
        uint8_t next = 0;
        qErr read = record->get(&next, record->context);
        if (read != qErrNone) {
            return read;  // nothing yet, or the line failed: the link must know
        }
        if (next != 0) {
            if (record->received < RECEIVE_LIMIT) {
                record->receive[record->received++] = next;
            }
            continue;
        }
        if (!acceptFrame(record)) {
            return qErrPacket;
        }
        if (takeFrameByte(record, byte)) {
            return qErrNone;
        }
    }
    return qErrNotReady;
}

qErr cobsDelete(void* reference) {
    CobsRecord* record = recordOf(reference);
    if (record == nullptr) {
        return qErrParam;
    }
    qErr result = record->del != nullptr ? record->del(record->context) : qErrNone;
    qPacket_Destroy(&record->assembler);
    record->check = 0;
    delete record;
    return result;
}

}  // namespace

qErr qStream_CreateCobsEncoding(qStreamGetProc get, qStreamPutProc put, qStreamWriteProc write,
                                qStreamDeleteProc del, void* context, qStream** stream) {
    if (get == nullptr || put == nullptr || write == nullptr || stream == nullptr) {
        return qErrParam;
    }
    CobsRecord* record = new (std::nothrow) CobsRecord();
    if (record == nullptr) {
        return qErrResource;
    }
    record->get = get;
    record->put = put;
    record->write = write;
    record->del = del;
    record->context = context;
    record->assembler = qPacket_Create();
    qStream* created = record->assembler != nullptr
                           ? qStream_Create(cobsGet, cobsPut, cobsWrite, cobsDelete, record)
                           : nullptr;
    if (created == nullptr) {
        qPacket_Destroy(&record->assembler);
        delete record;
        return qErrResource;
    }
    *stream = created;
    return qErrNone;
}
