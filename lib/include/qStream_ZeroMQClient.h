// The byte stream of a client link: packets travel to a link server as one ZeroMQ message each,
// and the server's replies and stream batches come back as messages that get hands out byte by
// byte. A worker thread owns the socket to the server; the link's reader and writer reach it
// through two in-process socket pairs, so that each socket is used by one thread only.
//
// A server in this process is reached in-process. A server for this machine only (127.0.0.1)
// is reached through the socket of its endpoint number (the port) in this user's private
// directory, which no other user can enter; any other over TCP.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "qError.h"
#include "qStream.h"

// ipAddress in network byte order, port in host order. qErrParam for a null output, qErrMemory
// when a socket cannot be made, qErrConnection when a connect fails, qErrResource when the
// worker or the stream cannot be made.
// qErrNotFound when no shared link has that endpoint, qErrPermission when it is not this user's
// (or the user's directory is not private), qErrConnection when it refuses; qShare_Failure()
// then says which, in one line, and nothing has been sent.
ZENDRIVAL_EXPORT qErr qStream_CreateClient(uint32_t ipAddress, uint16_t port, qStream** stream);
// A client of the shared link served at an ipc socket path (a link served from another
// directory); the same checks and results.
ZENDRIVAL_EXPORT qErr qStream_CreateClientAtPath(const char* socketPath, qStream** stream);
