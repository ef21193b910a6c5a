// The byte stream of a client link: packets travel to a link server as one ZeroMQ message each,
// and the server's replies and stream batches come back as messages that get hands out byte by
// byte. A worker thread owns the socket to the server; the link's reader and writer reach it
// through two loopback socket pairs, so that each socket is used by one thread only.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "qError.h"
#include "qStream.h"

// ipAddress in network byte order, port in host order. qErrParam for a null output, qErrMemory
// when a socket cannot be made, qErrConnection when a connect fails, qErrResource when the
// worker or the stream cannot be made.
ZENDRIVAL_EXPORT qErr qStream_CreateClient(uint32_t ipAddress, uint16_t port, qStream** stream);
