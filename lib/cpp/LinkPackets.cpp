// Raw packet exchange: a command byte with up to 27 further data bytes, and a reply matched on its
// leading data bytes.
#include <cstring>

#include "LinkImpl.h"

namespace Pelmorax {
namespace Zendrival {

uint8_t sCommandFilter(const qPacket* packet, void* filterData) {
    const CommandPattern* want = static_cast<const CommandPattern*>(filterData);
    if (!qVALIDPACKET(packet) || want == nullptr || packet->dataSize < want->length) {
        return 0;
    }
    return want->length == 0 || memcmp(packet->data, want->pattern, want->length) == 0 ? 1 : 0;
}

qErr RequestExchange::failure() const {
    if (put != qErrNone) {
        return put;
    }
    return reply ? qErrNone : qErrTimeout;
}

RequestExchange exchangeRequest(qLinkID linkId, uint8_t module, const uint8_t* request,
                                uint8_t length, qPacketFilter filter, uint32_t timeoutMs) {
    RequestExchange done;
    qOwnedPacket packet(qPacket_CreateWithData(module, length, request));
    if (!packet) {
        done.put = qErrResource;
        return done;
    }
    const qPacket* const one[] = {packet.get()};
    done.put = qLink_SendPackets(linkId, one, 1);
    if (done.put == qErrNone) {
        SlotRequest filterData{request, length};
        done.reply.reset(qLink_AwaitFirst(linkId, filter, &filterData, timeoutMs));
    }
    return done;
}

qErr Link::sendPacket(uint8_t module, uint8_t command, uint8_t length, const uint8_t* data) {
    if (!isConnected()) {
        return qErrConnection;
    }
    if (length > LINK_RAW_MAX_DATA || (data == nullptr && length != 0)) {
        return qErrParam;
    }
    if (module == 0 || (module & 1) != 0) {
        return qErrPacket;
    }
    uint8_t bytes[qPACKET_MAX_DATA];
    bytes[0] = command;
    if (length != 0) {
        memcpy(bytes + 1, data, length);
    }
    return m_impl->putPacket(module, static_cast<uint8_t>(length + 1), bytes);
}

qErr Link::receivePacket(uint8_t /*module*/, const uint8_t* pattern, uint8_t* length,
                         uint8_t* data) {
    if (!isConnected()) {
        return qErrConnection;
    }
    if (length == nullptr || data == nullptr || (pattern == nullptr && *length != 0) ||
        *length > qPACKET_MAX_DATA) {
        return qErrParam;
    }
    CommandPattern want{pattern, *length};
    qOwnedPacket reply = m_impl->awaitReply(sCommandFilter, &want, LINK_REPLY_TIMEOUT_MS);
    if (!reply) {
        return qErrTimeout;
    }
    *length = reply->dataSize;
    memcpy(data, reply->data, reply->dataSize);
    return qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
