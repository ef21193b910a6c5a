// Store slots: numbered byte containers a module keeps in numbered stores, read and written
// through open, read or write, and close, each write chunk acknowledged with its byte sum.
#include <algorithm>
#include <cstring>

#include "LinkImpl.h"
#include "qUEI.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

// The sub-command after the store-slot command; a reply repeats it, with SLOT_ERROR set on failure.
enum SlotOperation : uint8_t {
    SLOT_CAPACITY = 1,
    SLOT_SIZE = 2,
    SLOT_OPEN_READ = 3,
    SLOT_OPEN_WRITE = 4,
    SLOT_READ = 6,
    SLOT_WRITE = 7,
    SLOT_CLOSE = 8,
};
constexpr uint8_t SLOT_ERROR = 0x80;
constexpr uint8_t SLOT_BAD_HANDLE = 255;
constexpr size_t SLOT_CHUNK = 25;
// Command, sub-command and handle in front of read and write data.
constexpr uint8_t SLOT_HANDLE_HEADER = 3;

RequestExchange exchange(qLinkID linkId, uint8_t module, const uint8_t* request, uint8_t length,
                         uint32_t timeoutMs = LINK_REPLY_TIMEOUT_MS) {
    return exchangeRequest(linkId, module, request, length, sSlotFilter, timeoutMs);
}

bool isSlotError(const qPacket* reply) {
    return (reply->data[1] & SLOT_ERROR) != 0;
}

// Error code of an error reply, at the first result byte.
qErr slotErrorCode(const qPacket* reply, uint8_t at) {
    return reply->dataSize > at ? static_cast<qErr>(reply->data[at]) : qErrUnknown;
}

// Whether the exchange failed or the module answered with an error; why receives the exchange's
// failure or the module's code at byte at (which may itself be 0).
bool slotFailed(const RequestExchange& done, uint8_t at, qErr* why) {
    *why = done.failure();
    if (*why != qErrNone) {
        return true;
    }
    if (!isSlotError(done.reply.get())) {
        return false;
    }
    *why = slotErrorCode(done.reply.get(), at);
    return true;
}

uint8_t byteSum(const uint8_t* bytes, size_t length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return sum;
}

}  // namespace

uint8_t sSlotFilter(const qPacket* packet, void* filterData) {
    const SlotRequest* request = static_cast<const SlotRequest*>(filterData);
    if (!qVALIDPACKET(packet) || request == nullptr || request->length < 3 ||
        packet->dataSize <= 3 || packet->data[0] != qCMD_STORE_SLOT) {
        return 0;
    }
    const uint8_t sub = request->data[1];
    if (packet->data[1] != sub && packet->data[1] != (sub | SLOT_ERROR)) {
        return 0;
    }
    if (sub <= SLOT_OPEN_WRITE) {
        return request->length >= 4 && packet->data[2] == request->data[2] &&
                       packet->data[3] == request->data[3]
                   ? 1
                   : 0;
    }
    return packet->data[2] == request->data[2] ? 1 : 0;
}

uint8_t sOpenSlot(qLinkID linkId, uint8_t module, uint8_t store, uint8_t slot, uint8_t mode) {
    const uint8_t request[] = {qCMD_STORE_SLOT, mode, store, slot};
    const RequestExchange done =
        exchange(linkId, module, request, sizeof(request), LINK_SLOT_OPEN_TIMEOUT_MS);
    // The handle is the fifth data byte; a shorter reply carries none.
    qErr failed = qErrNone;
    if (slotFailed(done, 4, &failed) || done.reply->dataSize < 5) {
        return SLOT_BAD_HANDLE;
    }
    return done.reply->data[4];
}

qErr sCloseSlot(qLinkID linkId, uint8_t module, uint8_t handle) {
    const uint8_t request[] = {qCMD_STORE_SLOT, SLOT_CLOSE, handle};
    const RequestExchange done = exchange(linkId, module, request, sizeof(request));
    if (done.failure() != qErrNone) {
        return done.failure();
    }
    if (done.reply->dataSize != 4) {
        return qErrIO;
    }
    qErr failed = qErrNone;
    slotFailed(done, 3, &failed);
    return failed;
}

namespace {

// Capacity and size queries share one shape: a 16-bit answer after store and slot.
qErr slotQuery(qLinkID linkId, uint8_t module, uint8_t sub, uint8_t store, uint8_t slot,
               size_t* out) {
    const uint8_t request[] = {qCMD_STORE_SLOT, sub, store, slot};
    const RequestExchange done = exchange(linkId, module, request, sizeof(request));
    qErr failed = qErrNone;
    if (slotFailed(done, 4, &failed)) {
        return failed;
    }
    if (done.reply->dataSize != 6) {
        return qErrUnknown;
    }
    *out = qUEI_RetrieveShort(done.reply->data + 4);
    return qErrNone;
}

}  // namespace

qErr Link::storeSlotCapacity(uint8_t module, uint8_t store, uint8_t slot, size_t* capacity) {
    qErr sendable = m_impl->checkSendable(module);
    if (sendable != qErrNone) {
        return sendable;
    }
    if (capacity == nullptr) {
        return qErrParam;
    }
    return slotQuery(m_impl->m_stem, module, SLOT_CAPACITY, store, slot, capacity);
}

qErr Link::storeSlotSize(uint8_t module, uint8_t store, uint8_t slot, size_t* size) {
    if (size == nullptr) {
        return qErrParam;
    }
    qErr sendable = m_impl->checkSendable(module);
    if (sendable != qErrNone) {
        return sendable;
    }
    return slotQuery(m_impl->m_stem, module, SLOT_SIZE, store, slot, size);
}

namespace {

// Opens the slot, runs transfer on its handle and closes the slot again, also after a failed
// transfer, whose error then comes first.
template <typename Transfer>
qErr withOpenSlot(qLinkID linkId, uint8_t module, uint8_t store, uint8_t slot, uint8_t mode,
                  Transfer transfer) {
    const uint8_t handle = sOpenSlot(linkId, module, store, slot, mode);
    if (handle == SLOT_BAD_HANDLE) {
        return qErrMedia;
    }
    const qErr result = transfer(handle);
    const qErr closed = sCloseSlot(linkId, module, handle);
    return result != qErrNone ? result : closed;
}

qErr writeSlotChunk(qLinkID linkId, uint8_t module, uint8_t handle, const uint8_t* bytes,
                    size_t length) {
    uint8_t request[qPACKET_MAX_DATA] = {qCMD_STORE_SLOT, SLOT_WRITE, handle};
    memcpy(request + SLOT_HANDLE_HEADER, bytes, length);
    const RequestExchange done =
        exchange(linkId, module, request, static_cast<uint8_t>(SLOT_HANDLE_HEADER + length));
    if (done.failure() != qErrNone) {
        return done.failure();
    }
    if (done.reply->dataSize != 4) {
        return qErrUnknown;
    }
    qErr failed = qErrNone;
    if (slotFailed(done, 3, &failed)) {
        return failed;
    }
    return done.reply->data[3] == byteSum(bytes, length) ? qErrNone : qErrIO;
}

}  // namespace

qErr Link::loadStoreSlot(uint8_t module, uint8_t store, uint8_t slot, const uint8_t* data,
                         size_t length) {
    if (data == nullptr) {
        return qErrParam;
    }
    qErr result = m_impl->checkSendable(module);
    if (result != qErrNone) {
        return result;
    }
    const qLinkID linkId = m_impl->m_stem;
    return withOpenSlot(linkId, module, store, slot, SLOT_OPEN_WRITE, [&](uint8_t handle) {
        qErr written = qErrNone;
        for (size_t done = 0; done < length && written == qErrNone;) {
            const size_t chunk = std::min(SLOT_CHUNK, length - done);
            written = writeSlotChunk(linkId, module, handle, data + done, chunk);
            done += chunk;
        }
        return written;
    });
}

namespace {

// One read request; appends what the reply carries, never more than wanted.
qErr readSlotChunk(qLinkID linkId, uint8_t module, uint8_t handle, uint8_t* out, size_t wanted,
                   size_t* got) {
    const uint8_t request[] = {qCMD_STORE_SLOT, SLOT_READ, handle};
    const RequestExchange done = exchange(linkId, module, request, sizeof(request));
    qErr failed = qErrNone;
    if (slotFailed(done, 3, &failed)) {
        return failed;
    }
    if (done.reply->dataSize <= SLOT_HANDLE_HEADER) {
        return qErrUnknown;
    }
    *got = std::min<size_t>(done.reply->dataSize - SLOT_HANDLE_HEADER, wanted);
    memcpy(out, done.reply->data + SLOT_HANDLE_HEADER, *got);
    return qErrNone;
}

}  // namespace

qErr Link::unloadStoreSlot(uint8_t module, uint8_t store, uint8_t slot, uint8_t* buffer,
                           size_t capacity, size_t* length) {
    if (buffer == nullptr || length == nullptr) {
        return qErrParam;
    }
    size_t size = 0;
    qErr result = storeSlotSize(module, store, slot, &size);
    if (result != qErrNone) {
        return result;
    }
    const qLinkID linkId = m_impl->m_stem;
    const size_t wanted = std::min(capacity, size);
    size_t read = 0;
    result = withOpenSlot(linkId, module, store, slot, SLOT_OPEN_READ, [&](uint8_t handle) {
        qErr chunkRead = qErrNone;
        while (read < wanted && chunkRead == qErrNone) {
            size_t got = 0;
            chunkRead = readSlotChunk(linkId, module, handle, buffer + read, wanted - read, &got);
            read += got;
        }
        return chunkRead;
    });
    if (result != qErrNone) {
        return result;
    }
    *length = read;
    return capacity < size ? qErrOverrun : qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
