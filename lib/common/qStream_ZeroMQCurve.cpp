// The CURVE side of a network client. Every check that can fail without the server is made
// before the socket connects, so a client that would be refused, or that does not trust the
// server, sends nothing at all. The handshake is watched through a socket monitor: ZeroMQ would
// otherwise retry a refused handshake quietly for ever, and the client would only see its
// requests time out.
#include "qStream_ZeroMQCurve.h"

#include <cstring>

#include "qCzmqPair.h"
#include "qDebugging.h"
#include "qShareFailureInternal.h"
#include "unix_time.h"

namespace {

constexpr int kWatchedEvents = ZMQ_EVENT_HANDSHAKE_SUCCEEDED | ZMQ_EVENT_HANDSHAKE_FAILED_AUTH |
                               ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL |
                               ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL | ZMQ_EVENT_DISCONNECTED;

bool isZero(const uint8_t key[qSHARE_KEY_BYTES]) {
    for (size_t i = 0; i < qSHARE_KEY_BYTES; i++) {
        if (key[i] != 0) {
            return false;
        }
    }
    return true;
}

qErr checkServerKey(const std::string& endpoint, const uint8_t key[qSHARE_KEY_BYTES]) {
    if (isZero(key)) {
        qShare_SetFailure(
            "No key is known for the link server at %s; it is reached only with the "
            "key its discovery answer carries",
            endpoint.c_str());
        return qErrConfiguration;
    }
    if (!qShareKeys_TrustsServer(key)) {
        qShare_SetFailure("The link server at %s has the key %s, which is not trusted (not in %s)",
                          endpoint.c_str(), qShareKeys_Text(key).c_str(),
                          qShareKeys_ServersDirectory().c_str());
        return qErrPermission;
    }
    return qErrNone;
}

qErr applyKeys(zsock_t* socket, const uint8_t serverKey[qSHARE_KEY_BYTES]) {
    qErr err = qErrNone;
    zcert_t* own = qShareKeys_Load(qShareKeyClient, &err);
    if (own == nullptr) {
        return err == qErrNotFound ? qErrConfiguration : err;
    }
    zcert_apply(own, socket);
    zcert_destroy(&own);
    zsock_set_curve_serverkey_bin(socket, serverKey);
    return qErrNone;
}

// The next monitor event, or 0 when none comes within waitMs.
int nextEvent(zsock_t* watcher, int waitMs) {
    zsock_set_rcvtimeo(watcher, waitMs);
    zmsg_t* message = zmsg_recv(watcher);
    if (message == nullptr) {
        return 0;
    }
    zframe_t* header = zmsg_first(message);
    uint16_t event = 0;
    if (header != nullptr && zframe_size(header) >= sizeof event) {
        memcpy(&event, zframe_data(header), sizeof event);
    }
    zmsg_destroy(&message);
    return event;
}

qErr outcomeOf(int event, const std::string& endpoint, const uint8_t key[qSHARE_KEY_BYTES]) {
    switch (event) {
        case ZMQ_EVENT_HANDSHAKE_SUCCEEDED:
            return qErrNone;
        case ZMQ_EVENT_HANDSHAKE_FAILED_AUTH:
            qShare_SetFailure("The link server at %s refused this client's key (%s)",
                              endpoint.c_str(),
                              qShareKeys_CertificatePath(qShareKeyClient).c_str());
            return qErrConnection;
        case 0:
            qShare_SetFailure("No handshake with the link server at %s within %d ms",
                              endpoint.c_str(), qCLIENT_HANDSHAKE_WAIT_MS);
            return qErrTimeout;
        default:
            qShare_SetFailure(
                "The link server at %s failed the handshake: it does not hold the "
                "key %s",
                endpoint.c_str(), qShareKeys_Text(key).c_str());
            return qErrConnection;
    }
}

// Connects and waits for the first event that ends the handshake one way or the other.
qErr connectWatched(zsock_t* socket, zsock_t* watcher, const std::string& endpoint,
                    const uint8_t key[qSHARE_KEY_BYTES]) {
    if (zsock_connect(socket, "tcp://%s", endpoint.c_str()) != 0) {
        qShare_SetFailure("Cannot connect to tcp://%s", endpoint.c_str());
        return qErrConnection;
    }
    const uint64_t deadline = qTime_GetMSTicks() + qCLIENT_HANDSHAKE_WAIT_MS;
    int event = 0;
    for (uint64_t now = qTime_GetMSTicks(); event == 0 && now < deadline;
         now = qTime_GetMSTicks()) {
        event = nextEvent(watcher, static_cast<int>(deadline - now));
    }
    qDebug_Print(qDEBUG_CLIENT, "Client handshake event: 0x%X\n", static_cast<unsigned>(event));
    return outcomeOf(event, endpoint, key);
}

}  // namespace

qErr qStream_ConnectCurve(zsock_t* socket, const std::string& endpoint,
                          const uint8_t serverKey[qSHARE_KEY_BYTES]) {
    qErr err = checkServerKey(endpoint, serverKey);
    if (err == qErrNone) {
        err = applyKeys(socket, serverKey);
    }
    if (err != qErrNone) {
        return err;
    }
    char monitor[64];
    qCzmq_NewInprocEndpoint("monitor", monitor, sizeof monitor);
    if (zmq_socket_monitor(zsock_resolve(socket), monitor, kWatchedEvents) != 0) {
        qShare_SetFailure("Cannot watch the handshake with the link server at %s",
                          endpoint.c_str());
        return qErrResource;
    }
    zsock_t* watcher = zsock_new_pair(monitor);
    err = watcher != nullptr ? connectWatched(socket, watcher, endpoint, serverKey) : qErrResource;
    zmq_socket_monitor(zsock_resolve(socket), nullptr, 0);
    zsock_destroy(&watcher);
    return err;
}
