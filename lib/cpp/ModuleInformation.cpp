// Module information (build, supported UEIs, entity counts and groups) and the echo test. These
// are raw requests under command 73 (23 for echo) whose replies echo the request before the answer.
#include <cstring>

#include "Module.h"
#include "qUEI.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

constexpr uint8_t INFO_BUILD = 255;
constexpr uint8_t INFO_HAS_UEI = 1;
constexpr uint8_t INFO_CLASS_QUANTITY = 4;
constexpr uint8_t INFO_SUBCLASS_QUANTITY = 5;
constexpr uint8_t INFO_ENTITY_GROUP = 6;
constexpr uint8_t HAS_UEI_RESERVED_FLAGS = 0x3F;
constexpr uint8_t HAS_UEI_EXCLUSIVE_FLAGS = 0xC0;
constexpr uint8_t BUILD_REPLY_LENGTH = 6;

}  // namespace

// Sends command followed by the request bytes and awaits the reply whose first matchLength data
// bytes are the command and the request's first matchLength - 1 bytes; reply receives all of its
// data bytes. The caller has checked the link.
qErr Module::exchange(uint8_t command, const uint8_t* request, uint8_t length, uint8_t matchLength,
                      uint8_t* reply, uint8_t* replyLength) {
    qErr result = link->sendPacket(address, command, length, request);
    if (result != qErrNone) {
        return result;
    }
    uint8_t pattern[qPACKET_MAX_DATA] = {command};
    if (matchLength > 1) {
        memcpy(pattern + 1, request, static_cast<size_t>(matchLength - 1));
    }
    *replyLength = matchLength;
    return link->receivePacket(address, pattern, replyLength, reply);
}

// request holds the data bytes after the command byte; the reply must repeat command and
// request, followed by one answer byte.
qErr Module::queryInformation(const uint8_t* request, uint8_t length, uint8_t* answer) {
    if (link == nullptr || !link->isConnected()) {
        return qErrConnection;
    }
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t replyLength = 0;
    qErr result = exchange(qCMD_MODULE_INFO, request, length, 1, reply, &replyLength);
    if (result != qErrNone) {
        return result;
    }
    if (replyLength != length + 2 || memcmp(reply + 1, request, length) != 0) {
        return qErrUnknown;
    }
    *answer = reply[length + 1];
    return qErrNone;
}

qErr Module::getBuild(uint32_t* build) {
    if (build == nullptr) {
        return qErrParam;
    }
    if (link == nullptr) {
        return qErrInitialization;
    }
    if (!link->isConnected()) {
        return qErrConnection;
    }
    const uint8_t request[] = {INFO_BUILD};
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t replyLength = 0;
    // The reply must repeat both the command and the build query byte.
    qErr result = exchange(qCMD_MODULE_INFO, request, sizeof(request), 2, reply, &replyLength);
    if (result != qErrNone) {
        return result;
    }
    if (replyLength != BUILD_REPLY_LENGTH) {
        return qErrSize;
    }
    *build = qUEI_RetrieveInt(reply + 2);
    return qErrNone;
}

qErr Module::hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) {
    if ((flags & HAS_UEI_RESERVED_FLAGS) != 0 ||
        (flags & HAS_UEI_EXCLUSIVE_FLAGS) == HAS_UEI_EXCLUSIVE_FLAGS) {
        return qErrParam;
    }
    const uint8_t request[] = {INFO_HAS_UEI, command, option, index, flags};
    // The request's last byte (the flags) is answered in place, so only four bytes are echoed.
    if (link == nullptr || !link->isConnected()) {
        return qErrConnection;
    }
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t replyLength = 0;
    qErr result = exchange(qCMD_MODULE_INFO, request, sizeof(request), 1, reply, &replyLength);
    if (result != qErrNone) {
        return result;
    }
    if (replyLength != sizeof(request) + 1 || memcmp(reply + 1, request, 4) != 0) {
        return qErrUnknown;
    }
    return static_cast<qErr>(reply[5]);
}

qErr Module::classQuantity(uint8_t entityClass, uint8_t* count) {
    if (count == nullptr) {
        return qErrParam;
    }
    *count = 0;
    const uint8_t request[] = {INFO_CLASS_QUANTITY, entityClass};
    return queryInformation(request, sizeof(request), count);
}

qErr Module::subClassQuantity(uint8_t entityClass, uint8_t subClass, uint8_t* count) {
    if (count == nullptr) {
        return qErrParam;
    }
    *count = 0;
    const uint8_t request[] = {INFO_SUBCLASS_QUANTITY, entityClass, subClass};
    return queryInformation(request, sizeof(request), count);
}

qErr Module::entityGroup(uint8_t entityClass, uint8_t index, uint8_t* group) {
    if (group == nullptr) {
        return qErrParam;
    }
    *group = 0;
    const uint8_t request[] = {INFO_ENTITY_GROUP, entityClass, index};
    return queryInformation(request, sizeof(request), group);
}

qErr Module::debug(const uint8_t* data, uint8_t length) {
    if (link == nullptr || !link->isConnected()) {
        return qErrConnection;
    }
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t replyLength = 0;
    qErr result = exchange(qCMD_ECHO, data, length, 1, reply, &replyLength);
    if (result != qErrNone) {
        return result;
    }
    if (replyLength != length + 1 || (length != 0 && memcmp(reply + 1, data, length) != 0)) {
        return qErrIO;
    }
    return qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
