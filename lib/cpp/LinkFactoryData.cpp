// Factory data: numbered blocks read or written in chunks and closed with an end request that
// carries the byte count, so the module can tell a complete transfer from a broken one.
#include <algorithm>
#include <cstring>

#include "LinkImpl.h"
#include "qUEI.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

constexpr uint8_t COMMAND_OVERHEAD = 2;
// The control byte after the factory command: the block index below the flags.
enum FactoryControl : uint8_t {
    FACTORY_INDEX_MASK = 0x0F,
    FACTORY_WRITE = 0x10,
    FACTORY_END = 0x20,
    FACTORY_FIRST = 0x40,
    FACTORY_ERROR = 0x80,
};
constexpr size_t FACTORY_CHUNK = qPACKET_MAX_DATA - COMMAND_OVERHEAD;

RequestExchange factoryExchange(qLinkID linkId, uint8_t module, const uint8_t* request,
                                uint8_t length) {
    return exchangeRequest(linkId, module, request, length, sFactoryFilter, LINK_REPLY_TIMEOUT_MS);
}

// The first request of a transfer says so, so that the module starts the block afresh.
uint8_t control(uint8_t index, uint8_t flags, bool first) {
    const uint8_t byte = static_cast<uint8_t>(index | flags);
    return first ? static_cast<uint8_t>(byte | FACTORY_FIRST) : byte;
}

bool isFactoryError(const qPacket* reply) {
    return (reply->data[1] & FACTORY_ERROR) != 0;
}

qErr factoryErrorCode(const qPacket* reply) {
    return reply->dataSize > 2 ? static_cast<qErr>(reply->data[2]) : qErrUnknown;
}

// Closes a transfer of count bytes.
qErr sendFactoryEnd(qLinkID linkId, uint8_t module, size_t count) {
    const uint8_t request[] = {qCMD_FACTORY, FACTORY_END, static_cast<uint8_t>(count >> 8),
                               static_cast<uint8_t>(count)};
    const RequestExchange done = factoryExchange(linkId, module, request, sizeof(request));
    if (done.failure() != qErrNone) {
        return done.failure();
    }
    if (done.reply->dataSize == 3 && isFactoryError(done.reply.get())) {
        return factoryErrorCode(done.reply.get());
    }
    return qErrNone;
}

}  // namespace

uint8_t sFactoryFilter(const qPacket* packet, void* filterData) {
    const FactoryRequest* request = static_cast<const FactoryRequest*>(filterData);
    if (!qVALIDPACKET(packet) || request == nullptr || request->length < 2 ||
        packet->dataSize <= 1 || packet->data[0] != qCMD_FACTORY) {
        return 0;
    }
    const uint8_t index = request->data[1] & FACTORY_INDEX_MASK;
    return packet->data[1] == index || packet->data[1] == (index | FACTORY_ERROR) ? 1 : 0;
}

qErr Link::getFactoryData(uint8_t module, uint8_t index, uint8_t* buffer, size_t capacity,
                          size_t* length) {
    qErr result = m_impl->checkSendable(module);
    if (result != qErrNone) {
        return result;
    }
    if (buffer == nullptr || length == nullptr || index > FACTORY_INDEX_MASK) {
        return qErrParam;
    }
    const qLinkID linkId = m_impl->m_stem;
    size_t count = 0;
    bool first = true;
    uint8_t lastLength = qPACKET_MAX_DATA;
    while (result == qErrNone && (first || lastLength == qPACKET_MAX_DATA)) {
        const uint8_t request[] = {qCMD_FACTORY, control(index, 0, first)};
        first = false;
        const RequestExchange done = factoryExchange(linkId, module, request, sizeof(request));
        result = done.failure();
        if (result != qErrNone) {
            break;
        }
        const qPacket* reply = done.reply.get();
        if (reply->dataSize < COMMAND_OVERHEAD) {
            result = qErrUnknown;
        } else if (count + reply->dataSize - COMMAND_OVERHEAD >= capacity) {
            result = qErrOverrun;
        } else if (isFactoryError(reply)) {
            result = factoryErrorCode(reply);
        } else {
            const size_t bytes = reply->dataSize - COMMAND_OVERHEAD;
            memcpy(buffer + count, reply->data + COMMAND_OVERHEAD, bytes);
            count += bytes;
            lastLength = reply->dataSize;
        }
    }
    if (result != qErrNone) {
        return result;
    }
    result = sendFactoryEnd(linkId, module, count);
    if (result == qErrNone) {
        *length = count;
    }
    return result;
}

qErr Link::setFactoryData(uint8_t module, uint8_t index, const uint8_t* data, size_t length) {
    qErr result = m_impl->checkSendable(module);
    if (result != qErrNone) {
        return result;
    }
    if ((data == nullptr && length != 0) || index > FACTORY_INDEX_MASK) {
        return qErrParam;
    }
    const qLinkID linkId = m_impl->m_stem;
    size_t sent = 0;
    while (result == qErrNone && sent < length) {
        const size_t chunk = std::min(FACTORY_CHUNK, length - sent);
        uint8_t request[qPACKET_MAX_DATA];
        request[0] = qCMD_FACTORY;
        request[1] = control(index, FACTORY_WRITE, sent == 0);
        memcpy(request + COMMAND_OVERHEAD, data + sent, chunk);
        const RequestExchange done = factoryExchange(
            linkId, module, request, static_cast<uint8_t>(COMMAND_OVERHEAD + chunk));
        result = done.failure();
        if (result != qErrNone) {
            break;
        }
        if (isFactoryError(done.reply.get())) {
            result = factoryErrorCode(done.reply.get());
        } else if (done.reply->dataSize != COMMAND_OVERHEAD) {
            result = qErrSize;
        }
        sent += chunk;
    }
    if (result != qErrNone) {
        return result;
    }
    return sendFactoryEnd(linkId, module, sent);
}

}  // namespace Zendrival
}  // namespace Pelmorax
