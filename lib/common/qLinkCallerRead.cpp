// A caller awaiting a reply reads it from the stream itself, as the reader thread would, instead
// of waiting for the reader thread to hand it over.
//
// The hand-over wakes a second thread for every reply. On a machine whose idle cores halt, that
// wake-up, and the wake-up of whichever core the reader thread sleeps on, cost as much as a
// module's whole answer over a socket; at a millisecond of module latency (as over USB) they are
// most of what the link adds to an exchange. A caller that reads is woken by its reply directly,
// like a program on a plain socket.
//
// The bytes are still handled in stream order by one thread at a time, under the link's read lock,
// with the reader thread's own handling: packet log, user filter, heartbeat answers, inbound
// queue. While callers read, and for a moment after the last one did, the reader thread stands by
// instead of waiting on the stream, so that a caller's next request finds the reading free.
#include <algorithm>

#include "qLinkInternal.h"
#include "unix_time.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long the reader thread stays out of the way after a caller last read: far longer than an
// application takes between a reply and its next request, and short next to the reader thread's
// own waits on the stream, so that packets nobody awaits are not held up for long.
constexpr auto kCallersLinger = std::chrono::milliseconds(5);
// While the reader thread holds the read lock (it waits on the stream), a caller waits for its
// packet on the inbound queue this long at a time before it tries to read again.
constexpr uint32_t kQueueSliceMs = 1;

// The link whose read lock this thread holds: a user filter that awaits a packet of its own link
// must not take the lock again.
thread_local const qLinkObject* tReadingLink = nullptr;

// Marks this thread as the link's reader while it holds the read lock.
class ReadingLink {
  public:
    explicit ReadingLink(const qLinkObject* link) { tReadingLink = link; }
    ~ReadingLink() { tReadingLink = nullptr; }
    ReadingLink(const ReadingLink&) = delete;
    ReadingLink& operator=(const ReadingLink&) = delete;
};

int64_t nanosecondsOf(Clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

bool deliversPackets(const qLinkObject* link) {
    return link->running.load() != 0 && link->status.load() == qLINK_STATUS_RUNNING;
}

// With the read lock held: reads and handles bytes until a complete packet has been handled, no
// byte came within the stream's wait, or the link stopped delivering packets.
void readNextPacket(qLinkObject* link) {
    ReadingLink reading(link);
    const uint64_t before = link->packetsHandled;
    qErr err = qErrNone;
    while (err == qErrNone && link->packetsHandled == before && deliversPackets(link)) {
        err = qLink_ReaderStep(link);
    }
}

// Whether a caller with this much time left may read the stream, once nobody else does: the link
// delivers packets, its stream's get waits only briefly for a byte, and the time left is longer
// than that wait, so the caller's wait still ends on time. A stream whose get waits for a whole
// transfer (USB through libusb, a link server's client) is left to the reader thread: there the
// answer comes fastest to a read that was under way before the request went out (over the
// emulated USB bus, pooled UEI data went at 150 KiB/s with callers reading, 200 without).
bool callerMayRead(const qLinkObject* link, uint64_t remainingMs) {
    const uint32_t getWaitMs = link->streamGetWaitMs.load();
    return getWaitMs <= qSTREAM_IDLE_WAIT_MS && remainingMs > getWaitMs && deliversPackets(link);
}

// Reads the next packet from the stream on the caller's thread when it may and nobody else reads
// this moment. seen is the count of packets handled when the caller last looked at the queue: if
// more have been handled since, the caller looks again instead. Says whether the queue is worth a
// new look.
bool readForCaller(qLinkObject* link, uint64_t remainingMs, uint64_t seen) {
    if (tReadingLink == link || !callerMayRead(link, remainingMs)) {
        return false;
    }
    // Asks the reader thread to stand by even when it holds the lock now: after its current wait
    // on the stream the reading is this caller's.
    link->callersReadUntilNs = nanosecondsOf(Clock::now() + kCallersLinger);
    std::unique_lock<std::mutex> reading(link->readLock, std::try_to_lock);
    if (!reading.owns_lock() || link->stream == nullptr) {
        return false;
    }
    if (link->packetsHandled.load() == seen) {
        readNextPacket(link);
    }
    return true;
}

}  // namespace

void qLink_EndReaderStandBy(qLinkObject* link) {
    if (nanosecondsOf(Clock::now()) >= link->callersReadUntilNs.load()) {
        return;
    }
    {
        std::lock_guard<std::mutex> standingBy(link->standByLock);
        link->callersReadUntilNs = 0;
    }
    link->standByEnded.notify_all();
}

void qLink_ReaderThreadStep(qLinkObject* link) {
    const int64_t until = link->callersReadUntilNs.load();
    if (nanosecondsOf(Clock::now()) < until) {
        std::unique_lock<std::mutex> standingBy(link->standByLock);
        link->standByEnded.wait_until(
            standingBy, Clock::time_point(std::chrono::nanoseconds(until)),
            [link, until] { return link->callersReadUntilNs.load() != until; });
        return;
    }
    std::lock_guard<std::mutex> locked(link->readLock);
    ReadingLink reading(link);
    qLink_ReaderStep(link);
}

// The queue is looked up again on every pass: a reset replaces it, and the wait goes on in the
// new one while the link keeps running.
qPacket* qLink_AwaitFirstReading(qLinkObject* link, qPacketFilter filter, void* reference,
                                 uint32_t timeoutMs) {
    const uint64_t start = qTime_GetMSTicks();
    for (;;) {
        const uint64_t seen = link->packetsHandled.load();
        qPacket* packet = qPacketFifo_GetFirst(link->inbound.load(), filter, reference);
        const uint64_t elapsed = qTime_GetMSTicks() - start;
        const uint32_t remaining = elapsed < timeoutMs ? timeoutMs - elapsed : 0;
        if (packet != nullptr || remaining == 0) {
            return packet;
        }
        if (readForCaller(link, remaining, seen)) {
            continue;
        }
        // The reader thread hands the packet over: it may be waiting on the stream this moment
        // (then this caller tries again shortly), or the time left is too short to read (then
        // the reader thread must not stand by for it).
        const bool mayReadSoon =
            callerMayRead(link, remaining - std::min(remaining, kQueueSliceMs));
        if (!mayReadSoon) {
            qLink_EndReaderStandBy(link);
        }
        const uint32_t wait = mayReadSoon ? kQueueSliceMs : remaining;
        packet = qPacketFifo_AwaitFirst(link->inbound.load(), filter, reference, wait);
        if (packet != nullptr || remaining == 0 || !deliversPackets(link)) {
            return packet;
        }
    }
}
