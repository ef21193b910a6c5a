// Stream keys and the decoding of stream packets: a timestamped sample of one option, possibly
// with a sub-index, as the module sends it on its own.
#include "LinkImpl.h"
#include "qUEI.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

// Where a stream packet carries its sample type and, for the sub-index types, the sub-index.
enum StreamPacketByte : uint8_t { STREAM_TYPE_BYTE = 3, STREAM_SUBINDEX_BYTE = 4 };
constexpr uint8_t TIMESTAMP_BYTES = 8;

// Key bit position of each element, in STREAM_KEY order.
constexpr unsigned ELEMENT_SHIFT[] = {24, 16, 8, 0, 32};

uint8_t valueBytesOf(Link::STREAM_PACKET type) {
    switch (type) {
        case Link::STREAM_PACKET_U8:
        case Link::STREAM_PACKET_SUBINDEX_U8:
            return 1;
        case Link::STREAM_PACKET_U16:
        case Link::STREAM_PACKET_SUBINDEX_U16:
            return 2;
        case Link::STREAM_PACKET_U32:
        case Link::STREAM_PACKET_SUBINDEX_U32:
            return 4;
        default:
            return 0;
    }
}

// Data length of a single sample: header, optional sub-index, timestamp, value, trailer.
uint8_t sampleLengthOf(Link::STREAM_PACKET type) {
    const uint8_t valueBytes = valueBytesOf(type);
    if (valueBytes == 0) {
        return 0;
    }
    const uint8_t subIndex = Link::isSubindexType(type) ? 1 : 0;
    return static_cast<uint8_t>(4 + subIndex + TIMESTAMP_BYTES + valueBytes + 1);
}

}  // namespace

uint64_t Link::createStreamKey(uint8_t module, uint8_t command, uint8_t option, uint8_t index,
                               uint8_t subIndex) {
    return (static_cast<uint64_t>(subIndex) << 32) | (static_cast<uint64_t>(module) << 24) |
           (static_cast<uint64_t>(command) << 16) | (static_cast<uint64_t>(option) << 8) | index;
}

uint8_t Link::getStreamKeyElement(uint64_t key, STREAM_KEY element) {
    if (element > STREAM_KEY_SUBINDEX) {
        return 0;
    }
    return static_cast<uint8_t>(key >> ELEMENT_SHIFT[element]);
}

uint64_t _getGenericStreamKeyMask(uint8_t i) {
    if (i >= GENERIC_STREAM_KEY_MASKS) {
        return 0;
    }
    const unsigned wildcards = i + 1u;
    uint64_t mask = 0;
    if (wildcards & 0x1) {
        mask |= Link::createStreamKey(0, 0, 0, 0xFF, 0);
    }
    if (wildcards & 0x2) {
        mask |= Link::createStreamKey(0, 0, 0xFF, 0, 0);
    }
    if (wildcards & 0x4) {
        mask |= Link::createStreamKey(0, 0xFF, 0, 0, 0);
    }
    if (wildcards & 0x8) {
        mask |= Link::createStreamKey(0, 0, 0, 0, 0xFF);
    }
    return mask;
}

void Link::getTimestampParts(uint64_t timestamp, uint32_t* high, uint32_t* low) {
    if (high != nullptr) {
        *high = static_cast<uint32_t>(timestamp >> 32);
    }
    if (low != nullptr) {
        *low = static_cast<uint32_t>(timestamp);
    }
}

bool Link::isStreamPacket(const qPacket* packet) {
    return qUEI_isStreamPacket(packet);
}

bool Link::getStreamPacketType(const qPacket* packet, STREAM_PACKET* type) {
    if (type != nullptr) {
        *type = STREAM_PACKET_NONE;
    }
    if (!isStreamPacket(packet)) {
        return false;
    }
    STREAM_PACKET found = STREAM_PACKET_NONE;
    const uint8_t trailer = packet->data[packet->dataSize - 1];
    if (trailer != 0) {
        found = STREAM_PACKET_BYTES;
    } else if (packet->data[STREAM_TYPE_BYTE] >= STREAM_PACKET_U8 &&
               packet->data[STREAM_TYPE_BYTE] <= STREAM_PACKET_SUBINDEX_U32) {
        found = static_cast<STREAM_PACKET>(packet->data[STREAM_TYPE_BYTE]);
    } else {
        return false;
    }
    if (type != nullptr) {
        *type = found;
    }
    return true;
}

bool Link::isSubindexType(STREAM_PACKET type) {
    return type == STREAM_PACKET_SUBINDEX_U8 || type == STREAM_PACKET_SUBINDEX_U16 ||
           type == STREAM_PACKET_SUBINDEX_U32;
}

bool Link::isStreamSample(const qPacket* packet) {
    STREAM_PACKET type;
    if (!getStreamPacketType(packet, &type) || type == STREAM_PACKET_BYTES) {
        return false;
    }
    return packet->data[packet->dataSize - 1] == 0 && packet->dataSize == sampleLengthOf(type);
}

qErr Link::getStreamSample(const qPacket* packet, uint64_t* timestamp, uint32_t* value,
                           uint8_t* subIndex) {
    STREAM_PACKET type;
    const bool typed = getStreamPacketType(packet, &type);
    if (typed && type == STREAM_PACKET_BYTES) {
        return qErrSize;
    }
    if (!typed || !isStreamSample(packet)) {
        return qErrPacket;
    }
    const bool withSubIndex = isSubindexType(type);
    const uint8_t* at = packet->data + STREAM_SUBINDEX_BYTE + (withSubIndex ? 1 : 0);
    if (timestamp != nullptr) {
        *timestamp = (static_cast<uint64_t>(qUEI_RetrieveInt(at)) << 32) | qUEI_RetrieveInt(at + 4);
    }
    at += TIMESTAMP_BYTES;
    if (value != nullptr) {
        switch (valueBytesOf(type)) {
            case 1:
                *value = at[0];
                break;
            case 2:
                *value = qUEI_RetrieveShort(at);
                break;
            default:
                *value = qUEI_RetrieveInt(at);
                break;
        }
    }
    if (subIndex != nullptr) {
        *subIndex = withSubIndex ? packet->data[STREAM_SUBINDEX_BYTE] : 0;
    }
    return qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
