// UEI exchanges of one entity: get (answered from the stream cache when possible), set
// (acknowledged by the module), call, and the store-entity requests.
#include "Entity.h"

#include "Module.h"
#include "qUEI.h"

namespace Pelmorax {
namespace Zendrival {

namespace {

// What the module's store entity does with an entity's settings.
enum StoreRequest : uint8_t { STORE_SAVE = 0, STORE_RESET_TO_FACTORY = 1, STORE_LOAD = 2 };
constexpr uint8_t SET_REPLY = qUEI_OPTION_GET | qUEI_OPTION_SET;

bool isErrorReply(const uei& reply) {
    return (reply.specifier & qUEI_INDEX_ERROR) != 0;
}

// An error reply carries the module's code in place of the value.
qErr replyResult(qErr received, const uei& reply) {
    if (received == qErrNone && isErrorReply(reply)) {
        return static_cast<qErr>(reply.value.u8);
    }
    return received;
}

bool hasValue(qErr result) {
    return result == qErrNone || result == qErrStreamStale;
}

uei numeric(ueiType type, uint32_t value) {
    uei request;
    request.type = type;
    switch (type) {
        case ueiTypeByte:
            request.value.u8 = static_cast<uint8_t>(value);
            break;
        case ueiTypeShort:
            request.value.u16 = static_cast<uint16_t>(value);
            break;
        default:
            request.value.u32 = value;
            break;
    }
    return request;
}

}  // namespace

struct EntityClass::impl {
    Module* module = nullptr;
    uint8_t command = 0;
    uint8_t index = 0;
};

EntityClass::EntityClass() : m_impl(std::make_unique<impl>()) {}

EntityClass::~EntityClass() = default;

void EntityClass::init(Module* module, uint8_t command, uint8_t index) {
    m_impl->module = module;
    m_impl->command = command;
    m_impl->index = index;
}

uint8_t EntityClass::getIndex() const {
    return m_impl->index;
}
uint8_t EntityClass::getCommand() const {
    return m_impl->command;
}
Module* EntityClass::getModule() const {
    return m_impl->module;
}

Link* EntityClass::boundLink() const {
    return m_impl->module != nullptr ? m_impl->module->getLink() : nullptr;
}

qErr EntityClass::onLink(const std::function<qErr(Link& link, uint8_t module)>& call) const {
    Link* link = boundLink();
    if (link == nullptr) {
        return qErrResource;
    }
    return call(*link, m_impl->module->getModuleAddress());
}

void EntityClass::addressRequest(uei* request, uint8_t module, uint8_t option) const {
    request->module = module;
    request->command = m_impl->command;
    request->option = option;
    request->specifier = m_impl->index | qUEI_INDEX_REQUEST;
}

qErr EntityClass::sendPacket(uint8_t command, uint8_t length, const uint8_t* data) {
    return onLink(
        [&](Link& link, uint8_t module) { return link.sendPacket(module, command, length, data); });
}

qErr EntityClass::receivePacket(const uint8_t* pattern, uint8_t* length, uint8_t* data) {
    return onLink([&](Link& link, uint8_t module) {
        return link.receivePacket(module, pattern, length, data);
    });
}

qErr EntityClass::getUEI(uint8_t option, uei* value) {
    return onLink([&](Link& link, uint8_t module) {
        if (value == nullptr) {
            return qErrParam;
        }
        const uint8_t subIndex = value->type == ueiTypeByte ? value->value.u8 : 0;
        uint32_t cached = 0;
        qErr result =
            link.getStreamValue(module, m_impl->command, option, m_impl->index, subIndex, &cached);
        if (result != qErrNotFound) {
            if (hasValue(result)) {
                value->value.u32 = cached;
            }
            return result;
        }
        addressRequest(value, module, option | qUEI_OPTION_GET);
        result = link.sendUEI(*value);
        if (result != qErrNone) {
            return result;
        }
        return replyResult(link.receiveUEI(module, m_impl->command, option, m_impl->index, value),
                           *value);
    });
}

qErr EntityClass::setUEI(uint8_t option, uei* value) {
    return sendSet(option, value, nullptr);
}

qErr EntityClass::setUEI(uint8_t option, uint8_t subIndex, uei* value) {
    return sendSet(option, value, &subIndex);
}

// A set, with or without a sub-index, succeeds only when the module acknowledges it.
qErr EntityClass::sendSet(uint8_t option, uei* value, const uint8_t* subIndex) {
    return onLink([&](Link& link, uint8_t module) {
        if (value == nullptr) {
            return qErrParam;
        }
        addressRequest(value, module, option | qUEI_OPTION_SET);
        const qErr result =
            subIndex != nullptr ? link.sendUEI(*value, *subIndex) : link.sendUEI(*value);
        if (result != qErrNone) {
            return result;
        }
        return replyResult(
            link.receiveUEI(module, m_impl->command, option | SET_REPLY, m_impl->index, value),
            *value);
    });
}

qErr EntityClass::callUEI(uint8_t option) {
    uei request;
    return setUEI(option, &request);
}

qErr EntityClass::setUEI8(uint8_t option, uint8_t value) {
    uei request = numeric(ueiTypeByte, value);
    return setUEI(option, &request);
}

qErr EntityClass::setUEI16(uint8_t option, uint16_t value) {
    uei request = numeric(ueiTypeShort, value);
    return setUEI(option, &request);
}

qErr EntityClass::setUEI32(uint8_t option, uint32_t value) {
    uei request = numeric(ueiTypeInt, value);
    return setUEI(option, &request);
}

qErr EntityClass::setUEI8(uint8_t option, uint8_t subIndex, uint8_t value) {
    uei request = numeric(ueiTypeByte, value);
    return setUEI(option, subIndex, &request);
}

qErr EntityClass::setUEI16(uint8_t option, uint8_t subIndex, uint16_t value) {
    uei request = numeric(ueiTypeShort, value);
    return setUEI(option, subIndex, &request);
}

qErr EntityClass::setUEI32(uint8_t option, uint8_t subIndex, uint32_t value) {
    uei request = numeric(ueiTypeInt, value);
    return setUEI(option, subIndex, &request);
}

qErr EntityClass::setUEIBytes(uint8_t option, const uint8_t* data, size_t length) {
    uei request;
    request.type = ueiTypeBytes;
    request.value.bytes.data = data;
    request.value.bytes.bytesLength = length;
    return setUEI(option, &request);
}

namespace {

// A get whose reply value is narrowed to the width of the output.
template <typename T>
qErr typedGet(EntityClass& entity, uint8_t option, uei request, T* out) {
    if (out == nullptr) {
        return qErrParam;
    }
    const qErr result = entity.getUEI(option, &request);
    if (hasValue(result)) {
        *out = static_cast<T>(request.value.u32);
    }
    return result;
}

uei withSubIndex(uint8_t subIndex) {
    uei request;
    request.type = ueiTypeByte;
    request.value.u8 = subIndex;
    return request;
}

}  // namespace

qErr EntityClass::getUEI8(uint8_t option, uint8_t* value) {
    return typedGet(*this, option, uei(), value);
}

qErr EntityClass::getUEI16(uint8_t option, uint16_t* value) {
    return typedGet(*this, option, uei(), value);
}

qErr EntityClass::getUEI32(uint8_t option, uint32_t* value) {
    return typedGet(*this, option, uei(), value);
}

qErr EntityClass::getUEI8(uint8_t option, uint8_t subIndex, uint8_t* value) {
    return typedGet(*this, option, withSubIndex(subIndex), value);
}

qErr EntityClass::getUEI16(uint8_t option, uint8_t subIndex, uint16_t* value) {
    return typedGet(*this, option, withSubIndex(subIndex), value);
}

qErr EntityClass::getUEI32(uint8_t option, uint8_t subIndex, uint32_t* value) {
    return typedGet(*this, option, withSubIndex(subIndex), value);
}

qErr EntityClass::awaitUEI32Val(uint8_t option, uint32_t* value, uint32_t /*unused*/) {
    if (value == nullptr) {
        return qErrParam;
    }
    return onLink([&](Link& link, uint8_t module) {
        uei reply;
        const qErr result = link.receiveUEI(module, m_impl->command, option, m_impl->index, &reply);
        if (result != qErrNone || isErrorReply(reply)) {
            return replyResult(result, reply);
        }
        *value = reply.value.u32;
        return qErrNone;
    });
}

qErr EntityClass::drainUEI(uint8_t option) {
    return onLink([&](Link& link, uint8_t module) {
        return link.dropMatchingUEIPackets(module, m_impl->command, option, m_impl->index);
    });
}

qErr EntityClass::setStreamEnabled(bool enable) {
    return onLink([&](Link& link, uint8_t module) {
        return link.enableStream(module, m_impl->command, Link::STREAM_ANY, m_impl->index, enable);
    });
}

qErr EntityClass::registerOptionCallback(uint8_t option, bool enable, StreamCallback callback,
                                         void* context) {
    return onLink([&](Link& link, uint8_t module) {
        return link.registerStreamCallback(module, m_impl->command, option, m_impl->index, enable,
                                           std::move(callback), context);
    });
}

qErr EntityClass::getStreamStatus(Link::StreamStatusEntry* entries, size_t count, size_t* filled) {
    return onLink([&](Link& link, uint8_t module) {
        return link.getStreamStatus(module, m_impl->command, Link::STREAM_ANY, m_impl->index,
                                    Link::STREAM_ANY, entries, count, filled);
    });
}

qErr EntityClass::storeEntityRequest(uint8_t option) {
    if (boundLink() == nullptr) {
        return qErrResource;
    }
    EntityClass store;
    store.init(m_impl->module, qCMD_STORE_ENTITY, 0);
    return store.setUEI32(option, (static_cast<uint32_t>(m_impl->command) << 8) | m_impl->index);
}

qErr EntityClass::saveEntityToStore() {
    return storeEntityRequest(STORE_SAVE);
}

qErr EntityClass::resetEntityToFactoryDefaults() {
    return storeEntityRequest(STORE_RESET_TO_FACTORY);
}

qErr EntityClass::loadEntityFromStore() {
    return storeEntityRequest(STORE_LOAD);
}

uint8_t EntityClass::getUEIBytesSequence(const qPacket* packet) {
    return qUEI_getBytesSequence(packet);
}

bool EntityClass::getUEIBytesContinue(const qPacket* packet) {
    return qUEI_getBytesContinue(packet);
}

qErr EntityClass::getUEIBytesCheck(size_t* count, size_t elementSize) {
    if (count == nullptr || elementSize == 0) {
        return qErrParam;
    }
    if (*count % elementSize != 0) {
        return qErrMemory;
    }
    *count /= elementSize;
    return qErrNone;
}

}  // namespace Zendrival
}  // namespace Pelmorax
