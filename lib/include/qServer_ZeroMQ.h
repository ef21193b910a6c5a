// The link server: publishes one open link on a TCP port through ZeroMQ so that any number of
// client links can send packets to its module, receive exactly their own replies and share the
// module's stream samples. It also answers discovery (a UDP beacon, or a loopback multicast
// responder for local use).
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "qError.h"
#include "qLink.h"

struct qServer;

// Frames of exactly this size between the sync worker and the broker carry a server command:
// command byte, then a big-endian count.
constexpr uint8_t SERVER_CMD_DROPPED_PACKET = 0;
constexpr uint8_t SERVER_CMD_INCOMING_PACKETS = 1;
constexpr size_t qSERVER_CMD_SIZE = 3;

// A stopped server for an open USB, TCP/IP or serial link; interface in network byte order (0
// means 127.0.0.1). Null for an unknown id or another link type.
ZENDRIVAL_EXPORT qServer* qServer_Create(qLinkID linkId, uint32_t interface, bool localOnly);
ZENDRIVAL_EXPORT qErr qServer_Start(qServer* server);
ZENDRIVAL_EXPORT qErr qServer_Destroy(qServer** server);
ZENDRIVAL_EXPORT qErr qServer_GetPort(qServer* server, uint16_t* port);
ZENDRIVAL_EXPORT qErr qServer_GetInterface(qServer* server, uint32_t* interface);
ZENDRIVAL_EXPORT qErr qServer_SetModuleAddress(qServer* server, uint8_t address);
ZENDRIVAL_EXPORT qErr qServer_SetModel(qServer* server, uint8_t model);
// Drops every client still waiting for a reply.
ZENDRIVAL_EXPORT qErr qServer_FlushFIFO(qServer* server);
