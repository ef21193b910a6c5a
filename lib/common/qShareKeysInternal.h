// The key directory of network sharing, for the link server and the client stream.
#pragma once

#include <czmq.h>

#include <cstdint>
#include <string>

#include "qError.h"
#include "qShareKeys.h"

// A CURVE public key in binary form.
constexpr size_t qSHARE_KEY_BYTES = 32;

std::string qShareKeys_Directory();
// DIR/server.key or DIR/client.key (the secret file is that path with "_secret").
std::string qShareKeys_CertificatePath(qShareKeyPair pair);
std::string qShareKeys_ClientsDirectory();
std::string qShareKeys_ServersDirectory();
// The pair with its secret key, once its secret file has been found private to the user; null
// with the reason recorded (qShare_Failure) and *err set to qErrNotFound or qErrPermission.
zcert_t* qShareKeys_Load(qShareKeyPair pair, qErr* err);
// True when the key is that of a certificate in servers/.
bool qShareKeys_TrustsServer(const uint8_t key[qSHARE_KEY_BYTES]);
// The key as Z85 text.
std::string qShareKeys_Text(const uint8_t key[qSHARE_KEY_BYTES]);
