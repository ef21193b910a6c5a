// I2C transfers as raw packets: request 8, index, I2C address, length, speed (and write data);
// the reply echoes the head of the request and carries a status byte.
#include "autoGen_I2CClass_CPP.h"

#include <algorithm>
#include <cstring>

#include "qPacket.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

constexpr uint8_t I2C_READ_BIT = 0x01;
constexpr uint8_t I2C_PULLUP = 1;
// Where a reply carries what: the count read, the status and then the bytes read.
enum ReplyByte : uint8_t { READ_COUNT_BYTE = 3, STATUS_BYTE = 4, READ_DATA_BYTE = 5 };
constexpr uint8_t STATUS_ERROR = 0x80;
constexpr uint8_t STATUS_CODE_MASK = 0x7F;
// Index, I2C address, length and speed follow the command byte.
constexpr uint8_t TRANSFER_HEADER = 4;

}  // namespace

void I2CClass::init(Module* module, uint8_t index) {
    EntityClass::init(module, COMMAND, index);
}

qErr I2CClass::transfer(const uint8_t* request, uint8_t requestLength, const uint8_t* pattern,
                        uint8_t patternLength, uint8_t* reply, uint8_t* length) {
    qErr result = sendPacket(COMMAND, requestLength, request);
    if (result != qErrNone) {
        return result;
    }
    *length = patternLength;
    result = receivePacket(pattern, length, reply);
    if (result != qErrNone) {
        return result;
    }
    if (*length <= STATUS_BYTE) {
        return qErrPacket;
    }
    if ((reply[STATUS_BYTE] & STATUS_ERROR) != 0) {
        return static_cast<qErr>(reply[STATUS_BYTE] & STATUS_CODE_MASK);
    }
    return qErrNone;
}

qErr I2CClass::read(uint8_t address, uint8_t length, uint8_t* buffer) {
    if (length > MAX_TRANSFER) {
        return qErrSize;
    }
    if (buffer == nullptr && length != 0) {
        return qErrParam;
    }
    const uint8_t target = address | I2C_READ_BIT;
    const uint8_t request[] = {getIndex(), target, length, speed};
    const uint8_t pattern[] = {COMMAND, getIndex(), target};
    uint8_t replyLength = 0;
    uint8_t reply[qPACKET_MAX_DATA];
    const qErr result =
        transfer(request, sizeof(request), pattern, sizeof(pattern), reply, &replyLength);
    if (result != qErrNone) {
        return result;
    }
    // Never more than asked for, nor more than the reply carries.
    const size_t available = replyLength - READ_DATA_BYTE;
    const size_t count = std::min<size_t>({reply[READ_COUNT_BYTE], length, available});
    if (count != 0) {
        memcpy(buffer, reply + READ_DATA_BYTE, count);
    }
    return qErrNone;
}

qErr I2CClass::write(uint8_t address, uint8_t length, const uint8_t* data) {
    if (length > MAX_TRANSFER) {
        return qErrSize;
    }
    if (data == nullptr && length != 0) {
        return qErrParam;
    }
    uint8_t request[qPACKET_MAX_DATA] = {getIndex(), address, length, speed};
    if (length != 0) {
        memcpy(request + TRANSFER_HEADER, data, length);
    }
    const uint8_t pattern[] = {COMMAND, getIndex(), address, 0};
    uint8_t replyLength = 0;
    uint8_t reply[qPACKET_MAX_DATA];
    return transfer(request, static_cast<uint8_t>(TRANSFER_HEADER + length), pattern,
                    sizeof(pattern), reply, &replyLength);
}

qErr I2CClass::setPullup(bool enable) {
    const uint8_t request[] = {getIndex(), I2C_PULLUP, static_cast<uint8_t>(enable ? 1 : 0)};
    const uint8_t pattern[] = {COMMAND, getIndex(), I2C_PULLUP};
    uint8_t replyLength = 0;
    uint8_t reply[qPACKET_MAX_DATA];
    return transfer(request, sizeof(request), pattern, sizeof(pattern), reply, &replyLength);
}

qErr I2CClass::setSpeed(uint8_t newSpeed) {
    if (newSpeed > MAX_SPEED) {
        return qErrParam;
    }
    speed = newSpeed;
    return qErrNone;
}

qErr I2CClass::getSpeed(uint8_t* current) const {
    if (current == nullptr) {
        return qErrParam;
    }
    *current = speed;
    return qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
