// The writer thread: sends the outbound queue to the module, one packet per write, or with
// pooling as many queued packets as fit in one buffer per write.
#include "qDebugging.h"
#include "qLinkInternal.h"

namespace {

// The wait is cut into slices so that a stopping link is noticed soon even when nothing is sent.
constexpr uint32_t kAwaitSliceMs = 100;
constexpr size_t kPoolBufferSize = 4096;
// Room for one more packet of the largest size.
constexpr size_t kPoolFillLimit = kPoolBufferSize - qPACKET_MAX_WIRE;

size_t appendWireForm(const qPacket* packet, uint8_t* buffer, size_t capacity) {
    size_t written = 0;
    qPacket_GetBytes(packet, buffer, capacity, &written);
    return written;
}

void writeOne(qLinkObject* link, const qPacket* packet) {
    uint8_t wire[qPACKET_MAX_WIRE];
    size_t length = appendWireForm(packet, wire, sizeof wire);
    qErr err = qStream_Write(link->stream, wire, length);
    if (err != qErrNone) {
        qDebug_Print(qDEBUG_LINK, "sOutPipeProcess error writing: %d\n", err);
    }
}

void writePooled(qLinkObject* link, qPacket* first) {
    uint8_t buffer[kPoolBufferSize];
    size_t used = appendWireForm(first, buffer, sizeof buffer);
    qLink_LogPacket(link, qPACKETLOG_SENT, first);
    qPacket* next = nullptr;
    while (used <= kPoolFillLimit && (next = qPacketFifo_Get(link->outbound.load())) != nullptr) {
        used += appendWireForm(next, buffer + used, sizeof buffer - used);
        qLink_LogPacket(link, qPACKETLOG_SENT, next);
        qPacket_Destroy(&next);
    }
    qErr err = qStream_Write(link->stream, buffer, used);
    if (err != qErrNone) {
        qDebug_Print(qDEBUG_LINK, "sOutPipeProcess error writing pooled: %d\n", err);
    }
}

void sendPacket(qLinkObject* link, qPacket* packet) {
    qDebug_Print(qDEBUG_TRAFFIC, "qLink(%u) sending [%u, %u]\n", link->id, packet->address,
                 packet->dataSize);
    if (link->pooled.load() != 0) {
        writePooled(link, packet);
    } else {
        qLink_LogPacket(link, qPACKETLOG_SENT, packet);
        writeOne(link, packet);
    }
}

// What is still queued when the link stops (the route-off command among it) goes out too.
void sendRemaining(qLinkObject* link) {
    qPacket* packet = nullptr;
    while ((packet = qPacketFifo_Get(link->outbound.load())) != nullptr) {
        qLink_LogPacket(link, qPACKETLOG_SENT, packet);
        writeOne(link, packet);
        qPacket_Destroy(&packet);
    }
}

}  // namespace

void* sOutPipeProcess(void* argument) {
    qLinkObject* link = static_cast<qLinkObject*>(argument);
    link->writerStarted = 1;
    // The writer's next packet comes only after the module has answered the last one, so its
    // watching would hold a core that the module's side and the reader need just then.
    qPacketFifo_SetBriefWaits(false);
    while (link->running.load() != 0) {
        qPacket* packet = qPacketFifo_Await(link->outbound.load(), kAwaitSliceMs);
        if (packet != nullptr) {
            sendPacket(link, packet);
            qPacket_Destroy(&packet);
        }
    }
    sendRemaining(link);
    return nullptr;
}
