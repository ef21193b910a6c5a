// Multi-packet get: the module answers with a run of packets, each carrying up to 24 value bytes
// and a trailer with a sequence number and a continuation flag.
#include <cstring>

#include "Entity.h"
#include "Module.h"
#include "qUEI.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

// Bytes of a packet of the run that are not value bytes: header and trailer.
constexpr uint8_t BYTES_OVERHEAD = qUEI_HEADER_SIZE + 1;

struct BytesReceipt {
    uint8_t module;
    uint8_t command;
    uint8_t option;
    uint8_t index;
    uint8_t expectedSequence;
    uint8_t* buffer;
    size_t capacity;
    size_t stored;
    qErr error;
    uint8_t sequence;
    bool more;
};

uint8_t sBytesFilter(const qPacket* packet, void* filterData) {
    BytesReceipt* receipt = static_cast<BytesReceipt*>(filterData);
    if (!qVALIDPACKET(packet) || packet->address != receipt->module || packet->dataSize <= 2) {
        return 0;
    }
    const uint8_t* data = packet->data;
    const uint8_t indexByte = data[qUEI_INDEX_BYTE];
    if (data[qUEI_CMD_BYTE] != receipt->command || data[qUEI_OPTION_BYTE] != receipt->option ||
        (indexByte & qUEI_INDEX_MASK) != receipt->index) {
        return 0;
    }
    if ((indexByte & qUEI_INDEX_ERROR) != 0) {
        receipt->error = packet->dataSize > qUEI_VALUE_BYTE
                             ? static_cast<qErr>(data[qUEI_VALUE_BYTE])
                             : qErrUnknown;
        return 1;
    }
    if ((indexByte & qUEI_INDEX_STREAM) != 0) {
        return 0;
    }
    if (packet->dataSize < BYTES_OVERHEAD) {
        // No trailer: this is not a bytes answer, and there is nothing to read from it.
        receipt->error = qErrSize;
        return 1;
    }
    const uint8_t sequence = qUEI_getBytesSequence(packet);
    if (sequence != receipt->expectedSequence) {
        return 0;
    }
    const size_t chunk = packet->dataSize - BYTES_OVERHEAD;
    if (receipt->stored + chunk > receipt->capacity) {
        receipt->error = qErrMemory;
    } else {
        memcpy(receipt->buffer + receipt->stored, data + qUEI_VALUE_BYTE, chunk);
        receipt->stored += chunk;
    }
    receipt->sequence = sequence;
    receipt->more = qUEI_getBytesContinue(packet);
    return 1;
}

}  // namespace

qErr EntityClass::getUEIBytes(uint8_t option, uint8_t* buffer, size_t capacity, size_t* length) {
    if (buffer == nullptr || length == nullptr || capacity == 0) {
        return qErrParam;
    }
    *length = 0;
    return onLink([&](Link& link, uint8_t module) {
        uei request;
        addressRequest(&request, module, option | qUEI_OPTION_GET);
        qErr result = link.sendUEI(request);
        if (result != qErrNone) {
            return result;
        }
        BytesReceipt receipt{module, getCommand(), option, getIndex(), 0, buffer, capacity,
                             0,      qErrNone,     0,      false};
        do {
            uei reply;
            result = link.receiveUEI(module, getCommand(), option, getIndex(), &reply, sBytesFilter,
                                     &receipt);
            if (result != qErrNone) {
                break;
            }
            if (receipt.error != qErrNone) {
                result = receipt.error;
                break;
            }
            receipt.expectedSequence = (receipt.sequence + 1) & qUEI_BYTES_SEQUENCE_MASK;
        } while (receipt.more);
        // What was stored before an error stays in the buffer; the length says how much.
        *length = receipt.stored;
        return result;
    });
}

}  // namespace Zendrival
}  // namespace Pelmorax
