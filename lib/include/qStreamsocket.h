// Byte stream over a TCP connection to a module's own TCP/IP port.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "qStream.h"

#define qSOCKETSTREAM_CHECK 0xDEAD

// Connects at once to address (IPv4, network byte order, as stored in a socket address) and port
// (host order). Any failure gives qErrResource and no stream. A peer that resets the connection
// is reconnected by later reads and writes.
ZENDRIVAL_EXPORT qErr qStream_CreateSocket(uint32_t address, uint32_t port, qStream** stream);
