// Finding the packet boundaries in the byte stream. Packets carry no framing, so after a loss
// the host sends empty packets to the magic address; the module answers each with an empty
// packet from its own (even) address, and the byte pattern address, 0, address, 0 marks a
// boundary.
#include "qDebugging.h"
#include "qLinkInternal.h"
#include "unix_time.h"

namespace {

constexpr int kSyncPolls = 200;
constexpr uint32_t kSyncPollMs = 10;
// Time for the answers to the surplus requests to arrive before they are thrown away.
constexpr uint32_t kSurplusAnswerMs = 100;

void synced(qLinkObject* link) {
    link->syncState = qSYNC_IDLE;
    link->status = qLINK_STATUS_RUNNING;
    qDebug_Print(qDEBUG_LINK, "synced\n");
}

// The next sync state for a byte; qSYNC_SENDING means start over.
uint32_t nextSyncState(qLinkObject* link, uint32_t state, uint8_t byte) {
    switch (state) {
        case qSYNC_REQUESTED:
            if (byte != 0 && (byte & 1) == 0) {
                link->syncAddress = byte;
                return qSYNC_GOT_ADDRESS;
            }
            return qSYNC_SENDING;
        case qSYNC_GOT_ADDRESS:
            return byte == 0 ? qSYNC_GOT_LENGTH : qSYNC_SENDING;
        case qSYNC_GOT_LENGTH:
            return byte == link->syncAddress ? qSYNC_GOT_SECOND_ADDRESS : qSYNC_SENDING;
        case qSYNC_GOT_SECOND_ADDRESS:
            return byte == 0 ? qSYNC_IDLE : qSYNC_SENDING;
        default:
            return qSYNC_SENDING;
    }
}

bool waitUntilRunning(const qLinkObject* link) {
    for (int poll = 0; poll < kSyncPolls; ++poll) {
        if (link->status.load() == qLINK_STATUS_RUNNING) {
            return true;
        }
        qTime_MSSleep(kSyncPollMs);
    }
    return link->status.load() == qLINK_STATUS_RUNNING;
}

}  // namespace

void qLink_StartSync(qLinkObject* link) {
    link->status = qLINK_STATUS_SYNCING;
    link->syncState = qSYNC_SENDING;
    qPacket_Reset(link->receivePacket);
    qErr err = qErrNone;
    for (int i = 0; i < qLINK_SYNC_REQUESTS; ++i) {
        err = qLink_QueueOutbound(link, qADDRESS_MAGIC, 0, nullptr);
    }
    link->syncStartedAt = std::chrono::steady_clock::now();
    if (err == qErrNone) {
        link->syncState = qSYNC_REQUESTED;
        qDebug_Print(qDEBUG_LINK, "syncStart\n");
    }
}

void qLink_SyncByte(qLinkObject* link, uint8_t byte) {
    const uint32_t state = link->syncState.load();
    if (state < qSYNC_REQUESTED || state > qSYNC_GOT_SECOND_ADDRESS) {
        if (state != qSYNC_SENDING) {
            qDebug_Print(qDEBUG_LINK, "sync default\n");
        }
        qLink_StartSync(link);
        return;
    }
    const uint32_t next = nextSyncState(link, state, byte);
    if (next == qSYNC_IDLE) {
        synced(link);
    } else if (next == qSYNC_SENDING && state == qSYNC_REQUESTED) {
        // Not an address at all: ask again at once.
        qLink_StartSync(link);
    } else {
        link->syncState = next;
    }
}

qErr qLink_Sync(qLinkID id) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr) {
        return qErrParam;
    }
    // Only the reader answers sync requests; a stopped link would just sit in this status.
    if (link->running.load() == 0) {
        return qErrNotReady;
    }
    link->status = qLINK_STATUS_SYNCING;
    qErr err = waitUntilRunning(link.get()) ? qErrNone : qErrNotReady;
    qPacketFifo_DrainPackets(link->outbound.load(), qLink_AcceptAll, nullptr);
    qTime_MSSleep(kSurplusAnswerMs);
    qPacketFifo_DrainPackets(link->inbound.load(), qLink_AcceptAll, nullptr);
    return err;
}
