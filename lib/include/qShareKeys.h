// The CURVE keys of link sharing over the network. A link server for the network lets in only the
// clients whose public certificates are in its clients/ directory, and a client talks only to a
// server whose certificate is in its servers/ directory (as with SSH's authorized_keys and
// known_hosts, nothing is trusted on first use). All of it lives in one directory:
//
//   server.key, server.key_secret   the server's key pair (CZMQ certificates)
//   client.key, client.key_secret   the client's key pair
//   clients/                        public certificates of the clients allowed in
//   servers/                        public certificates of the servers trusted
//
// by default ~/.pelmorax/updater/linkshare (the home directory from the password database).
// A secret file must be the user's own and private to the user (mode 0600), or it is refused.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>

#include "qError.h"

typedef enum { qShareKeyServer = 0, qShareKeyClient = 1 } qShareKeyPair;

// Length of a key's Z85 text, without its terminating zero.
#define qSHARE_KEY_TEXT_LENGTH 40

// Points this process at another key directory; null or "" goes back to the default.
ZENDRIVAL_EXPORT void qShare_SetKeyDirectory(const char* linkshareDirectory);
// The key directory in use, as one zero-terminated path; qErrSize when size is too small.
ZENDRIVAL_EXPORT qErr qShare_GetKeyDirectory(char* path, size_t size);
// Makes the key directory, clients/ and servers/, and whichever key pair is missing; an existing
// pair is never replaced. On failure qShare_Failure() names what could not be made.
ZENDRIVAL_EXPORT qErr qShare_MakeKeys(void);
// The public key of a pair as Z85 text (qSHARE_KEY_TEXT_LENGTH + 1 bytes) and the path of its
// public certificate; qErrNotFound when the pair is missing, qErrPermission when its secret file
// is refused, with qShare_Failure() saying why.
ZENDRIVAL_EXPORT qErr qShare_GetPublicKey(qShareKeyPair pair, char* text, size_t textSize,
                                          char* certificatePath, size_t pathSize);
