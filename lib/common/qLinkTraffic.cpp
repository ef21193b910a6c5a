// Traffic of a link: packets to the module through the outbound queue, packets from it out of
// the inbound queue, the route command and the module queries. Each call holds the link object
// for its duration; a link destroyed meanwhile has released its queues, whose handles the queue
// then no longer knows.
#include "qLink.h"

#include "qLinkInternal.h"
#include "qLinkManagerInternal.h"

namespace {

constexpr uint32_t kQueryTimeoutMs = 1000;
// Model query: system command, get of option 8, request for index 0.
constexpr uint8_t kModelOption = 8;
constexpr uint8_t kModelQuery[] = {qCMD_SYSTEM, qUEI_OPTION_GET | kModelOption,
                                   qUEI_INDEX_REQUEST | 0};

qPacketFifoHandle inboundOf(qLinkID id) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    return link != nullptr ? link->inbound.load() : 0;
}

// Sends one query packet and takes the next packet that comes back; accept reads the answer.
template <typename Accept>
qErr queryModule(qLinkID id, uint8_t address, uint8_t length, const uint8_t* data, Accept accept) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr) {
        return qErrParam;
    }
    qErr err = qLink_QueueOutbound(link.get(), address, length, data);
    if (err != qErrNone) {
        return err;
    }
    qPacket* reply = qLink_AwaitPacket(id, kQueryTimeoutMs);
    if (reply == nullptr) {
        return qErrTimeout;
    }
    err = accept(*reply) ? qErrNone : qErrIO;
    qPacket_Destroy(&reply);
    return err;
}

}  // namespace

uint8_t qLink_AcceptAll(const qPacket* packet, void* reference) {
    (void)packet;
    (void)reference;
    return 1;
}

qErr qLink_QueueOutbound(qLinkObject* link, uint8_t address, uint8_t length, const uint8_t* data) {
    static const uint8_t none = 0;
    qPacket* packet = qPacket_CreateWithData(address, length, data != nullptr ? data : &none);
    if (packet == nullptr) {
        return qErrMemory;
    }
    qErr err = qPacketFifo_Put(link->outbound.load(), packet);
    qPacket_Destroy(&packet);
    return err;
}

qErr qLink_PutPacket(qLinkID id, const qPacket* packet) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    return link != nullptr ? qPacketFifo_Put(link->outbound.load(), packet) : qErrParam;
}

qErr qLink_PutPackets(qLinkID id, const qPacket* const* packets, size_t count) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    return link != nullptr ? qPacketFifo_PutAll(link->outbound.load(), packets, count) : qErrParam;
}

qErr qLink_SendPackets(qLinkID id, const qPacket* const* packets, size_t count) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr) {
        return qErrParam;
    }
    if (packets != nullptr && qLink_WriteIfIdle(link.get(), packets, count)) {
        return qErrNone;
    }
    return qPacketFifo_PutAll(link->outbound.load(), packets, count);
}

qPacket* qLink_GetPacket(qLinkID id) {
    return qPacketFifo_Get(inboundOf(id));
}

qPacket* qLink_AwaitPacket(qLinkID id, uint32_t timeoutMs) {
    return qPacketFifo_Await(inboundOf(id), timeoutMs);
}

qPacket* qLink_GetFirst(qLinkID id, qPacketFilter filter, void* reference) {
    return qPacketFifo_GetFirst(inboundOf(id), filter, reference);
}

size_t qLink_DrainPackets(qLinkID id, qPacketFilter filter, void* reference) {
    return qPacketFifo_DrainPackets(inboundOf(id), filter, reference);
}

qPacket* qLink_AwaitFirst(qLinkID id, qPacketFilter filter, void* reference, uint32_t timeoutMs) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    return link != nullptr ? qLink_AwaitFirstReading(link.get(), filter, reference, timeoutMs)
                           : nullptr;
}

qErr qLink_InstallUserPacketFilter(qLinkID id, qPacketFilter filter, void* reference) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr || link->userFilterMutex == nullptr) {
        return qErrParam;
    }
    qErr err = qMutex_Lock(link->userFilterMutex);
    if (err != qErrNone) {
        return err;
    }
    link->userFilter = filter;
    link->userFilterReference = filter != nullptr ? reference : nullptr;
    return qMutex_Unlock(link->userFilterMutex);
}

qErr qLink_EnablePooledPackets(qLinkID id, bool pooled) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr) {
        return qErrParam;
    }
    link->pooled = pooled ? 1 : 0;
    return qErrNone;
}

qErr qLink_ForceRoute(qLinkID id, uint8_t route) {
    qLinkEntryRef entry = sLookupEntryByID(id);
    if (entry == nullptr) {
        return qErrNotFound;
    }
    if (!qVALIDLINK(entry->link)) {
        return qErrParam;
    }
    return qLink_QueueOutbound(entry->link.get(), qADDRESS_ROUTE, 1, &route);
}

uint32_t qLink_GetStatus(qLinkID id) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    return link != nullptr ? link->status.load() : qLINK_STATUS_INVALID;
}

qErr _qLink_GetModuleAddress(qLinkID id, uint8_t* address) {
    if (address == nullptr) {
        return qErrParam;
    }
    // The module answers the magic request with an empty packet from its own address.
    return queryModule(id, qADDRESS_MAGIC, 0, nullptr, [address](const qPacket& reply) {
        if (reply.dataSize != 0 || reply.address == 0) {
            return false;
        }
        *address = reply.address;
        return true;
    });
}

qErr _qLink_GetModel(qLinkID id, uint8_t address, uint8_t* model) {
    if (model == nullptr) {
        return qErrParam;
    }
    return queryModule(id, address, sizeof kModelQuery, kModelQuery, [&](const qPacket& reply) {
        if (reply.address != address || reply.dataSize != 4 || reply.data[0] != qCMD_SYSTEM) {
            return false;
        }
        *model = reply.data[3];
        return true;
    });
}
