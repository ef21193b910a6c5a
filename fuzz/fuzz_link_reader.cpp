// Fuzzes a link's reader: bytes from a module arrive one at a time on the link's stream and are
// cut into packets; heartbeats are answered, lost framing starts a new sync, everything else is
// queued for the application. The reader's loop runs on this thread until the stream has nothing
// more, then the writer's final flush sends what the reader queued (heartbeat answers, sync
// requests) to a sink, and the inbound queue and the packet log are read back.
//
// The first byte chooses the set-up: bit 0 installs a user filter that takes stream packets,
// bit 1 enables a packet log whose size comes from bits 2..7; the rest is the byte stream.
#include <cstdint>
#include <cstdlib>

#include "qLinkInternal.h"
#include "qLinkManagerInternal.h"
#include "qLinkSpec.h"

namespace {

constexpr uint8_t kFilteredCommand = 93;
constexpr int32_t kLogSizeStep = 8;
constexpr int32_t kLogSizeMinimum = 16;

struct ModuleBytes {
    const uint8_t* data;
    size_t size;
    size_t position;
    size_t answersWritten;
    size_t syncRequestsWritten;
};

qErr moduleGet(uint8_t* byte, void* reference) {
    ModuleBytes* bytes = static_cast<ModuleBytes*>(reference);
    if (bytes->position >= bytes->size) {
        return qErrNotReady;
    }
    *byte = bytes->data[bytes->position++];
    return qErrNone;
}

qErr modulePut(uint8_t, void*) {
    abort();  // the link writes whole packets
}

// Whatever the host sends back must be a heartbeat answer or a sync request, one per write.
qErr moduleWrite(const uint8_t* wire, size_t length, void* reference) {
    ModuleBytes* bytes = static_cast<ModuleBytes*>(reference);
    if (length == 2 && wire[0] == qADDRESS_MAGIC && wire[1] == 0) {
        bytes->syncRequestsWritten++;
    } else if (length == 4 && wire[0] != 0 && (wire[0] & 1) == 0 && wire[1] == 2 &&
               wire[2] == qCMD_HEARTBEAT) {
        // Every heartbeat is answered, whatever its state byte (up and down are 0 and 1).
        bytes->answersWritten++;
    } else {
        abort();
    }
    return qErrNone;
}

qErr moduleDelete(void*) {
    return qErrNone;
}

uint8_t takeStreamPackets(const qPacket* packet, void* reference) {
    if (packet->dataSize > 0 && packet->data[0] == kFilteredCommand) {
        ++*static_cast<size_t*>(reference);
        return 1;
    }
    return 0;
}

bool isAnsweredHeartbeat(const qPacket* packet) {
    return packet->dataSize == 2 && packet->data[0] == qCMD_HEARTBEAT && packet->data[1] <= 1;
}

// Every queued packet came from an even, non-zero address and is neither a heartbeat (answered)
// nor a packet the user filter took.
size_t drainInbound(qLinkID id, bool filtered) {
    size_t count = 0;
    while (qPacket* packet = qLink_GetPacket(id)) {
        if (!qVALIDPACKET(packet) || packet->address == 0 || (packet->address & 1) != 0 ||
            packet->dataSize > qPACKET_MAX_DATA || isAnsweredHeartbeat(packet) ||
            (filtered && packet->dataSize > 0 && packet->data[0] == kFilteredCommand)) {
            abort();
        }
        qPacket_Destroy(&packet);
        ++count;
    }
    return count;
}

// The log holds whole packets in wire form, sent or received.
void readPacketLog(qLinkID id, bool logged) {
    if (!logged) {
        if (qLink_PacketDebug_Read(id, nullptr, nullptr, nullptr) != qErrNotReady) {
            abort();
        }
        return;
    }
    for (;;) {
        uint8_t type = 0;
        uint8_t record[64];
        uint8_t length = sizeof record;
        qErr err = qLink_PacketDebug_Read(id, &type, &length, record);
        if (err == qErrNotFound) {
            return;
        }
        if (err != qErrNone || (type != qPACKETLOG_SENT && type != qPACKETLOG_RECEIVED) ||
            length < qPACKET_HEADER_SIZE || length > qPACKET_MAX_WIRE ||
            record[1] + qPACKET_HEADER_SIZE != length) {
            abort();
        }
    }
}

void readAll(qLinkObject* link) {
    link->running = 1;
    qLink_ReaderBegin(link);
    // One pass per byte, and one more to see the stream run dry.
    const ModuleBytes* bytes = static_cast<const ModuleBytes*>(link->stream->reference);
    for (size_t pass = 0; pass <= bytes->size; ++pass) {
        if (qLink_ReaderStep(link) == qErrNotReady) {
            break;
        }
    }
    const uint32_t status = link->status.load();
    if (status != qLINK_STATUS_RUNNING && status != qLINK_STATUS_SYNCING) {
        abort();
    }
    // The writer, told to stop, sends everything still queued before it ends.
    link->running = 0;
    sOutPipeProcess(link);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t setup = data[0];
    const bool filtered = (setup & 1) != 0;
    const bool logged = (setup & 2) != 0;
    ModuleBytes bytes{data + 1, size - 1, 0, 0, 0};
    const size_t linksBefore = qLinkManager_Count();

    qStream* stream = qStream_Create(moduleGet, modulePut, moduleWrite, moduleDelete, &bytes);
    qLinkEntryRef entry = stream != nullptr ? qLinkManager_AddEntry(linkSpec{}) : nullptr;
    if (entry == nullptr) {
        qStream_Destroy(&stream);
        return 0;
    }
    qLinkID id = entry->id;
    size_t taken = 0;
    if (qLink_Init(id, stream) == id && qLinkManager_AddUser(id)) {
        if (filtered) {
            qLink_InstallUserPacketFilter(id, takeStreamPackets, &taken);
        }
        if (logged) {
            qLink_PacketDebug_SetLogSize(id, kLogSizeMinimum + (setup >> 2) * kLogSizeStep);
            qLink_PacketDebug_Enable(id);
        }
        readAll(qLink_Lookup(id).get());
        const size_t queued = drainInbound(id, filtered);
        // Each packet took at least its two header bytes.
        if (2 * (queued + taken + bytes.answersWritten) > bytes.size) {
            abort();
        }
        readPacketLog(id, logged);
    }
    qLink_Destroy(&id);
    if (qLinkManager_Count() != linksBefore) {
        abort();
    }
    return 0;
}
