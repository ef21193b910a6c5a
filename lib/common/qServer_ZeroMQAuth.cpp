// The process's ZAP handler. ZeroMQ asks it about every CURVE handshake on any socket of the
// context, so one handler serves all link servers for the network in the process. A CURVE server
// socket without a handler would let every client key in: a server that cannot have one does
// not start.
#include <cstring>
#include <mutex>

#include "qServer_ZeroMQInternal.h"
#include "qShareFailureInternal.h"
#include "qShareKeysInternal.h"

namespace {

std::mutex authLock;
zactor_t* authenticator = nullptr;
int users = 0;

zactor_t* startAuthenticator(const std::string& clients) {
    zactor_t* actor = zactor_new(zauth, nullptr);
    if (actor == nullptr) {
        return nullptr;
    }
    // Only the certificates in clients/ pass, never any key at all; the handler reads the
    // directory again when it changes, so a certificate copied in later counts.
    if (zstr_sendx(actor, "CURVE", clients.c_str(), nullptr) != 0 || zsock_wait(actor) != 0) {
        zactor_destroy(&actor);
    }
    return actor;
}

}  // namespace

bool qServer_AcquireAuthenticator() {
    std::lock_guard<std::mutex> guard(authLock);
    if (authenticator == nullptr) {
        const std::string clients = qShareKeys_ClientsDirectory();
        authenticator = startAuthenticator(clients);
        if (authenticator == nullptr) {
            qShare_SetFailure("Cannot start the key check for %s", clients.c_str());
            return false;
        }
    }
    users++;
    return true;
}

void qServer_ReleaseAuthenticator() {
    std::lock_guard<std::mutex> guard(authLock);
    if (users > 0 && --users == 0) {
        zactor_destroy(&authenticator);
    }
}

bool qServer_SecureFrontend(qServer* server) {
    qErr err = qErrNone;
    zcert_t* cert = qShareKeys_Load(qShareKeyServer, &err);
    if (cert == nullptr) {
        return false;
    }
    if (!qServer_AcquireAuthenticator()) {
        zcert_destroy(&cert);
        return false;
    }
    server->holdsAuthenticator = true;
    zcert_apply(cert, server->frontend);
    zsock_set_curve_server(server->frontend, 1);
    memcpy(server->publicKey, zcert_public_key(cert), sizeof server->publicKey);
    zcert_destroy(&cert);
    return true;
}

void qServer_ReleaseFrontendSecurity(qServer* server) {
    if (server->holdsAuthenticator) {
        qServer_ReleaseAuthenticator();
        server->holdsAuthenticator = false;
    }
}
