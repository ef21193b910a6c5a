// A client's connection to a link server for the network: a CURVE client with this user's
// client key pair, talking only to the server key that discovery announced and servers/ trusts.
#pragma once

#include <czmq.h>

#include <string>

#include "qError.h"
#include "qShareKeysInternal.h"

// How long creating a client waits for the handshake's outcome, so that a server that refuses
// the client's key is told apart from one that does not answer.
constexpr int qCLIENT_HANDSHAKE_WAIT_MS = 2000;

// Connects socket to tcp://endpoint ("A.B.C.D:PORT") once the keys are in order and waits for the
// handshake. qErrNone once it succeeded; with the reason in qShare_Failure():
// qErrConfiguration without a server key or without a client key pair, qErrPermission for a
// server key not in servers/ or a refused secret file (nothing sent in these cases),
// qErrConnection when the server refuses the client's key or cannot prove its own, qErrTimeout
// when no handshake ends within qCLIENT_HANDSHAKE_WAIT_MS.
qErr qStream_ConnectCurve(zsock_t* socket, const std::string& endpoint,
                          const uint8_t serverKey[qSHARE_KEY_BYTES]);
