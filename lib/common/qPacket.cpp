#include "qPacket.h"

#include <cstring>
#include <new>

namespace {

constexpr qPacket kEmptyPacket = {qPACKET_CHECK, 0, 0, 0, {}};

// Every field a caller can touch is public, so a size beyond the data array is possible and must
// never be used to index it.
bool isUsable(const qPacket* packet) {
    return qVALIDPACKET(packet) && packet->dataSize <= qPACKET_MAX_DATA;
}

qErr getDataByte(const qPacket* packet, unsigned position, uint8_t mask, uint8_t* value) {
    if (value == nullptr) {
        return qErrParam;
    }
    if (!isUsable(packet) || packet->dataSize <= position) {
        return qErrPacket;
    }
    *value = packet->data[position] & mask;
    return qErrNone;
}

}  // namespace

qPacket* qPacket_Create() {
    return new (std::nothrow) qPacket(kEmptyPacket);
}

qPacket* qPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data) {
    if (data == nullptr || length > qPACKET_MAX_DATA) {
        return nullptr;
    }
    qPacket* packet = qPacket_Create();
    if (packet == nullptr) {
        return nullptr;
    }
    packet->address = address;
    packet->dataSize = length;
    packet->curIndex = static_cast<uint8_t>(length + qPACKET_HEADER_SIZE);
    memcpy(packet->data, data, length);
    return packet;
}

qPacket* qPacket_Copy(const qPacket* packet) {
    if (!isUsable(packet)) {
        return nullptr;
    }
    return qPacket_CreateWithData(packet->address, packet->dataSize, packet->data);
}

qErr qPacket_GetCmd(const qPacket* packet, uint8_t* cmd) {
    return getDataByte(packet, 0, 0xFF, cmd);
}

qErr qPacket_GetOption(const qPacket* packet, uint8_t* option) {
    return getDataByte(packet, 1, 0x3F, option);
}

qErr qPacket_GetIndex(const qPacket* packet, uint8_t* index) {
    return getDataByte(packet, 2, 0x1F, index);
}

qErr qPacket_Reset(qPacket* packet) {
    if (!qVALIDPACKET(packet)) {
        return qErrParam;
    }
    *packet = kEmptyPacket;
    return qErrNone;
}

// The position of a byte, not the fields filled so far, decides its role: a length of 0 is a
// valid length, and a refused byte must not shift the roles of the bytes after it (the COBS
// writer skips refused bytes and carries on with the same packet).
qErr qPacket_AddByte(qPacket* packet, uint8_t byte) {
    if (!isUsable(packet)) {
        return qErrParam;
    }
    const unsigned position = packet->curIndex + 1u;
    if (position > qPACKET_MAX_WIRE) {
        return qErrOverrun;
    }
    if (position == 1) {
        if (byte == 0) {
            return qErrPacket;
        }
        packet->address = byte;
    } else if (position == 2) {
        if (byte > qPACKET_MAX_DATA) {
            return qErrPacket;
        }
        packet->dataSize = byte;
    } else {
        if (position > packet->dataSize + 2u) {
            return qErrPacket;
        }
        packet->data[position - 3] = byte;
    }
    packet->curIndex = static_cast<uint8_t>(position);
    return qErrNone;
}

bool qPacket_IsComplete(const qPacket* packet) {
    return isUsable(packet) && packet->curIndex == packet->dataSize + 2u;
}

qErr qPacket_GetBytes(const qPacket* packet, uint8_t* buffer, size_t capacity, size_t* written) {
    if (!isUsable(packet) || buffer == nullptr) {
        return qErrParam;
    }
    const size_t wireSize = packet->dataSize + size_t{qPACKET_HEADER_SIZE};
    if (capacity < wireSize) {
        return qErrOverrun;
    }
    buffer[0] = packet->address;
    buffer[1] = packet->dataSize;
    memcpy(buffer + qPACKET_HEADER_SIZE, packet->data, packet->dataSize);
    if (written != nullptr) {
        *written = wireSize;
    }
    return qErrNone;
}

qErr qPacket_Destroy(qPacket** packet) {
    if (packet == nullptr || !qVALIDPACKET(*packet)) {
        return qErrParam;
    }
    // Clearing the tag makes a use after free through another pointer fail the check rather
    // than pass it.
    (*packet)->check = 0;
    delete *packet;
    *packet = nullptr;
    return qErrNone;
}
