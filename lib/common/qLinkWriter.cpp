// The writer thread: sends the outbound queue to the module, one packet per write, or with
// pooling as many queued packets as fit in one buffer per write. A caller that sends packets
// itself (qLink_SendPackets) writes them the same way, under the same lock.
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

void reportSent(qLinkObject* link, const qPacket* packet) {
    qDebug_Print(qDEBUG_TRAFFIC, "qLink(%u) sending [%u, %u]\n", link->id, packet->address,
                 packet->dataSize);
    qLink_LogPacket(link, qPACKETLOG_SENT, packet);
}

void writeBytes(qLinkObject* link, const uint8_t* bytes, size_t length, bool pooled) {
    qErr err = qStream_Write(link->stream, bytes, length);
    if (err != qErrNone) {
        qDebug_Print(qDEBUG_LINK,
                     pooled ? "sOutPipeProcess error writing pooled: %d\n"
                            : "sOutPipeProcess error writing: %d\n",
                     err);
    }
}

void writeOne(qLinkObject* link, const qPacket* packet) {
    uint8_t wire[qPACKET_MAX_WIRE];
    size_t length = appendWireForm(packet, wire, sizeof wire);
    reportSent(link, packet);
    writeBytes(link, wire, length, false);
}

// Packets gathered into one buffer and written together, as many as surely fit.
class PooledWrite {
  public:
    explicit PooledWrite(qLinkObject* link) : link_(link) {}
    bool full() const { return used_ > kPoolFillLimit; }
    void add(const qPacket* packet) {
        used_ += appendWireForm(packet, buffer_ + used_, sizeof buffer_ - used_);
        reportSent(link_, packet);
    }
    void flush() {
        if (used_ != 0) {
            writeBytes(link_, buffer_, used_, true);
            used_ = 0;
        }
    }

  private:
    qLinkObject* link_;
    uint8_t buffer_[kPoolBufferSize];
    size_t used_ = 0;
};

// Caller holds the write lock.
void writePooled(qLinkObject* link, qPacket* first) {
    PooledWrite pool(link);
    pool.add(first);
    qPacket* next = nullptr;
    while (!pool.full() && (next = qPacketFifo_Get(link->outbound.load())) != nullptr) {
        pool.add(next);
        qPacket_Destroy(&next);
    }
    pool.flush();
}

// Takes the oldest queued packet, if any, and writes it (pooled: with what follows it).
void sendNextQueued(qLinkObject* link) {
    std::lock_guard<std::mutex> writing(link->writeLock);
    qPacket* packet = qPacketFifo_Get(link->outbound.load());
    if (packet == nullptr) {
        return;
    }
    if (link->pooled.load() != 0) {
        writePooled(link, packet);
    } else {
        writeOne(link, packet);
    }
    qPacket_Destroy(&packet);
}

// What is still queued when the link stops (the route-off command among it) goes out too.
void sendRemaining(qLinkObject* link) {
    std::lock_guard<std::mutex> writing(link->writeLock);
    qPacket* packet = nullptr;
    while ((packet = qPacketFifo_Get(link->outbound.load())) != nullptr) {
        writeOne(link, packet);
        qPacket_Destroy(&packet);
    }
}

// The caller's packets as the writer would send them: one write each, or pooled into buffers.
void writeInOrder(qLinkObject* link, const qPacket* const* packets, size_t count) {
    if (link->pooled.load() == 0) {
        for (size_t i = 0; i < count; ++i) {
            writeOne(link, packets[i]);
        }
        return;
    }
    PooledWrite pool(link);
    for (size_t i = 0; i < count; ++i) {
        pool.add(packets[i]);
        if (pool.full()) {
            pool.flush();
        }
    }
    pool.flush();
}

}  // namespace

bool qLink_WriteIfIdle(qLinkObject* link, const qPacket* const* packets, size_t count) {
    std::unique_lock<std::mutex> writing(link->writeLock, std::try_to_lock);
    // Busy: the writer or another caller is writing; the queue keeps the order then.
    if (!writing.owns_lock() || link->running.load() == 0 ||
        link->status.load() != qLINK_STATUS_RUNNING || link->stream == nullptr ||
        qPacketFifo_GetLength(link->outbound.load()) != 0) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        if (!qSENDABLEPACKET(packets[i])) {
            return false;  // the queue refuses it with its own error
        }
    }
    writeInOrder(link, packets, count);
    return true;
}

void* sOutPipeProcess(void* argument) {
    qLinkObject* link = static_cast<qLinkObject*>(argument);
    link->writerStarted = 1;
    // The writer's next packet comes only after the module has answered the last one, so its
    // watching would hold a core that the module's side and the reader need just then.
    qPacketFifo_SetBriefWaits(false);
    while (link->running.load() != 0) {
        // Packets are taken only under the write lock, never while sleeping for one.
        if (qPacketFifo_AwaitAny(link->outbound.load(), kAwaitSliceMs)) {
            sendNextQueued(link);
        }
    }
    sendRemaining(link);
    return nullptr;
}
