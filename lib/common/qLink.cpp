// Link lifecycle: initialise, start and stop the reader and writer threads, reset the transport,
// and tear a link down when its last user lets go.
#include "qLink.h"

#include <cstdio>
#include <new>

#include "qDebugging.h"
#include "qLinkInternal.h"
#include "qLinkManagerInternal.h"
#include "qLinkTransport.h"
#include "unix_time.h"

namespace {

constexpr int kStartPolls = 200;
constexpr uint32_t kStartPollMs = 10;
constexpr int kResetAttempts = 20;
constexpr uint32_t kResetRetryMs = 100;

qErr ensureMutex(qMutex** mutex, const char* format, const void* owner) {
    if (*mutex != nullptr) {
        return qErrNone;
    }
    char name[qMUTEX_MAX_NAME + 1];
    snprintf(name, sizeof name, format, owner);
    *mutex = qMutex_Create(name);
    return *mutex != nullptr ? qErrNone : qErrResource;
}

// Replaces a queue handle with a fresh queue, releasing any previous one.
qErr renewQueue(std::atomic<qPacketFifoHandle>* queue) {
    qPacketFifoHandle old = queue->exchange(qPacketFifo_Create());
    if (old != 0) {
        qPacketFifo_Destroy(&old);
    }
    return queue->load() != 0 ? qErrNone : qErrResource;
}

qErr destroyQueue(std::atomic<qPacketFifoHandle>* queue) {
    qPacketFifoHandle handle = queue->exchange(0);
    return handle != 0 ? qPacketFifo_Destroy(&handle) : qErrNone;
}

void clearUserFilter(qLinkObject* link) {
    if (link->userFilterMutex == nullptr) {
        return;
    }
    qMutex_Lock(link->userFilterMutex);
    link->userFilter = nullptr;
    link->userFilterReference = nullptr;
    qMutex_Unlock(link->userFilterMutex);
}

// Both threads have begun and the reader has taken over the status. A module that is already
// talking may move it on from running to synchronising before the first poll; the link is up
// all the same.
bool threadsUp(const qLinkObject* link) {
    return link->readerStarted.load() != 0 && link->writerStarted.load() != 0 &&
           link->status.load() != qLINK_STATUS_STARTING;
}

bool awaitThreads(const qLinkObject* link) {
    for (int poll = 0; poll < kStartPolls; ++poll) {
        if (threadsUp(link)) {
            return true;
        }
        qTime_MSSleep(kStartPollMs);
    }
    return threadsUp(link);
}

qErr joinThread(qThread** thread) {
    if (*thread == nullptr) {
        return qErrNone;
    }
    return qThread_Destroy(thread) == qErrNone ? qErrNone : qErrUnknown;
}

qErr recreateStreamWithRetries(const qLinkTransport& transport, const linkSpec& spec,
                               qStream** stream) {
    qErr err = qErrUnknown;
    for (int attempt = 0; attempt < kResetAttempts; ++attempt) {
        err = transport.createStream(spec, stream);
        if (err == qErrNone) {
            return qErrNone;
        }
        qTime_MSSleep(kResetRetryMs);
    }
    return err;
}

qErr startThreads(qLinkObject* link) {
    link->readerThread = qThread_Create(link->readerProc, link);
    if (link->readerThread == nullptr) {
        return qErrResource;
    }
    link->writerThread = qThread_Create(link->writerProc, link);
    if (link->writerThread == nullptr) {
        // A reader left running would outlive the link.
        link->running = 0;
        joinThread(&link->readerThread);
        return qErrResource;
    }
    return qErrNone;
}

// The queues and the stream, which go as soon as the threads are stopped: the module sees its
// connection close when the link goes, not when the last holder of the object lets go.
qErr closeTransport(qLinkObject* link) {
    destroyQueue(&link->inbound);
    qErr err = destroyQueue(&link->outbound);
    // A caller may still be writing to it, or reading from it, on its own thread. A reading
    // caller's user filter may send, so the two locks are taken without an order.
    std::scoped_lock<std::mutex, std::mutex> streamInUse(link->writeLock, link->readLock);
    if (link->stream != nullptr) {
        qStream_Destroy(&link->stream);
    }
    return err;
}

// What the object owns beyond its transport: nobody holds the object any more.
void releaseObject(qLinkObject* link) {
    if (link->receivePacket != nullptr) {
        qPacket_Destroy(&link->receivePacket);
    }
    qLink_DestroyPacketLog(link);
    if (link->userFilterMutex != nullptr) {
        qMutex_Destroy(&link->userFilterMutex);
    }
    delete link;
}

}  // namespace

std::shared_ptr<qLinkObject> qLink_NewObject() {
    qLinkObject* link = new (std::nothrow) qLinkObject{};
    if (link == nullptr) {
        return nullptr;
    }
    link->status = qLINK_STATUS_INVALID;
    return std::shared_ptr<qLinkObject>(link, releaseObject);
}

std::shared_ptr<qLinkObject> qLink_Lookup(qLinkID id) {
    qLinkEntryRef entry = sLookupEntryByID(id);
    if (entry == nullptr || !qVALIDLINK(entry->link)) {
        return nullptr;
    }
    return entry->link;
}

qLinkID qLink_Init(qLinkID id, qStream* stream) {
    qLinkEntryRef entry = sLookupEntryByID(id);
    if (entry == nullptr || entry->link == nullptr) {
        return 0;
    }
    qLinkObject* link = entry->link.get();
    link->id = id;
    link->check = qLINK_CHECK;
    link->running = 0;
    {
        std::scoped_lock<std::mutex, std::mutex> streamInUse(link->writeLock, link->readLock);
        link->stream = stream;
        link->streamGetWaitMs = stream != nullptr ? stream->getWaitMs : qSTREAM_GET_WAIT_LIMIT_MS;
    }
    link->status = stream != nullptr ? qLINK_STATUS_STOPPED : qLINK_STATUS_INVALID;
    link->readerProc = sInPipeProcess;
    link->writerProc = sOutPipeProcess;
    link->readerStarted = 0;
    link->writerStarted = 0;
    link->syncState = qSYNC_IDLE;
    link->pooled = 0;
    // A new stream has met nothing yet that callers must leave to the reader thread.
    link->readingHandedBack = false;
    if (renewQueue(&link->inbound) != qErrNone || renewQueue(&link->outbound) != qErrNone) {
        return 0;
    }
    if (link->receivePacket == nullptr) {
        link->receivePacket = qPacket_Create();
    }
    if (link->receivePacket == nullptr ||
        ensureMutex(&link->userFilterMutex, "qLink(%p)->userFilterSema", link) != qErrNone) {
        return 0;
    }
    qPacket_Reset(link->receivePacket);
    clearUserFilter(link);
    return id;
}

qErr qLink_Start(qLinkID id) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr || link->stream == nullptr) {
        return qErrParam;
    }
    if (link->running.load() != 0) {
        return qErrNone;
    }
    link->running = 1;
    link->status = qLINK_STATUS_STARTING;
    link->readerStarted = 0;
    link->writerStarted = 0;
    qErr err = startThreads(link.get());
    if (err != qErrNone) {
        link->running = 0;
        link->status = qLINK_STATUS_STOPPED;
        return err;
    }
    if (!awaitThreads(link.get())) {
        return qErrIndexRange;
    }
    return qLink_ForceRoute(id, 1);
}

qErr qLink_Stop(qLinkObject* link) {
    if (!qVALIDLINK(link)) {
        return qErrParam;
    }
    uint32_t status = link->status.load();
    if (status == qLINK_STATUS_STOPPED || status == qLINK_STATUS_STOPPING) {
        return qErrNone;
    }
    if (link->readerThread == nullptr && link->writerThread == nullptr) {
        return qErrNone;
    }
    link->status = qLINK_STATUS_STOPPING;
    if (link->readerThread != nullptr && link->writerThread != nullptr) {
        // The writer sends everything still queued before it ends, so this reaches the module.
        static const uint8_t routeOff = 0;
        qLink_QueueOutbound(link, qADDRESS_ROUTE, 1, &routeOff);
    }
    link->running = 0;
    qLink_EndReaderStandBy(link);
    qErr err = joinThread(&link->readerThread);
    qErr writerErr = joinThread(&link->writerThread);
    if (err == qErrNone) {
        err = writerErr;
    }
    link->readerStarted = 0;
    link->writerStarted = 0;
    {
        // A caller may still be finishing a read.
        std::lock_guard<std::mutex> reading(link->readLock);
        qPacket_Reset(link->receivePacket);
    }
    link->syncState = qSYNC_IDLE;
    link->status = qLINK_STATUS_STOPPED;
    qDebug_Print(qDEBUG_LINK, "qLink(%u) stopped\n", link->id);
    return err;
}

qErr qLink_Destroy(qLinkID* id) {
    if (id == nullptr) {
        return qErrParam;
    }
    bool known = false;
    qLinkEntryRef entry = qLinkManager_ReleaseUser(*id, &known);
    *id = 0;
    if (!known) {
        return qErrParam;
    }
    if (entry == nullptr) {
        return qErrNone;
    }
    // The entry's reference keeps the object until the threads are joined, whoever else holds it.
    qLinkObject* link = entry->link.get();
    clearUserFilter(link);
    qLink_Stop(link);
    if (entry->server != nullptr && entry->destroyServer != nullptr) {
        entry->destroyServer(&entry->server);
    }
    if (entry->servedLinkId != 0) {
        qLinkID served = entry->servedLinkId;
        qLink_Destroy(&served);
    }
    link->check = 0;
    return closeTransport(link);
}

qErr qLink_Reset(qLinkID id) {
    qLinkEntryRef entry = sLookupEntryByID(id);
    if (entry == nullptr || !qVALIDLINK(entry->link)) {
        return qErrParam;
    }
    // A stream the caller made (or a serial port) cannot be made again here: keep the link as
    // it is rather than leave it without one.
    const qLinkTransport* transport = qLinkTransport_Find(entry->spec.type);
    if (transport == nullptr || !transport->recreatable) {
        return qErrParam;
    }
    qLinkObject* link = entry->link.get();
    qLink_Stop(link);
    closeTransport(link);
    qStream* stream = nullptr;
    qErr err = recreateStreamWithRetries(*transport, entry->spec, &stream);
    if (err != qErrNone) {
        qDebug_Print(qDEBUG_LINK, " ERROR - could not recreate stream: %d\n", err);
        link->status = qLINK_STATUS_STOPPED;
        return err;
    }
    if (qLink_Init(id, stream) == 0) {
        return qErrResource;
    }
    return qLink_Start(id);
}

// Packet log mutex, created with the log.
qErr qLink_EnsureLogMutex(qLinkObject* link) {
    return ensureMutex(&link->logMutex, "LOG_SEMA_%p", link);
}
