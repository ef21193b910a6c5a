// Links: the library's connection to one module. A link owns a byte stream, an inbound and an
// outbound packet queue, a reader thread that cuts the incoming bytes into packets (answering
// heartbeats itself) and a writer thread that sends the outbound queue. Links live in one
// process-wide table, are addressed by a small non-zero id and are reference-counted, so several
// users of one module share one link.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "packetfifo.h"
#include "qError.h"
#include "qLinkSpec.h"
#include "qPacket.h"
#include "qStream.h"

#define qLINK_CHECK 0xCEED

typedef uint32_t qLinkID;

// Link status (qLink_GetStatus).
constexpr uint32_t qLINK_STATUS_STOPPED = 0;
constexpr uint32_t qLINK_STATUS_STARTING = 1;
constexpr uint32_t qLINK_STATUS_RUNNING = 2;
constexpr uint32_t qLINK_STATUS_STOPPING = 3;
constexpr uint32_t qLINK_STATUS_SYNCING = 4;
constexpr uint32_t qLINK_STATUS_INVALID = 5;
constexpr uint32_t qLINK_STATUS_IO_ERROR = 6;
constexpr uint32_t qLINK_STATUS_ERROR = 8;

// Packet debug log record types.
constexpr uint8_t qPACKETLOG_SENT = 1;
constexpr uint8_t qPACKETLOG_RECEIVED = 2;
constexpr uint8_t qPACKETLOG_TEXT = 3;
constexpr uint32_t qPACKETLOG_DEFAULT_SIZE = 65536;
constexpr int32_t qPACKETLOG_MAX_SIZE = 0x4000000;

// Creation: each returns the new or reused link id, or 0 on failure (leaving no table entry).
ZENDRIVAL_EXPORT qLinkID qLink_CreateUSB(uint32_t serialNumber);
// address: IPv4 in network byte order; port in host order.
ZENDRIVAL_EXPORT qLinkID qLink_CreateTCPIP(uint32_t serialNumber, uint32_t address, uint32_t port);
// path: at most the 100 bytes a linkSpec holds.
ZENDRIVAL_EXPORT qLinkID qLink_CreateSerial(uint32_t serialNumber, const char* path, uint32_t baud);
// The USB, TCP/IP or serial link the linkSpec names (its serial path need not be terminated).
ZENDRIVAL_EXPORT qLinkID qLink_CreateFromSpec(const linkSpec& spec);
// A client of the link server at address:port; it has no server key, so a server on the network
// is not reached this way (qLink_CreateClientFromSpec is).
ZENDRIVAL_EXPORT qLinkID qLink_CreateClient(uint32_t address, uint32_t port, qLinkID ref);
// A client of the link server a discovered linkSpec describes (its address, port and server
// key); with a non-zero ref, that link gains a user instead. *err (when not null) says why 0 was
// returned, as qStream_CreateClientForSpec does.
ZENDRIVAL_EXPORT qLinkID qLink_CreateClientFromSpec(const linkSpec* spec, qLinkID ref, qErr* err);
// interface: IPv4 in network byte order, in and out; port in and out.
ZENDRIVAL_EXPORT qLinkID qLink_CreateServer(qLinkID linkId, uint16_t* port, uint32_t* interface,
                                            bool localOnly);
// A link over a caller-made stream, which belongs to the link from then on.
ZENDRIVAL_EXPORT qLinkID qLink_Create(qStream* stream);

// Lifecycle.
ZENDRIVAL_EXPORT qLinkID qLink_Init(qLinkID id, qStream* stream);
ZENDRIVAL_EXPORT qErr qLink_Start(qLinkID id);
ZENDRIVAL_EXPORT qErr qLink_Sync(qLinkID id);
ZENDRIVAL_EXPORT qErr qLink_Reset(qLinkID id);
ZENDRIVAL_EXPORT qErr qLink_Destroy(qLinkID* id);

// Traffic. Packets returned are the caller's to release with qPacket_Destroy.
ZENDRIVAL_EXPORT qErr qLink_PutPacket(qLinkID id, const qPacket* packet);
// Queues count packets together (see qPacketFifo_PutAll).
ZENDRIVAL_EXPORT qErr qLink_PutPackets(qLinkID id, const qPacket* const* packets, size_t count);
// Sends count packets in order, as qLink_PutPackets would, but when the link is running, idle and
// nothing is queued before them, the calling thread writes them itself (and returns once the
// stream has taken them) instead of waking the writer thread: a request that is answered
// quickly then costs one thread hand-off instead of two. Otherwise they are queued.
ZENDRIVAL_EXPORT qErr qLink_SendPackets(qLinkID id, const qPacket* const* packets, size_t count);
ZENDRIVAL_EXPORT qPacket* qLink_GetPacket(qLinkID id);
ZENDRIVAL_EXPORT qPacket* qLink_AwaitPacket(qLinkID id, uint32_t timeoutMs);
ZENDRIVAL_EXPORT qPacket* qLink_GetFirst(qLinkID id, qPacketFilter filter, void* reference);
// Waits for the first packet the filter accepts: up to timeoutMs, through resynchronisations and
// I/O errors of the link, and ends early only when the link stops. During one call the filter
// sees each packet at most once, in arrival order.
ZENDRIVAL_EXPORT qPacket* qLink_AwaitFirst(qLinkID id, qPacketFilter filter, void* reference,
                                           uint32_t timeoutMs);
ZENDRIVAL_EXPORT size_t qLink_DrainPackets(qLinkID id, qPacketFilter filter, void* reference);
// The user filter runs for every complete packet on whichever thread reads the stream: the
// reader thread, or a caller of qLink_AwaitFirst that reads its reply itself; one at a time, in
// stream order. A result of 1 means the filter consumed it. Null clears it. A filter may send, and
// may await packets of other links or of its own (of its own it finds only those already queued:
// no more are read until it returns).
ZENDRIVAL_EXPORT qErr qLink_InstallUserPacketFilter(qLinkID id, qPacketFilter filter,
                                                    void* reference);
ZENDRIVAL_EXPORT qErr qLink_EnablePooledPackets(qLinkID id, bool pooled);
ZENDRIVAL_EXPORT qErr qLink_ForceRoute(qLinkID id, uint8_t route);
ZENDRIVAL_EXPORT uint32_t qLink_GetStatus(qLinkID id);

// Module queries used when a link server is put in front of a link; the library's own, not
// exported.
qErr _qLink_GetModuleAddress(qLinkID id, uint8_t* address);
qErr _qLink_GetModel(qLinkID id, uint8_t address, uint8_t* model);

// Packet debug log of a link.
ZENDRIVAL_EXPORT qErr qLink_PacketDebug_SetLogSize(qLinkID id, int32_t bytes);
ZENDRIVAL_EXPORT qErr qLink_PacketDebug_Enable(qLinkID id);
ZENDRIVAL_EXPORT qErr qLink_PacketDebug_Disable(qLinkID id);
// length: buffer capacity on entry, record length on return.
ZENDRIVAL_EXPORT qErr qLink_PacketDebug_Read(qLinkID id, uint8_t* type, uint8_t* length,
                                             uint8_t* buffer);
ZENDRIVAL_EXPORT qErr qLink_PacketDebug_Write(qLinkID id, uint8_t type, uint8_t length,
                                              const uint8_t* bytes);
