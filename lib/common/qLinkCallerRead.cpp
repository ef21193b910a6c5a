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
// queue. While a caller reads, and for a moment after it did, the reader thread stands by instead
// of waiting on the stream, so that a caller's next request finds the reading free; it reads again
// at once when a waiter relies on it.
//
// What a wait promises, whoever reads: it ends by its deadline (a caller's reads end before it;
// the reader thread alone pauses, reconnects or resynchronises), it ends early only when the link
// stops, and its filter sees each packet at most once.
#include <algorithm>

#include "packetfifoCursor.h"
#include "qLinkInternal.h"
#include "qStreamForCaller.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long the reader thread stays out of the way after a caller last read: far longer than an
// application takes between a reply and its next request, and short next to the reader thread's
// own waits on the stream, so that packets nobody awaits are not held up for long.
constexpr auto kCallersLinger = std::chrono::milliseconds(5);
// While another thread reads (the reader thread inside its wait on the stream, or another
// caller), a caller waits for its packet on the inbound queue this long at a time before it tries
// to read again.
constexpr uint32_t kBusySliceMs = 1;
// While the reader thread alone may read for a while (the link resynchronises, or the stream met
// something that only the reader thread acts on), a waiter looks whether it may read again this
// often.
constexpr uint32_t kHandedOverSliceMs = qSTREAM_IDLE_WAIT_MS;

// The links whose read lock this thread holds, innermost first: a user filter may await a packet
// of another link, and that link's filter one of the first.
struct ReadingLink {
    const qLinkObject* link;
    const ReadingLink* outer;
};
thread_local const ReadingLink* tReading = nullptr;

// Marks this thread as a reader of the link while it holds the link's read lock.
class ReadingMark {
  public:
    explicit ReadingMark(const qLinkObject* link) : mark_{link, tReading} { tReading = &mark_; }
    ~ReadingMark() { tReading = mark_.outer; }
    ReadingMark(const ReadingMark&) = delete;
    ReadingMark& operator=(const ReadingMark&) = delete;

  private:
    ReadingLink mark_;
};

int64_t nanosecondsOf(Clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

uint32_t remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
}

bool stopped(const qLinkObject* link) {
    return link->running.load() == 0;
}

bool running(const qLinkObject* link) {
    return !stopped(link) && link->status.load() == qLINK_STATUS_RUNNING;
}

// Whether a caller with this much time left may read the stream, once nobody else does: the link
// runs (a resynchronisation or an I/O error is the reader thread's), the reader thread has not
// been handed the reading, the stream's get waits only briefly for a byte, and the time left is
// longer than that wait, so the caller's wait still ends on time.
bool callerMayRead(const qLinkObject* link, uint32_t remaining) {
    const uint32_t getWaitMs = link->streamGetWaitMs.load();
    return getWaitMs <= qSTREAM_IDLE_WAIT_MS && remaining > getWaitMs && running(link) &&
           !link->readingHandedBack.load();
}

// Wakes the reader thread should it stand by: a waiter relies on it now. The stand-by lock makes
// sure that a reader thread about to stand by sees the waiter first.
void wakeReader(qLinkObject* link) {
    if (nanosecondsOf(Clock::now()) >= link->callersReadUntilNs.load()) {
        return;
    }
    { std::lock_guard<std::mutex> standingBy(link->standByLock); }
    link->standByEnded.notify_all();
}

// The stream met something that only the reader thread may act on (it reconnects, pauses, or
// marks the link's I/O error and resynchronises): callers leave the reading to it until it has
// read a byte again. An error the get took from the transport is noted as the reader would.
void handBack(qLinkObject* link, qErr err) {
    if (err != qErrBusy) {
        link->status = qLINK_STATUS_IO_ERROR;
    }
    link->readingHandedBack = true;
    wakeReader(link);
}

// With the read lock held: reads and handles bytes until a complete packet has been handled, no
// byte came within the stream's wait, the link stopped running, or the next get could outlast
// the deadline.
void readNextPacket(qLinkObject* link, Clock::time_point deadline) {
    ReadingMark reading(link);
    qStreamForCallerScope forCaller;
    const uint64_t before = link->packetsHandled;
    while (link->packetsHandled == before && callerMayRead(link, remainingMs(deadline))) {
        uint8_t byte = 0;
        const qErr err = qStream_Read(link->stream, &byte, 1);
        if (err == qErrNotReady) {
            return;
        }
        if (err != qErrNone) {
            handBack(link, err);
            return;
        }
        qLink_HandleByte(link, byte);
    }
}

enum class CallerRead {
    Read,         // a packet (or a moment's silence) was read: look at the queue again
    Busy,         // another thread reads this moment: wait briefly, then try again
    LeftToReader  // the reader thread reads for this caller, for a while or for the rest
};

// Reads the next packet from the stream on the caller's thread when it may and nobody else reads
// this moment. seen is the count of packets handled when the caller last looked at the queue: if
// more have been handled since, the caller looks again instead.
CallerRead readForCaller(qLinkObject* link, Clock::time_point deadline, uint64_t seen) {
    if (qLink_ThreadReads(link) || !callerMayRead(link, remainingMs(deadline))) {
        return CallerRead::LeftToReader;
    }
    // Asks the reader thread to stand by even when it holds the lock now: after its current wait
    // on the stream the reading is this caller's.
    link->callersReadUntilNs = nanosecondsOf(Clock::now() + kCallersLinger);
    std::unique_lock<std::mutex> reading(link->readLock, std::try_to_lock);
    if (!reading.owns_lock()) {
        return CallerRead::Busy;
    }
    if (link->stream == nullptr) {
        return CallerRead::LeftToReader;
    }
    if (link->packetsHandled.load() == seen) {
        readNextPacket(link, deadline);
    }
    return CallerRead::Read;
}

// Counts the waiter as relying on the reader thread while it lives, so that the thread does not
// stand by for other callers meanwhile.
class RelyingOnReader {
  public:
    explicit RelyingOnReader(qLinkObject* link) : link_(link) {
        link_->callersAwaitingReader++;
        wakeReader(link_);
    }
    ~RelyingOnReader() { link_->callersAwaitingReader--; }
    RelyingOnReader(const RelyingOnReader&) = delete;
    RelyingOnReader& operator=(const RelyingOnReader&) = delete;

  private:
    qLinkObject* link_;
};

// How long a waiter that may not read waits on the queue before it looks again: a short while
// when it may read again soon, else the rest of its time (a stop destroys the queue and wakes it).
uint32_t handedOverSlice(const qLinkObject* link, uint32_t remaining) {
    const bool forAWhile = !running(link) || link->readingHandedBack.load();
    return forAWhile && !qLink_ThreadReads(link) ? std::min(remaining, kHandedOverSliceMs)
                                                 : remaining;
}

bool readerShouldStandBy(const qLinkObject* link, int64_t until) {
    return nanosecondsOf(Clock::now()) < until && link->callersAwaitingReader.load() == 0 &&
           !link->readingHandedBack.load() && !stopped(link);
}

}  // namespace

bool qLink_ThreadReads(const qLinkObject* link) {
    for (const ReadingLink* mark = tReading; mark != nullptr; mark = mark->outer) {
        if (mark->link == link) {
            return true;
        }
    }
    return false;
}

void qLink_EndReaderStandBy(qLinkObject* link) {
    {
        std::lock_guard<std::mutex> standingBy(link->standByLock);
        link->callersReadUntilNs = 0;
    }
    link->standByEnded.notify_all();
}

void qLink_ReaderThreadStep(qLinkObject* link) {
    const int64_t until = link->callersReadUntilNs.load();
    if (readerShouldStandBy(link, until)) {
        std::unique_lock<std::mutex> standingBy(link->standByLock);
        link->standByEnded.wait_until(
            standingBy, Clock::time_point(std::chrono::nanoseconds(until)), [link, until] {
                return link->callersReadUntilNs.load() != until ||
                       !readerShouldStandBy(link, until);
            });
        return;
    }
    std::lock_guard<std::mutex> locked(link->readLock);
    ReadingMark reading(link);
    if (qLink_ReaderStep(link) == qErrNone) {
        link->readingHandedBack = false;
    }
}

// The queue is looked up again on every pass: a reset replaces it, and the wait goes on in the
// new one while the link keeps running. The cursor keeps each packet from being offered to the
// filter twice, across the passes and the queues.
qPacket* qLink_AwaitFirstReading(qLinkObject* link, qPacketFilter filter, void* reference,
                                 uint32_t timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    qPacketFifoCursor offered;
    for (;;) {
        const uint64_t seen = link->packetsHandled.load();
        qPacket* packet =
            qPacketFifo_AwaitFirstNew(link->inbound.load(), filter, reference, 0, &offered);
        if (packet != nullptr || remainingMs(deadline) == 0 || stopped(link)) {
            return packet;
        }
        const CallerRead read = readForCaller(link, deadline, seen);
        if (read == CallerRead::Read) {
            continue;
        }
        const uint32_t remaining = remainingMs(deadline);
        if (read == CallerRead::Busy) {
            packet = qPacketFifo_AwaitFirstNew(link->inbound.load(), filter, reference,
                                               std::min(remaining, kBusySliceMs), &offered);
        } else {
            RelyingOnReader relying(link);
            packet = qPacketFifo_AwaitFirstNew(link->inbound.load(), filter, reference,
                                               handedOverSlice(link, remaining), &offered);
        }
        if (packet != nullptr) {
            return packet;
        }
    }
}
