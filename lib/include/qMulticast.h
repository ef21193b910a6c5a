// UDP multicast sockets for discovery: a receiver bound to a group's port, or a sender to it.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>

struct qMulticast;

constexpr int qMULTICAST_RECEIVER = 0;
constexpr int qMULTICAST_SENDER = 1;

// interface: IPv4 in network byte order; 0 or 127.0.0.1 means the loopback interface. Address
// reuse is off, so a receiver on a port someone already holds is not created (null).
ZENDRIVAL_EXPORT qMulticast* qMulticast_Create(uint32_t interface, const char* group, uint16_t port,
                                               int mode);
// Bytes sent; -2 for a null socket, -3 for a receiver, -1 on error.
ZENDRIVAL_EXPORT int qMulticast_Send(qMulticast* socket, const uint8_t* bytes, size_t length);
// Bytes received; -1 on error or time-out (1 s), -2 for null, -3 for a sender.
ZENDRIVAL_EXPORT int qMulticast_Receive(qMulticast* socket, uint8_t* buffer, size_t size);
// 0, or -2 for null.
ZENDRIVAL_EXPORT int qMulticast_Destroy(qMulticast** socket);
