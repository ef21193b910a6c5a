// Stream samples leave the published link in batches, sent at each heartbeat or once about 4 KB
// have gathered, to keep the number of messages low.
#include <cstring>

#include "qServer_ZeroMQInternal.h"
#include "qUEI.h"

namespace {

bool isHeartbeat(const qPacket* packet) {
    return packet->dataSize == 2 && packet->data[0] == qCMD_HEARTBEAT;
}

}  // namespace

uint8_t _streamingPacketFilter(const qPacket* packet, void* reference) {
    qServer* server = static_cast<qServer*>(reference);
    if (server == nullptr || packet == nullptr) {
        return 0;
    }
    uint8_t consumed = 0;
    if (qUEI_isStreamPacket(packet)) {
        size_t written = 0;
        if (qPacket_GetBytes(packet, server->batch + server->batchLength,
                             sizeof server->batch - server->batchLength, &written) == qErrNone) {
            server->batchLength += written;
        }
        consumed = 1;
    }
    bool due = isHeartbeat(packet) || server->batchLength > qSERVER_BATCH_LIMIT;
    if (due && server->batchLength > 0) {
        zmq_send(zsock_resolve(server->streamingFilter), server->batch, server->batchLength,
                 ZMQ_DONTWAIT);
        server->batchLength = 0;
    }
    return consumed;
}
