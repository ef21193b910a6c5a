// Discovery answers of a link server on this machine: it holds a loopback multicast request port
// and answers the probe with the linkSpec a client needs to connect.
#include <arpa/inet.h>

#include <cstring>

#include "discover.h"
#include "qDebugging.h"
#include "qLinkManagerInternal.h"
#include "qLinkSpec.h"
#include "qMulticast.h"
#include "qServer_ZeroMQInternal.h"

namespace {

constexpr int kSearchRounds = 50;

struct Endpoints {
    qMulticast* receiver = nullptr;
    qMulticast* sender = nullptr;
    int offset = -1;
};

// The first request port no other server holds, with its reply port.
bool openEndpoints(Endpoints* endpoints) {
    uint32_t loopback = htonl(INADDR_LOOPBACK);
    for (int round = 0; round < kSearchRounds; round++) {
        for (int k = 0; k < qDISCOVERY_LOOPBACK_PORT_COUNT; k++) {
            endpoints->receiver = qMulticast_Create(
                loopback, qDISCOVERY_LOOPBACK_GROUP,
                static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REQUEST_PORT + k), qMULTICAST_RECEIVER);
            if (endpoints->receiver != nullptr) {
                endpoints->offset = k;
                break;
            }
        }
        if (endpoints->receiver == nullptr) {
            continue;
        }
        endpoints->sender = qMulticast_Create(
            loopback, qDISCOVERY_LOOPBACK_GROUP,
            static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REPLY_PORT + endpoints->offset),
            qMULTICAST_SENDER);
        if (endpoints->sender != nullptr) {
            return true;
        }
        qMulticast_Destroy(&endpoints->receiver);
    }
    return false;
}

bool isProbe(const uint8_t* bytes, int size) {
    uint32_t value = 0;
    if (size != static_cast<int>(sizeof value)) {
        return false;
    }
    std::memcpy(&value, bytes, sizeof value);
    return value == qDISCOVERY_LOOPBACK_REQUEST;
}

void answerProbe(qServer* server, qMulticast* sender) {
    qDebug_Print(qDEBUG_SERVER, "We got the multicast magic value\n");
    if (server->model == 0) {
        qDebug_Print(qDEBUG_SERVER, "Discovery not allowed (Multicast), model not set.\n");
        return;
    }
    uint8_t answer[sizeof(linkSpec)];
    _createNetworkSpec(server, answer);
    int sent = qMulticast_Send(sender, answer, sizeof answer);
    qDebug_Print(qDEBUG_SERVER, "Sent: %d to the reply port\n", sent);
}

bool stopRequested(zsock_t* pipe) {
    zpoller_t* poller = zpoller_new(pipe, nullptr);
    if (poller != nullptr) {
        zpoller_set_nonstop(poller, true);
    }
    // The receive time-out already paces the loop; the pipe is only checked between receives.
    bool stop = poller != nullptr && zpoller_wait(poller, 0) == pipe;
    zpoller_destroy(&poller);
    return stop;
}

}  // namespace

void _createNetworkSpec(qServer* server, uint8_t answer[128]) {
    linkSpec described;
    std::memset(&described, 0, sizeof described);
    qLinkEntryRef entry = sLookupEntryByID(server->linkId);
    described.type = server->publishedType;
    described.serialNumber = entry != nullptr ? entry->spec.serialNumber : 0;
    described.module = server->moduleAddress;
    described.model = server->model;
    described.ipAddress = server->localOnly ? htonl(INADDR_LOOPBACK) : server->hostAddress;
    described.port = server->port;
    // The client checks this key against the servers it trusts before it connects.
    if (!server->localOnly) {
        std::memcpy(described.reserved, server->publicKey, sizeof server->publicKey);
    }
    qDebug_Print(qDEBUG_BEACON, "Creating Network Spec: Address: %d, Port: %d\n", described.module,
                 described.port);
    std::memcpy(answer, &described, sizeof described);
}

void _serverWorker_multicastDiscovery(zsock_t* pipe, void* argument) {
    qServer* server = static_cast<qServer*>(argument);
    Endpoints endpoints;
    bool open = openEndpoints(&endpoints);
    zsock_signal(pipe, 0);
    if (open) {
        qDebug_Print(qDEBUG_MULTICAST, "Discovery port offset: %d\n", endpoints.offset);
    }
    while (!stopRequested(pipe)) {
        if (!open) {
            zpoller_t* poller = zpoller_new(pipe, nullptr);
            if (poller != nullptr) {
                zpoller_set_nonstop(poller, true);
            }
            zpoller_wait(poller, qSERVER_POLL_MS);
            zpoller_destroy(&poller);
            continue;
        }
        uint8_t request[4] = {};
        int size = qMulticast_Receive(endpoints.receiver, request, sizeof request);
        if (isProbe(request, size)) {
            answerProbe(server, endpoints.sender);
        }
    }
    zmsg_t* message = zmsg_recv(pipe);
    zmsg_destroy(&message);
    qMulticast_Destroy(&endpoints.receiver);
    qMulticast_Destroy(&endpoints.sender);
}
