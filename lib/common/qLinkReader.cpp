// The reader thread: cuts the incoming byte stream into packets, answers the module's
// heartbeats itself and queues everything else for the application.
#include "qDebugging.h"
#include "qLinkInternal.h"
#include "unix_time.h"

namespace {

constexpr uint32_t kReadErrorPauseMs = 100;
// While the module stays silent after sync requests, repeat them at most this often.
constexpr auto kSyncRepeatInterval = std::chrono::milliseconds(100);

constexpr uint8_t kHeartbeatUp = 0;
constexpr uint8_t kHeartbeatDown = 1;
// The host answers a heartbeat with its state byte plus this.
constexpr uint8_t kHeartbeatAnswerOffset = 2;

// Any state byte is answered, not only up (0) and down (1): the module waits for the answer to
// every heartbeat it sends, and a queued heartbeat would only sit unread on the inbound queue.
bool isHeartbeat(const qPacket* packet) {
    return packet->dataSize == 2 && packet->data[0] == qCMD_HEARTBEAT;
}

// True when the packet was a heartbeat; its answer is on the outbound queue then.
bool answerHeartbeat(qLinkObject* link, const qPacket* packet) {
    if (!isHeartbeat(packet)) {
        return false;
    }
    const uint8_t state = packet->data[1];
    if (state == kHeartbeatUp) {
        qDebug_Print(qDEBUG_TRAFFIC, "sending HB UP\n");
    } else if (state == kHeartbeatDown) {
        qDebug_Print(qDEBUG_TRAFFIC, "sending HB DOWN\n");
    }
    const uint8_t answer[] = {qCMD_HEARTBEAT, static_cast<uint8_t>(state + kHeartbeatAnswerOffset)};
    qLink_QueueOutbound(link, packet->address, sizeof answer, answer);
    return true;
}

bool consumedByUserFilter(qLinkObject* link, const qPacket* packet) {
    qMutex_Lock(link->userFilterMutex);
    bool consumed =
        link->userFilter != nullptr && link->userFilter(packet, link->userFilterReference) == 1;
    qMutex_Unlock(link->userFilterMutex);
    return consumed;
}

// A silent module gets the sync requests again, but not on every empty read.
void onNoByte(qLinkObject* link) {
    const uint32_t status = link->status.load();
    if (status != qLINK_STATUS_SYNCING && status != qLINK_STATUS_IO_ERROR) {
        return;
    }
    const bool awaitingAnswer =
        status == qLINK_STATUS_SYNCING && link->syncState.load() == qSYNC_REQUESTED &&
        std::chrono::steady_clock::now() - link->syncStartedAt < kSyncRepeatInterval;
    if (!awaitingAnswer) {
        qLink_StartSync(link);
    }
}

void onReadError(qLinkObject* link, qErr err) {
    link->status = qLINK_STATUS_IO_ERROR;
    qDebug_Print(qDEBUG_LINK, " sInPipeProcess(%d) IO_ERROR [qStream_Read()==>%d]\n", link->id,
                 err);
    qTime_MSSleep(kReadErrorPauseMs);
}

void onPacketByte(qLinkObject* link, uint8_t byte) {
    qPacket* packet = link->receivePacket;
    // Module addresses are even: an odd one means the packet boundaries are lost.
    if (qPacket_AddByte(packet, byte) != qErrNone || (packet->address & 1) != 0) {
        qDebug_Print(qDEBUG_LINK, "Out of sync\n");
        qLink_StartSync(link);
        return;
    }
    if (!qPacket_IsComplete(packet)) {
        return;
    }
    if (qLink_HandleReceivedPacket(link, packet) != qErrNone) {
        link->status = qLINK_STATUS_ERROR;
    }
}

}  // namespace

qErr qLink_HandleReceivedPacket(qLinkObject* link, const qPacket* packet) {
    qDebug_Print(qDEBUG_TRAFFIC, "qLink(%u) received [%u, %u]\n", link->id, packet->address,
                 packet->dataSize);
    qLink_LogPacket(link, qPACKETLOG_RECEIVED, packet);
    qErr err = qErrNone;
    if (!consumedByUserFilter(link, packet) && !answerHeartbeat(link, packet)) {
        err = qPacketFifo_Put(link->inbound.load(), packet);
    }
    qPacket_Reset(link->receivePacket);
    link->packetsHandled++;
    return err;
}

void qLink_ReaderBegin(qLinkObject* link) {
    link->syncAddress = 1;
    link->readerStarted = 1;
    link->status = qLINK_STATUS_RUNNING;
    link->syncState = qSYNC_IDLE;
}

void qLink_HandleByte(qLinkObject* link, uint8_t byte) {
    if (link->status.load() == qLINK_STATUS_SYNCING) {
        qLink_SyncByte(link, byte);
    } else {
        onPacketByte(link, byte);
    }
}

qErr qLink_ReaderStep(qLinkObject* link) {
    uint8_t byte = 0;
    qErr err = qStream_Read(link->stream, &byte, 1);
    if (err == qErrNotReady) {
        onNoByte(link);
    } else if (err != qErrNone) {
        onReadError(link, err);
    } else {
        qLink_HandleByte(link, byte);
    }
    return err;
}

void* sInPipeProcess(void* argument) {
    qLinkObject* link = static_cast<qLinkObject*>(argument);
    qLink_ReaderBegin(link);
    while (link->running.load() != 0) {
        qLink_ReaderThreadStep(link);
    }
    return nullptr;
}
