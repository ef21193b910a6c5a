// A waiter's place in a packet queue across several waits, for a caller that waits in pieces (the
// link's awaiting caller, which reads the stream between looks at its queue) but must still offer
// each packet to its filter only once.
#pragma once

#include <cstdint>

#include "packetfifo.h"

struct qPacketFifoCursor {
    // The queue the mark belongs to; 0 before the first wait.
    qPacketFifoHandle queue = 0;
    // Packets of that queue up to this id were offered already.
    int64_t lastOffered = 0;
};

// As qPacketFifo_AwaitFirst, but the packets that earlier calls with the same cursor offered to
// the filter are not offered again. A cursor of another queue (a link's queue replaced by a reset)
// starts afresh with this one.
qPacket* qPacketFifo_AwaitFirstNew(qPacketFifoHandle handle, qPacketFilter filter, void* reference,
                                   uint32_t timeoutMs, qPacketFifoCursor* cursor);
