// The link object behind a link id and the procedures its parts share: the reader and writer
// threads, the synchronisation procedure and the packet log.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "packetfifo.h"
#include "qLink.h"
#include "qPacket.h"
#include "qPacketDebug.h"
#include "qStream.h"
#include "qUEI.h"
#include "unix_mutex.h"
#include "unix_thread.h"

// Sync requests sent each time the packet boundaries are looked for.
constexpr int qLINK_SYNC_REQUESTS = 6;

// Sync states, in the order they are passed: not synchronising, requests being sent, requests
// out, then the answer's address, length and second address seen.
enum qSyncState : uint32_t {
    qSYNC_IDLE,
    qSYNC_SENDING,
    qSYNC_REQUESTED,
    qSYNC_GOT_ADDRESS,
    qSYNC_GOT_LENGTH,
    qSYNC_GOT_SECOND_ADDRESS
};

struct qLinkObject {
    // Cleared when the link is destroyed, while other holders of it may still look.
    std::atomic<uint16_t> check;
    qLinkID id;
    // Status, running and the started flags are written by one thread and polled by another.
    std::atomic<uint8_t> running;
    std::atomic<uint32_t> status;
    // Replaced by a reset while other threads may be reading them.
    std::atomic<qPacketFifoHandle> inbound;
    std::atomic<qPacketFifoHandle> outbound;
    // Under the read lock.
    qPacket* receivePacket;
    qThread* readerThread;
    qThread* writerThread;
    qThreadProc readerProc;
    qThreadProc writerProc;
    std::atomic<uint8_t> readerStarted;
    std::atomic<uint8_t> writerStarted;
    qStream* stream;
    std::atomic<uint32_t> syncState;
    uint8_t syncAddress;
    // When the last six sync requests went out, to pace repeats while the module is silent.
    std::chrono::steady_clock::time_point syncStartedAt;
    std::atomic<qPacketLog*> packetLog;
    uint32_t logSize;
    qMutex* logMutex;
    qPacketFilter userFilter;
    void* userFilterReference;
    qMutex* userFilterMutex;
    std::atomic<uint8_t> pooled;
    // Every write to the stream happens under this lock: the writer thread's, and a caller's that
    // sends its packets itself (qLink_SendPackets). The writer takes a packet off the outbound
    // queue only while holding it, so a holder that finds the queue empty knows that everything
    // queued before has been written. The stream is replaced and closed under it too.
    std::mutex writeLock;
    // Bytes are taken from the stream and handled only under this lock: by the reader thread, or
    // by a caller of qLink_AwaitFirst that reads its reply itself. The stream is replaced and
    // closed under it too, taken together with the write lock (a reading caller's user filter may
    // send, so neither lock is taken before the other).
    std::mutex readLock;
    // Until this time (steady clock, in ns) the reader thread leaves the reading to the callers,
    // unless a waiter relies on it. It waits for that on the condition; a waiter that comes to
    // rely on it, or a stop, ends the wait.
    std::atomic<int64_t> callersReadUntilNs{0};
    std::mutex standByLock;
    std::condition_variable standByEnded;
    // Callers waiting on the inbound queue for a packet that only the reader thread can read for
    // them now (their time is too short to read, the link resynchronises, or the stream's get
    // waits long): the reader thread does not stand by while there are any.
    std::atomic<uint32_t> callersAwaitingReader{0};
    // A caller's get met something that only the reader thread acts on (a dropped connection, a
    // failure): callers leave the reading to the reader thread until it has read a byte again.
    std::atomic<bool> readingHandedBack{false};
    // Complete packets handled so far (counted under the read lock): tells a caller that one came.
    std::atomic<uint64_t> packetsHandled{0};
    // The stream's longest wait for a byte (qStream::getWaitMs), kept where callers can read it
    // without the read lock.
    std::atomic<uint32_t> streamGetWaitMs{qSTREAM_GET_WAIT_LIMIT_MS};
};

#define qVALIDLINK(l) ((l) != nullptr && (l)->check == qLINK_CHECK)

// A fresh, uninitialised link object. What it owns beyond its threads, queues and stream (the
// receive packet, the user filter, the packet log and their mutexes) goes with its last holder.
std::shared_ptr<qLinkObject> qLink_NewObject();
// The link object of an id, or null for an unknown id or a link not (or no longer) initialised.
// The reference keeps the object valid after a destroy by another thread.
std::shared_ptr<qLinkObject> qLink_Lookup(qLinkID id);
// Stops the threads; the route-0 command goes out before the writer ends.
qErr qLink_Stop(qLinkObject* link);

// Thread bodies (argument: the link object). The threads get the bare object: qLink_Stop joins
// them before the destroyer lets go of its reference, and the release of the object never joins
// a thread, so no thread can end up waiting for itself.
void* sInPipeProcess(void* argument);
void* sOutPipeProcess(void* argument);

// The reader thread's body in parts: the state it starts from, and one pass of its loop (read at
// most one byte and act on it, or on its absence; the result is the read's).
void qLink_ReaderBegin(qLinkObject* link);
qErr qLink_ReaderStep(qLinkObject* link);

// Feeds one received byte to the synchronisation procedure or the packet being received, as the
// link's status says (with the read lock held).
void qLink_HandleByte(qLinkObject* link, uint8_t byte);

// Queues the six sync requests; status becomes synchronising.
void qLink_StartSync(qLinkObject* link);
// Feeds one received byte to the synchronisation procedure.
void qLink_SyncByte(qLinkObject* link, uint8_t byte);
// Handles a complete received packet: log, user filter, heartbeat answer, inbound queue.
qErr qLink_HandleReceivedPacket(qLinkObject* link, const qPacket* packet);

// Logs a packet in its wire form when the link has a packet log.
void qLink_LogPacket(qLinkObject* link, uint8_t type, const qPacket* packet);
// Creates the packet log mutex if missing; qErrResource when it cannot be made.
qErr qLink_EnsureLogMutex(qLinkObject* link);
// Releases the packet log and its mutex (threads stopped).
void qLink_DestroyPacketLog(qLinkObject* link);

// qLink_AwaitFirst for a held link object; the caller reads the stream itself while it may.
qPacket* qLink_AwaitFirstReading(qLinkObject* link, qPacketFilter filter, void* reference,
                                 uint32_t timeoutMs);
// Whether the calling thread holds the link's read lock as its reader (the reader thread, or a
// caller reading for itself, and any user filter they run).
bool qLink_ThreadReads(const qLinkObject* link);
// Lets the reader thread read again at once, should it stand by for callers.
void qLink_EndReaderStandBy(qLinkObject* link);
// One pass of the reader thread's loop: while callers read, and no waiter relies on it, it waits
// until they may have stopped; otherwise it reads under the read lock (qLink_ReaderStep).
void qLink_ReaderThreadStep(qLinkObject* link);

// A filter that accepts every packet.
uint8_t qLink_AcceptAll(const qPacket* packet, void* reference);
// Writes the packets to the stream from the calling thread, as the writer thread would, when the
// link is running, no other write is under way and nothing is queued before them. False (nothing
// written) otherwise.
bool qLink_WriteIfIdle(qLinkObject* link, const qPacket* const* packets, size_t count);
// Puts a packet of the given bytes on the outbound queue.
qErr qLink_QueueOutbound(qLinkObject* link, uint8_t address, uint8_t length, const uint8_t* data);
