// Packet queues: thread-safe FIFOs of packet copies, addressed by handle. Each link has an
// inbound queue (filled by its reader thread) and an outbound queue (drained by its writer
// thread). Requests put one packet and await the first reply that a filter accepts.
//
// A queue holds at most 1000 packets: a put that would make it 1001 empties it instead, so an
// unread queue cannot grow without limit.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>

#include "qError.h"
#include "qPacket.h"

// Never 0; 0 means "no queue".
typedef uint64_t qPacketFifoHandle;

// Decides whether a queued packet is the one a caller wants: non-zero accepts it. reference is
// the caller's pointer, passed through unchanged. Filters run with the queue locked: they must
// not call back into the same queue. A null filter accepts nothing.
typedef uint8_t (*qPacketFilter)(const qPacket* packet, void* reference);

#define qPACKETFIFO_MAX_PACKETS 1000

// A new empty queue, or 0 on failure.
ZENDRIVAL_EXPORT qPacketFifoHandle qPacketFifo_Create();
// Empties the queue, wakes every waiter (they return null) and clears the caller's handle.
// qErrParam for a null pointer, qErrNotFound for an unknown handle.
ZENDRIVAL_EXPORT qErr qPacketFifo_Destroy(qPacketFifoHandle* handle);
// Packets waiting; 0 for an unknown handle.
ZENDRIVAL_EXPORT size_t qPacketFifo_GetLength(qPacketFifoHandle handle);
// Appends a copy; the caller keeps its packet. qErrParam for an unknown handle or an invalid
// packet, qErrResource when appending runs out of memory.
ZENDRIVAL_EXPORT qErr qPacketFifo_Put(qPacketFifoHandle handle, const qPacket* packet);
// Whether the calling thread's waits watch the queue for a moment before sleeping (the default).
// A thread whose packets are never awaited by anyone can leave the core to those that are.
ZENDRIVAL_EXPORT void qPacketFifo_SetBriefWaits(bool enabled);
// Appends copies of count packets at once, so that a reader finds them together (a multi-packet
// value then leaves in as few writes as pooling allows). Nothing is appended on an error.
ZENDRIVAL_EXPORT qErr qPacketFifo_PutAll(qPacketFifoHandle handle, const qPacket* const* packets,
                                         size_t count);

// Each of these returns a new packet that the caller releases with qPacket_Destroy, or null.
// The oldest packet, without waiting.
ZENDRIVAL_EXPORT qPacket* qPacketFifo_Get(qPacketFifoHandle handle);
// The oldest packet, waiting up to timeoutMs for one to arrive.
ZENDRIVAL_EXPORT qPacket* qPacketFifo_Await(qPacketFifoHandle handle, uint32_t timeoutMs);
// Waits up to timeoutMs until a packet is queued and says whether one is, taking nothing: for a
// consumer that must take its packets under a lock of its own but not sleep holding it.
ZENDRIVAL_EXPORT bool qPacketFifo_AwaitAny(qPacketFifoHandle handle, uint32_t timeoutMs);
// The oldest packet the filter accepts, without waiting.
ZENDRIVAL_EXPORT qPacket* qPacketFifo_GetFirst(qPacketFifoHandle handle, qPacketFilter filter,
                                               void* reference);
// The oldest packet the filter accepts, waiting up to timeoutMs. During one call the filter sees
// each packet at most once, in arrival order.
ZENDRIVAL_EXPORT qPacket* qPacketFifo_AwaitFirst(qPacketFifoHandle handle, qPacketFilter filter,
                                                 void* reference, uint32_t timeoutMs);

// Removes and releases every packet the filter accepts; returns how many.
ZENDRIVAL_EXPORT size_t qPacketFifo_DrainPackets(qPacketFifoHandle handle, qPacketFilter filter,
                                                 void* reference);
