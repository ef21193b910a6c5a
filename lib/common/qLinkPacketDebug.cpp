// The packet debug log of a link: every packet sent and received, in wire form, plus text
// markers, kept in a ring that drops its oldest records. The reader, the writer, the
// application and the logger thread all reach it, so every access holds the log mutex.
#include "qLink.h"

#include "qLinkInternal.h"

namespace {

// Holds the log mutex for one scope.
class LogLock {
  public:
    explicit LogLock(qMutex* mutex) : mutex_(mutex) { qMutex_Lock(mutex_); }
    ~LogLock() { qMutex_Unlock(mutex_); }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;

  private:
    qMutex* mutex_;
};

}  // namespace

void qLink_LogPacket(qLinkObject* link, uint8_t type, const qPacket* packet) {
    qPacketLog* log = link->packetLog.load();
    if (log == nullptr) {
        return;
    }
    uint8_t wire[qPACKET_MAX_WIRE];
    size_t length = 0;
    if (qPacket_GetBytes(packet, wire, sizeof wire, &length) != qErrNone) {
        return;
    }
    LogLock lock(link->logMutex);
    qPacketLog_Put(log, type, static_cast<uint8_t>(length), wire);
}

void qLink_DestroyPacketLog(qLinkObject* link) {
    qPacketLog* log = link->packetLog.exchange(nullptr);
    if (log != nullptr) {
        qPacketLog_Destroy(&log);
    }
    if (link->logMutex != nullptr) {
        qMutex_Destroy(&link->logMutex);
    }
}

qErr qLink_PacketDebug_SetLogSize(qLinkID id, int32_t bytes) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr || bytes > qPACKETLOG_MAX_SIZE) {
        return qErrParam;
    }
    if (link->packetLog.load() != nullptr) {
        return qErrBusy;
    }
    link->logSize = bytes < 0 ? 0 : static_cast<uint32_t>(bytes);
    return qErrNone;
}

qErr qLink_PacketDebug_Enable(qLinkID id) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr) {
        return qErrParam;
    }
    // The mutex exists before the log is published: the threads log as soon as they see it.
    if (qLink_EnsureLogMutex(link.get()) != qErrNone) {
        return qErrResource;
    }
    if (link->packetLog.load() == nullptr) {
        qPacketLog* log =
            qPacketLog_Create(link->logSize != 0 ? link->logSize : qPACKETLOG_DEFAULT_SIZE);
        if (log == nullptr) {
            return qErrResource;
        }
        link->packetLog = log;
    }
    return qErrNone;
}

qErr qLink_PacketDebug_Disable(qLinkID id) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr) {
        return qErrParam;
    }
    return link->packetLog.load() != nullptr ? qErrNone : qErrNotReady;
}

namespace {

// Runs access on the link's packet log under the log mutex: qErrParam for an unknown link,
// qErrNotReady when it has no log.
template <typename Access>
qErr withPacketLog(qLinkID id, Access access) {
    std::shared_ptr<qLinkObject> link = qLink_Lookup(id);
    if (link == nullptr) {
        return qErrParam;
    }
    qPacketLog* log = link->packetLog.load();
    if (log == nullptr) {
        return qErrNotReady;
    }
    LogLock lock(link->logMutex);
    return access(log);
}

}  // namespace

qErr qLink_PacketDebug_Write(qLinkID id, uint8_t type, uint8_t length, const uint8_t* bytes) {
    return withPacketLog(id,
                         [&](qPacketLog* log) { return qPacketLog_Put(log, type, length, bytes); });
}

qErr qLink_PacketDebug_Read(qLinkID id, uint8_t* type, uint8_t* length, uint8_t* buffer) {
    return withPacketLog(
        id, [&](qPacketLog* log) { return qPacketLog_Get(log, type, length, buffer); });
}
