// Requests that change how the broker treats a client: stream subscriptions, and multi-packet
// UEI byte writes, which are collected and forwarded as one run so that the module never sees
// another client's packet in the middle of a write.
#include <algorithm>

#include "qDebugging.h"
#include "qServer_ZeroMQInternal.h"
#include "qUEI.h"

namespace {

constexpr uint8_t kStreamCommand = 93;
constexpr uint8_t kStreamEnableDataSize = 7;
constexpr uint8_t kStreamEnableOption = 0x81;

// Counts every pool down once per UEI packet and drops those already expired.
void ageOutPools(qServer* server) {
    std::list<qServerPool>& pools = *server->pools;
    for (auto pool = pools.begin(); pool != pools.end();) {
        if (pool->ttl == 0) {
            qDebug_Print(qDEBUG_SERVER, "setUEIBytes is stale, destroying\n");
            pool = pools.erase(pool);
        } else {
            pool->ttl--;
            ++pool;
        }
    }
}

bool opensPool(const qPacket* packet) {
    return packet->dataSize == qPACKET_MAX_DATA && qUEI_getBytesContinue(packet) &&
           qUEI_getBytesSequence(packet) == 0;
}

// The run goes out as it came; its last packet decides whether the module answers it.
void sendPool(qServer* server, std::list<qServerPool>::iterator pool, const qPacket* last) {
    bool lastSent = false;
    int number = 0;
    for (const std::string& wire : pool->packets) {
        qDebug_Print(qDEBUG_SERVER, "Pool Packet: %d\n", number++);
        lastSent = qServer_SendToSync(server, wire);
    }
    // The sync worker awaits a reply only for a packet it got and the module answers, and gives
    // the broker nothing for any other: a client queued for such a run would take the next
    // client's reply.
    if (lastSent && qServer_ExpectsReply(last)) {
        qServer_QueueForReply(server, pool->identity);
    }
    server->pools->erase(pool);
}

}  // namespace

void _handleStreamEnable(qServer* server, const std::string& identity, const qPacket* packet) {
    if (packet->dataSize != kStreamEnableDataSize || packet->data[0] != kStreamCommand ||
        packet->data[1] != kStreamEnableOption) {
        return;
    }
    std::vector<std::string>& clients = server->streamingClients;
    if (std::find(clients.begin(), clients.end(), identity) == clients.end()) {
        clients.push_back(identity);
        qDebug_Print(qDEBUG_SERVER, "Added stream entry\n");
    }
}

bool _handleSetUEIBytes(qServer* server, const std::string& identity, const qPacket* packet) {
    ageOutPools(server);
    // A route command must never reach the module from a client, not even as the end of a run.
    if (qServer_IsRouteCommand(packet)) {
        return false;
    }
    std::list<qServerPool>& pools = *server->pools;
    auto pool = std::find_if(pools.begin(), pools.end(),
                             [&identity](const qServerPool& p) { return p.identity == identity; });
    if (pool == pools.end()) {
        if (!opensPool(packet)) {
            return false;
        }
        pools.push_back(qServerPool{identity, qSERVER_POOL_TTL, 0, {qServer_WireOf(packet)}});
        return true;
    }
    uint8_t expected = (pool->lastSequence + 1) & qUEI_BYTES_SEQUENCE_MASK;
    if (qUEI_getBytesSequence(packet) != expected) {
        qDebug_Print(qDEBUG_SERVER, "BOOM: Sequence mix up. ttl will clean it up. ");
        return true;
    }
    pool->packets.push_back(qServer_WireOf(packet));
    if (qServer_ContinuesUEIBytes(packet)) {
        pool->lastSequence = expected;
    } else {
        sendPool(server, pool, packet);
    }
    return true;
}
