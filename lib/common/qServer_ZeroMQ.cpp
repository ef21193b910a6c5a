#include <arpa/inet.h>

#include <new>

#include "qCzmqPair.h"
#include "qCzmqSetup.h"
#include "qDebugging.h"
#include "qLinkInternal.h"
#include "qLinkManagerInternal.h"
#include "qLinkSpec.h"
#include "qLinkTransport.h"
#include "unix_discovery.h"
#include "qServer_ZeroMQInternal.h"
#include "qShareFailureInternal.h"

namespace {

// How long start-up waits for a loopback pair to finish connecting.
constexpr int kHandshakeMs = 2000;

// Binds one end on loopback and connects the other. The bound end sends without waiting, which
// a DEALER refuses until the connection is up, so the connected end says hello first.
bool connectPair(zsock_t* bound, zsock_t* connected) {
    if (!qCzmq_ConnectPair(bound, connected)) {
        return false;
    }
    if (zmq_send(zsock_resolve(connected), "", 0, 0) != 0) {
        return false;
    }
    zsock_set_rcvtimeo(bound, kHandshakeMs);
    char hello = 0;
    bool greeted = zmq_recv(zsock_resolve(bound), &hello, sizeof hello, 0) == 0;
    zsock_set_rcvtimeo(bound, -1);
    return greeted;
}

bool createSockets(qServer* server) {
    server->frontend = qCzmq_NewSocket(ZMQ_ROUTER);
    bool pairs = qCzmq_NewSockets(ZMQ_DEALER, {&server->syncBroker, &server->syncWorker,
                                               &server->streamingBroker, &server->streamingFilter});
    return server->frontend != nullptr && pairs;
}

constexpr int kMaxInterfaces = 50;

// A server for the network answers beacons on its interface (the first one when it was given
// none); a server for this machine only, or a machine without interfaces, answers the loopback
// multicast probe instead.
bool _configureInterface(qServer* server) {
    uint32_t interfaces[kMaxInterfaces];
    int count = qDiscovery_ReadIPv4Interfaces(interfaces, kMaxInterfaces);
    qDebug_Print(qDEBUG_DISCOVERY, "_configureInterface found count: %d\n", count);
    if (!server->localOnly && count > 0) {
        uint32_t interface = server->interface;
        if (interface == 0 || interface == htonl(INADDR_LOOPBACK)) {
            interface = interfaces[0];
        }
        return _createBeacon(server, interface);
    }
    server->hostAddress = htonl(INADDR_LOOPBACK);
    server->discoveryIsBeacon = false;
    server->discovery = zactor_new(_serverWorker_multicastDiscovery, server);
    return server->discovery != nullptr;
}

bool startActors(qServer* server) {
    server->broker = zactor_new(_serverWorker_broker, server);
    if (server->broker == nullptr) {
        return false;
    }
    server->sync = zactor_new(_serverWorker_syncCommands, server);
    return server->sync != nullptr;
}

bool _initServer(qServer* server) {
    qCzmq_Prepare();
    bool ok = createSockets(server) && _configureInterface(server) &&
              _findPortAndBindSocket(server) &&
              connectPair(server->streamingBroker, server->streamingFilter) &&
              connectPair(server->syncBroker, server->syncWorker) && startActors(server);
    if (ok) {
        server->pools = new (std::nothrow) std::list<qServerPool>;
        ok = server->pools != nullptr;
    }
    if (ok) {
        qLink_InstallUserPacketFilter(server->linkId, _streamingPacketFilter, server);
        qLink_DrainPackets(server->linkId, qLink_AcceptAll, nullptr);
    }
    if (!ok) {
        qDebug_Print(qDEBUG_SERVER, "Could not find open port\n");
    }
    return ok;
}

void _deinitServer(qServer* server) {
    qLink_InstallUserPacketFilter(server->linkId, nullptr, nullptr);
    qServer_Unregister(server);
    zactor_destroy(&server->sync);
    zactor_destroy(&server->broker);
    zactor_destroy(&server->discovery);
    qCzmq_DestroySockets({&server->frontend, &server->syncBroker, &server->syncWorker,
                          &server->streamingBroker, &server->streamingFilter});
    qServer_ReleaseLocalEndpoint(server);
    qServer_ReleaseFrontendSecurity(server);
    delete server->pools;
    server->pools = nullptr;
}

bool isServer(const qServer* server) {
    return server != nullptr && server->check == qSERVER_CHECK;
}

}  // namespace

qServer* qServer_Create(qLinkID linkId, uint32_t interface, bool localOnly) {
    qLinkEntryRef entry = sLookupEntryByID(linkId);
    if (entry == nullptr) {
        qDebug_Print(qDEBUG_SERVER, "Could not find device Item\n");
        return nullptr;
    }
    const qLinkTransport* transport = qLinkTransport_Find(entry->spec.type);
    uint32_t published = transport != nullptr ? transport->publishedType : linkTypeNone;
    if (published == linkTypeNone) {
        qDebug_Print(qDEBUG_SERVER, "Unhandled linkType: %d\n", static_cast<int>(entry->spec.type));
        return nullptr;
    }
    qServer* server = new (std::nothrow) qServer{};
    if (server == nullptr) {
        return nullptr;
    }
    server->check = qSERVER_CHECK;
    server->linkId = linkId;
    server->publishedType = published;
    server->localOnly = localOnly;
    server->interface = interface != 0 ? interface : htonl(INADDR_LOOPBACK);
    server->localLockFd = -1;
    return server;
}

qErr qServer_Start(qServer* server) {
    if (!isServer(server)) {
        return qErrParam;
    }
    // A reason left by an earlier attempt of this thread must not explain this one.
    qShare_ClearFailure();
    return _initServer(server) ? qErrNone : qErrResource;
}

qErr qServer_Destroy(qServer** server) {
    if (server == nullptr || !isServer(*server)) {
        return qErrParam;
    }
    _deinitServer(*server);
    (*server)->check = 0;
    delete *server;
    *server = nullptr;
    return qErrNone;
}

qErr qServer_GetPort(qServer* server, uint16_t* port) {
    if (!isServer(server) || port == nullptr) {
        return qErrParam;
    }
    *port = server->port;
    return qErrNone;
}

qErr qServer_GetInterface(qServer* server, uint32_t* interface) {
    if (!isServer(server) || interface == nullptr) {
        return qErrParam;
    }
    *interface = server->interface;
    return qErrNone;
}

qErr qServer_SetModuleAddress(qServer* server, uint8_t address) {
    if (!isServer(server)) {
        return qErrParam;
    }
    server->moduleAddress = address;
    qServer_RecordLocalSpec(server);
    return qErrNone;
}

qErr qServer_SetModel(qServer* server, uint8_t model) {
    if (!isServer(server)) {
        return qErrParam;
    }
    server->model = model;
    qServer_RecordLocalSpec(server);
    return qErrNone;
}

qErr qServer_FlushFIFO(qServer* server) {
    if (!isServer(server) || server->broker == nullptr) {
        return qErrParam;
    }
    return zsock_signal(server->broker, qSERVER_SIGNAL_FLUSH) == 0 ? qErrNone : qErrIO;
}
