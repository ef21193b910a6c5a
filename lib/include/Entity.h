// An entity is one function block of a module, named by the module, its command byte (the entity
// class) and its index. Every option of an entity is read, written or invoked by one UEI exchange;
// this base class implements those exchanges once for all entity classes.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "Link.h"
#include "UEIRecord.h"
#include "qError.h"
#include "qPacket.h"

namespace Pelmorax {
namespace Zendrival {

class Module;

class ZENDRIVAL_EXPORT EntityClass {
  public:
    struct impl;

    EntityClass();
    virtual ~EntityClass();
    EntityClass(const EntityClass&) = delete;
    EntityClass& operator=(const EntityClass&) = delete;

    // Binds the entity; the module is not owned and must outlive the entity.
    void init(Module* module, uint8_t command, uint8_t index);
    uint8_t getIndex() const;
    uint8_t getCommand() const;
    Module* getModule() const;

    // Raw packets to the entity's module (Link::sendPacket / receivePacket).
    qErr sendPacket(uint8_t command, uint8_t length, const uint8_t* data);
    qErr receivePacket(const uint8_t* pattern, uint8_t* length, uint8_t* data);

    // Get: answered from the link's stream cache when it holds a sample, else asked. A byte-typed
    // request carries its value as a sub-index.
    qErr getUEI(uint8_t option, uei* value);
    // Set: succeeds only when the module acknowledges it.
    qErr setUEI(uint8_t option, uei* value);
    qErr setUEI(uint8_t option, uint8_t subIndex, uei* value);
    qErr callUEI(uint8_t option);
    qErr setUEI8(uint8_t option, uint8_t value);
    qErr setUEI16(uint8_t option, uint16_t value);
    qErr setUEI32(uint8_t option, uint32_t value);
    qErr setUEI8(uint8_t option, uint8_t subIndex, uint8_t value);
    qErr setUEI16(uint8_t option, uint8_t subIndex, uint16_t value);
    qErr setUEI32(uint8_t option, uint8_t subIndex, uint32_t value);
    qErr setUEIBytes(uint8_t option, const uint8_t* data, size_t length);
    // The output is written on qErrNone and on qErrStreamStale (an old streamed value).
    qErr getUEI8(uint8_t option, uint8_t* value);
    qErr getUEI16(uint8_t option, uint16_t* value);
    qErr getUEI32(uint8_t option, uint32_t* value);
    qErr getUEI8(uint8_t option, uint8_t subIndex, uint8_t* value);
    qErr getUEI16(uint8_t option, uint8_t subIndex, uint16_t* value);
    qErr getUEI32(uint8_t option, uint8_t subIndex, uint32_t* value);
    // Multi-packet get into buffer; qErrMemory (keeping what fitted) when capacity is too small.
    qErr getUEIBytes(uint8_t option, uint8_t* buffer, size_t capacity, size_t* length);
    // Turns a byte count into a count of elementSize elements; qErrMemory when it does not divide.
    static qErr getUEIBytesCheck(size_t* count, size_t elementSize);
    static uint8_t getUEIBytesSequence(const qPacket* packet);
    static bool getUEIBytesContinue(const qPacket* packet);
    // Waits (1 s) for a reply or unsolicited value of the option without sending anything.
    qErr awaitUEI32Val(uint8_t option, uint32_t* value, uint32_t unused);
    qErr drainUEI(uint8_t option);

    // Streaming of every option of the entity, or callbacks for one option.
    qErr setStreamEnabled(bool enable);
    qErr registerOptionCallback(uint8_t option, bool enable, StreamCallback callback,
                                void* context);
    qErr getStreamStatus(Link::StreamStatusEntry* entries, size_t count, size_t* filled);

    // The module's store entity keeps, restores or resets this entity's settings.
    qErr saveEntityToStore();
    qErr resetEntityToFactoryDefaults();
    qErr loadEntityFromStore();

  private:
    qErr sendSet(uint8_t option, uei* value, const uint8_t* subIndex);
    // The link of a bound module, or null.
    Link* boundLink() const;
    // Runs call with the bound module's link and bus address; qErrResource when unbound.
    qErr onLink(const std::function<qErr(Link& link, uint8_t module)>& call) const;
    // Addresses a request to this entity; option carries its get or set bit.
    void addressRequest(uei* request, uint8_t module, uint8_t option) const;
    qErr storeEntityRequest(uint8_t option);

    std::unique_ptr<impl> m_impl;
};

}  // namespace Zendrival
}  // namespace Pelmorax
