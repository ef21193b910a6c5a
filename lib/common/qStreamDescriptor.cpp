#include "qStreamDescriptor.h"

#include <cerrno>
#include <new>
#include <poll.h>
#include <unistd.h>

#include "qStreamForCaller.h"

qErr qStreamDescriptor_GetByte(int descriptor, int waitMs, uint8_t* byte) {
    // Some drivers block a read until a byte comes, however long the peer stays silent; the read
    // is made only once the descriptor has something (or has hung up).
    pollfd readable{descriptor, POLLIN, 0};
    int ready = poll(&readable, 1, waitMs);
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
        return qErrNotReady;
    }
    if (ready < 0) {
        return qErrIO;
    }
    ssize_t rc = read(descriptor, byte, 1);
    if (rc == 1) {
        return qErrNone;
    }
    if (rc == 0) {
        // A hang-up reads as ready at once: the reader thread pauses instead of spinning, while
        // a caller leaves it to the reader thread.
        if (qStream_ReadingForCaller()) {
            return qErrBusy;
        }
        poll(nullptr, 0, waitMs);
        return qErrNotReady;
    }
    // The kernel driver reports a read with nothing to hand over as EFAULT.
    if (errno == EFAULT || errno == EINTR || errno == EAGAIN) {
        return qErrNotReady;
    }
    return qErrIO;
}

namespace {

struct DescriptorRecord {
    uint16_t check;
    int descriptor;
};

qErr descriptorGet(uint8_t* byte, void* reference) {
    DescriptorRecord* record = static_cast<DescriptorRecord*>(reference);
    if (record == nullptr || record->check != qDESCRIPTORSTREAM_CHECK || byte == nullptr) {
        return qErrParam;
    }
    return qStreamDescriptor_GetByte(record->descriptor, 0, byte);
}

qErr descriptorDelete(void* reference) {
    DescriptorRecord* record = static_cast<DescriptorRecord*>(reference);
    if (record == nullptr || record->check != qDESCRIPTORSTREAM_CHECK) {
        return qErrParam;
    }
    record->check = 0;
    delete record;
    return qErrNone;
}

}  // namespace

qStream* qStream_CreateDescriptorInput(int descriptor) {
    DescriptorRecord* record =
        new (std::nothrow) DescriptorRecord{qDESCRIPTORSTREAM_CHECK, descriptor};
    if (record == nullptr) {
        return nullptr;
    }
    qStream* stream = nullptr;
    qStream_CreateOwning(descriptorGet, nullptr, nullptr, descriptorDelete, record, &stream);
    return stream;
}
