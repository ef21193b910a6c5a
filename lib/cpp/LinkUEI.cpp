// UEI requests and replies: command, option and index bytes followed by a big-endian value, or a
// run of packets for a byte sequence.
#include <algorithm>
#include <cstring>

#include "LinkImpl.h"
#include "qDebugging.h"
#include "qUEI.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

// Writes the value of a numeric uei at out; returns the number of bytes written.
uint8_t storeValue(const uei& request, uint8_t* out) {
    switch (request.type) {
        case ueiTypeByte:
            out[0] = request.value.u8;
            return 1;
        case ueiTypeShort:
            qUEI_StoreShort(out, request.value.u16);
            return 2;
        case ueiTypeInt:
            qUEI_StoreInt(out, request.value.u32);
            return 4;
        default:
            return 0;
    }
}

void storeHeader(const uei& request, uint8_t* out) {
    out[qUEI_CMD_BYTE] = request.command;
    out[qUEI_OPTION_BYTE] = request.option;
    out[qUEI_INDEX_BYTE] = request.specifier;
}

// The same reply matching as sUEIFilter, without touching the record (for draining).
bool ueiReplyMatches(const qPacket* packet, const uei& wanted) {
    if (!qVALIDPACKET(packet) || packet->address != wanted.module || packet->dataSize <= 2) {
        return false;
    }
    const uint8_t indexByte = packet->data[qUEI_INDEX_BYTE];
    // A streamed value of the same option is not a reply.
    if ((indexByte & qUEI_INDEX_STREAM) != 0 && (indexByte & qUEI_INDEX_ERROR) == 0) {
        return false;
    }
    return packet->data[qUEI_CMD_BYTE] == wanted.command &&
           packet->data[qUEI_OPTION_BYTE] == wanted.option &&
           (indexByte & qUEI_INDEX_MASK) == wanted.specifier;
}

uint8_t matchOnlyFilter(const qPacket* packet, void* filterData) {
    return ueiReplyMatches(packet, *static_cast<const uei*>(filterData)) ? 1 : 0;
}

}  // namespace

uint8_t sUEIFilter(const qPacket* packet, void* filterData) {
    uei* reply = static_cast<uei*>(filterData);
    if (reply == nullptr || !ueiReplyMatches(packet, *reply)) {
        return 0;
    }
    const uint8_t* data = packet->data;
    if ((data[qUEI_INDEX_BYTE] & qUEI_INDEX_ERROR) != 0) {
        reply->specifier = data[qUEI_INDEX_BYTE];
        // An error reply cut short of its code byte is still an error.
        reply->value.u32 = packet->dataSize > qUEI_VALUE_BYTE ? data[qUEI_VALUE_BYTE]
                                                              : static_cast<uint8_t>(qErrUnknown);
        return 1;
    }
    switch (packet->dataSize) {
        case 3:
            reply->type = ueiTypeNone;
            break;
        case 4:
            reply->type = ueiTypeByte;
            reply->value.u32 = data[qUEI_VALUE_BYTE];
            break;
        case 5:
            reply->type = ueiTypeShort;
            reply->value.u32 = qUEI_RetrieveShort(data + qUEI_VALUE_BYTE);
            break;
        case 7:
            reply->type = ueiTypeInt;
            reply->value.u32 = qUEI_RetrieveInt(data + qUEI_VALUE_BYTE);
            break;
        default:
            break;
    }
    return 1;
}

qErr Link::sendUEI(uei request) {
    const qErr sendable = m_impl->checkSendable(request.module);
    if (sendable != qErrNone) {
        return sendable;
    }
    uint8_t data[qPACKET_MAX_DATA];
    storeHeader(request, data);
    if (request.type != ueiTypeBytes) {
        const uint8_t length = qUEI_HEADER_SIZE + storeValue(request, data + qUEI_VALUE_BYTE);
        return m_impl->putPacket(request.module, length, data);
    }
    const uint8_t* bytes = request.value.bytes.data;
    const size_t total = request.value.bytes.bytesLength;
    if (bytes == nullptr && total != 0) {
        return qErrParam;
    }
    // The packets of one value are queued together, so that a pooled link sends them in as few
    // writes as its buffer allows.
    std::vector<qOwnedPacket> packets;
    size_t sent = 0;
    uint8_t sequence = 0;
    do {
        const size_t chunk = std::min<size_t>(total - sent, qUEI_BYTES_PER_PACKET);
        if (chunk != 0) {
            memcpy(data + qUEI_VALUE_BYTE, bytes + sent, chunk);
        }
        sent += chunk;
        const uint8_t more = sent < total ? qUEI_BYTES_CONTINUE : 0;
        data[qUEI_VALUE_BYTE + chunk] = more | (sequence & qUEI_BYTES_SEQUENCE_MASK);
        packets.emplace_back(qPacket_CreateWithData(
            request.module, static_cast<uint8_t>(qUEI_HEADER_SIZE + chunk + 1), data));
        if (!packets.back()) {
            return qErrResource;
        }
        ++sequence;
    } while (sent < total);
    return m_impl->putPackets(packets);
}

qErr Link::sendUEI(uei request, uint8_t subIndex) {
    const qErr sendable = m_impl->checkSendable(request.module);
    if (sendable != qErrNone) {
        return sendable;
    }
    if (request.type == ueiTypeBytes) {
        return qErrParam;
    }
    uint8_t data[qPACKET_MAX_DATA];
    storeHeader(request, data);
    data[qUEI_VALUE_BYTE] = subIndex;
    const uint8_t length = qUEI_HEADER_SIZE + 1 + storeValue(request, data + qUEI_VALUE_BYTE + 1);
    return m_impl->putPacket(request.module, length, data);
}

qErr Link::receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* reply) {
    return receiveUEI(module, command, option, index, reply, sUEIFilter, nullptr);
}

qErr Link::receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* reply,
                      qPacketFilter filter, void* filterData) {
    if (reply == nullptr || filter == nullptr) {
        return qErrParam;
    }
    const qErr sendable = m_impl->checkSendable(module);
    if (sendable != qErrNone) {
        return sendable;
    }
    uint32_t timeoutMs = LINK_REPLY_TIMEOUT_MS;
    if (reply->type == ueiTypeBytes && reply->value.bytes.bytesLength > LINK_LARGE_PAYLOAD) {
        timeoutMs = LINK_LARGE_REPLY_TIMEOUT_MS;
        qDebug_Print(qDEBUG_LINK, "receiveUEI - Expanding timeout for large payload: %lu\n",
                     static_cast<unsigned long>(timeoutMs));
    }
    reply->module = module;
    reply->command = command;
    reply->option = option;
    reply->specifier = index;
    qOwnedPacket packet =
        m_impl->awaitReply(filter, filterData != nullptr ? filterData : reply, timeoutMs);
    return packet ? qErrNone : qErrTimeout;
}

qErr Link::dropMatchingUEIPackets(uint8_t module, uint8_t command, uint8_t option, uint8_t index) {
    if (m_impl->m_stem == 0) {
        return qErrConnection;
    }
    uei wanted;
    wanted.module = module;
    wanted.command = command;
    wanted.option = option;
    wanted.specifier = index;
    qLink_DrainPackets(m_impl->m_stem, matchOnlyFilter, &wanted);
    return qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
