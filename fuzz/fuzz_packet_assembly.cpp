// Fuzzes the receive side of the packet format: bytes from a module are assembled into packets the
// way a link's reader does it (restart on a refused byte or an odd address), and every complete
// packet goes through the queries, the wire form, a copy and a packet queue.
#include <cstdint>
#include <cstdlib>

#include "packetfifo.h"
#include "qPacket.h"
#include "qUEI.h"

namespace {

uint8_t acceptOdd(const qPacket* packet, void*) {
    return packet->dataSize & 1;
}

void examine(const qPacket* packet, qPacketFifoHandle queue) {
    uint8_t value = 0;
    qPacket_GetCmd(packet, &value);
    qPacket_GetOption(packet, &value);
    qPacket_GetIndex(packet, &value);
    qUEI_isUEIPayload(packet);
    qUEI_isStreamPacket(packet);
    qUEI_getBytesSequence(packet);
    qUEI_getBytesContinue(packet);
    uint8_t wire[qPACKET_MAX_WIRE];
    size_t written = 0;
    if (qPacket_GetBytes(packet, wire, sizeof wire, &written) != qErrNone ||
        written != size_t(packet->dataSize) + 2 || wire[0] != packet->address) {
        abort();
    }
    qPacketFifo_Put(queue, packet);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qPacketFifoHandle queue = qPacketFifo_Create();
    qPacket* packet = qPacket_Create();
    for (size_t i = 0; i < size; ++i) {
        if (qPacket_AddByte(packet, data[i]) != qErrNone || (packet->address & 1) != 0) {
            qPacket_Reset(packet);
            continue;
        }
        if (qPacket_IsComplete(packet)) {
            examine(packet, queue);
            qPacket_Reset(packet);
        }
    }
    qPacketFifo_DrainPackets(queue, acceptOdd, nullptr);
    while (qPacket* queued = qPacketFifo_Get(queue)) {
        qPacket_Destroy(&queued);
    }
    qPacket_Destroy(&packet);
    qPacketFifo_Destroy(&queue);
    return 0;
}
