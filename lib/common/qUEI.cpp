#include "qUEI.h"

namespace {

// Commands that are not entity commands: heartbeat, raw link commands, store slots, I2C, echo,
// module information, factory data, firmware upgrade, and the magic and route codes.
constexpr uint8_t kNonEntityCommands[] = {
    qCMD_HEARTBEAT,  1,          2,
    qCMD_STORE_SLOT, qCMD_I2C,   9,
    qCMD_ECHO,       24,         qCMD_MODULE_INFO,
    qCMD_FACTORY,    cmdUPGRADE, qADDRESS_MAGIC,
    qADDRESS_ROUTE,
};

bool isNonEntityCommand(uint8_t command) {
    for (uint8_t code : kNonEntityCommands) {
        if (code == command) {
            return true;
        }
    }
    return false;
}

bool hasData(const qPacket* packet) {
    return qVALIDPACKET(packet) && packet->dataSize > 0 && packet->dataSize <= qPACKET_MAX_DATA;
}

uint8_t trailerOf(const qPacket* packet) {
    return hasData(packet) ? packet->data[packet->dataSize - 1] : 0;
}

}  // namespace

qErr qUEI_StoreShort(uint8_t* buffer, uint16_t value) {
    if (buffer == nullptr) {
        return qErrParam;
    }
    buffer[0] = static_cast<uint8_t>(value >> 8);
    buffer[1] = static_cast<uint8_t>(value);
    return qErrNone;
}

qErr qUEI_StoreInt(uint8_t* buffer, uint32_t value) {
    if (buffer == nullptr) {
        return qErrParam;
    }
    qUEI_StoreShort(buffer, static_cast<uint16_t>(value >> 16));
    qUEI_StoreShort(buffer + 2, static_cast<uint16_t>(value));
    return qErrNone;
}

uint16_t qUEI_RetrieveShort(const uint8_t* buffer) {
    if (buffer == nullptr) {
        return 0;
    }
    return static_cast<uint16_t>((buffer[0] << 8) | buffer[1]);
}

uint32_t qUEI_RetrieveInt(const uint8_t* buffer) {
    if (buffer == nullptr) {
        return 0;
    }
    return (uint32_t{qUEI_RetrieveShort(buffer)} << 16) | qUEI_RetrieveShort(buffer + 2);
}

qErr qUEI_ModifyIntBuffer(uint32_t* words, size_t count) {
    if (words == nullptr && count > 0) {
        return qErrParam;
    }
    for (size_t i = 0; i < count; ++i) {
        words[i] = qUEI_RetrieveInt(reinterpret_cast<const uint8_t*>(&words[i]));
    }
    return qErrNone;
}

uint8_t qUEI_getBytesSequence(const qPacket* packet) {
    return trailerOf(packet) & qUEI_BYTES_SEQUENCE_MASK;
}

bool qUEI_getBytesContinue(const qPacket* packet) {
    return (trailerOf(packet) & qUEI_BYTES_CONTINUE) != 0;
}

bool qUEI_getBytesFullPacket(const qPacket* packet) {
    return qVALIDPACKET(packet) && packet->dataSize >= qUEI_HEADER_SIZE + qUEI_BYTES_PER_PACKET &&
           packet->dataSize <= qPACKET_MAX_DATA;
}

bool qUEI_isNotUEIPayload(const qPacket* packet) {
    if (!qVALIDPACKET(packet)) {
        return false;
    }
    return !hasData(packet) || isNonEntityCommand(packet->data[qUEI_CMD_BYTE]);
}

// Not simply the negation of qUEI_isNotUEIPayload: an invalid packet is neither.
bool qUEI_isUEIPayload(const qPacket* packet) {
    return qVALIDPACKET(packet) && !qUEI_isNotUEIPayload(packet);
}

bool qUEI_isStreamPacket(const qPacket* packet) {
    return qUEI_isUEIPayload(packet) && packet->dataSize > 4 &&
           packet->data[qUEI_OPTION_BYTE] < qUEI_OPTION_GET &&
           (packet->data[qUEI_INDEX_BYTE] & qUEI_INDEX_STREAM) != 0;
}
