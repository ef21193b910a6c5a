// Module information (build, supported UEIs, entity counts and groups) and the echo test. These
// are raw requests under command 73 (23 for echo) whose replies echo the request before the answer.
#include <cstring>

#include "Module.h"
#include "qUEI.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

// The first data byte after the module-information command: what is asked.
enum InformationQuery : uint8_t {
    INFO_HAS_UEI = 1,
    INFO_CLASS_QUANTITY = 4,
    INFO_SUBCLASS_QUANTITY = 5,
    INFO_ENTITY_GROUP = 6,
    INFO_BUILD = 255,
};
constexpr uint8_t HAS_UEI_RESERVED_FLAGS = 0x3F;
constexpr uint8_t HAS_UEI_EXCLUSIVE_FLAGS = 0xC0;
constexpr uint8_t BUILD_REPLY_LENGTH = 6;

struct ModuleReply {
    qErr result = qErrNone;
    uint8_t length = 0;
    uint8_t data[qPACKET_MAX_DATA] = {};
};

// Sends command followed by the request bytes and awaits the reply whose first matchLength data
// bytes are the command and the request's first matchLength - 1 bytes; the reply holds all of its
// data bytes.
ModuleReply exchange(Link& link, uint8_t address, uint8_t command, const uint8_t* request,
                     uint8_t length, uint8_t matchLength) {
    ModuleReply reply;
    if (!link.isConnected()) {
        reply.result = qErrConnection;
        return reply;
    }
    reply.result = link.sendPacket(address, command, length, request);
    if (reply.result != qErrNone) {
        return reply;
    }
    uint8_t pattern[qPACKET_MAX_DATA] = {command};
    if (matchLength > 1) {
        memcpy(pattern + 1, request, static_cast<size_t>(matchLength - 1));
    }
    reply.length = matchLength;
    reply.result = link.receivePacket(address, pattern, &reply.length, reply.data);
    return reply;
}

// request holds the data bytes after the command byte; the reply must repeat command and
// request, followed by one answer byte.
qErr queryInformation(Link& link, uint8_t address, const uint8_t* request, uint8_t length,
                      uint8_t* answer) {
    const ModuleReply reply = exchange(link, address, qCMD_MODULE_INFO, request, length, 1);
    if (reply.result != qErrNone) {
        return reply.result;
    }
    if (reply.length != length + 2 || memcmp(reply.data + 1, request, length) != 0) {
        return qErrUnknown;
    }
    *answer = reply.data[length + 1];
    return qErrNone;
}

}  // namespace

qErr Module::getBuild(uint32_t* build) {
    if (build == nullptr) {
        return qErrParam;
    }
    const uint8_t request[] = {INFO_BUILD};
    // The reply must repeat both the command and the build query byte.
    const ModuleReply reply =
        exchange(*link, address, qCMD_MODULE_INFO, request, sizeof(request), 2);
    if (reply.result != qErrNone) {
        return reply.result;
    }
    if (reply.length != BUILD_REPLY_LENGTH) {
        return qErrSize;
    }
    *build = qUEI_RetrieveInt(reply.data + 2);
    return qErrNone;
}

qErr Module::hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t flags) {
    if ((flags & HAS_UEI_RESERVED_FLAGS) != 0 ||
        (flags & HAS_UEI_EXCLUSIVE_FLAGS) == HAS_UEI_EXCLUSIVE_FLAGS) {
        return qErrParam;
    }
    const uint8_t request[] = {INFO_HAS_UEI, command, option, index, flags};
    // The request's last byte (the flags) is answered in place, so only four bytes are echoed.
    const ModuleReply reply =
        exchange(*link, address, qCMD_MODULE_INFO, request, sizeof(request), 1);
    if (reply.result != qErrNone) {
        return reply.result;
    }
    if (reply.length != sizeof(request) + 1 || memcmp(reply.data + 1, request, 4) != 0) {
        return qErrUnknown;
    }
    return static_cast<qErr>(reply.data[5]);
}

qErr Module::classQuantity(uint8_t entityClass, uint8_t* count) {
    if (count == nullptr) {
        return qErrParam;
    }
    *count = 0;
    const uint8_t request[] = {INFO_CLASS_QUANTITY, entityClass};
    return queryInformation(*link, address, request, sizeof(request), count);
}

qErr Module::subClassQuantity(uint8_t entityClass, uint8_t subClass, uint8_t* count) {
    if (count == nullptr) {
        return qErrParam;
    }
    *count = 0;
    const uint8_t request[] = {INFO_SUBCLASS_QUANTITY, entityClass, subClass};
    return queryInformation(*link, address, request, sizeof(request), count);
}

qErr Module::entityGroup(uint8_t entityClass, uint8_t index, uint8_t* group) {
    if (group == nullptr) {
        return qErrParam;
    }
    *group = 0;
    const uint8_t request[] = {INFO_ENTITY_GROUP, entityClass, index};
    return queryInformation(*link, address, request, sizeof(request), group);
}

qErr Module::debug(const uint8_t* data, uint8_t length) {
    const ModuleReply reply = exchange(*link, address, qCMD_ECHO, data, length, 1);
    if (reply.result != qErrNone) {
        return reply.result;
    }
    if (reply.length != length + 1 || (length != 0 && memcmp(reply.data + 1, data, length) != 0)) {
        return qErrIO;
    }
    return qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
