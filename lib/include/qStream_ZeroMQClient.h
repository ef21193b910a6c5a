// The byte stream of a client link: packets travel to a link server as one ZeroMQ message each,
// and the server's replies and stream batches come back as messages that get hands out byte by
// byte. A worker thread owns the socket to the server; the link's reader and writer reach it
// through two in-process socket pairs, so that each socket is used by one thread only.
//
// A server in this process is reached in-process. A server for this machine only (127.0.0.1)
// is reached through the socket of its endpoint number (the port) in this user's private
// directory, which no other user can enter; any other over TCP, as a CURVE client with this
// user's client key pair (qShareKeys.h), and only to a server whose key the linkSpec carries and
// servers/ trusts.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

#include "qError.h"
#include "qLinkSpec.h"
#include "qStream.h"

// ipAddress in network byte order, port in host order. qErrParam for a null output, qErrMemory
// when a socket cannot be made, qErrConnection when a connect fails, qErrResource when the
// worker or the stream cannot be made.
// qErrNotFound when no shared link has that endpoint, qErrPermission when it is not this user's
// (or the user's directory is not private), qErrConnection when it refuses; qShare_Failure()
// then says which, in one line, and nothing has been sent.
// An address on the network has no server key this way and is refused (qErrConfiguration).
ZENDRIVAL_EXPORT qErr qStream_CreateClient(uint32_t ipAddress, uint16_t port, qStream** stream);
// A client of the link server the linkSpec describes (as discovery reported it, server key
// included). For a server on the network, before anything is sent: qErrConfiguration without a
// server key or without this user's client key pair, qErrPermission when servers/ does not
// trust the key or a secret file is refused; then qErrConnection when the server refuses the
// client's key or fails to prove its own, qErrTimeout when the handshake does not end within
// two seconds. qShare_Failure() says which, in one line.
ZENDRIVAL_EXPORT qErr qStream_CreateClientForSpec(const linkSpec* spec, qStream** stream);
// A client of the shared link served at an ipc socket path (a link served from another
// directory); the same checks and results.
ZENDRIVAL_EXPORT qErr qStream_CreateClientAtPath(const char* socketPath, qStream** stream);
