// The link server's state and the procedures of its worker threads. The broker thread alone uses
// the frontend, the reply queue, the streaming list and the pools; the sync thread alone uses
// its end of the sync pair; the link's reader thread alone uses the streaming pair's sending end.
#pragma once

#include <czmq.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <vector>

#include "qLink.h"
#include "qPacket.h"
#include "qServer_ZeroMQ.h"

constexpr uint32_t qSERVER_CHECK = 0x5E7E;
constexpr int qSERVER_POOL_TTL = 2000;
constexpr int qSERVER_POLL_MS = 1000;
// Control-pipe status that empties the reply queue.
constexpr int qSERVER_SIGNAL_FLUSH = 5;

// Packets of one client's multi-packet UEI byte write, held until the run is complete so that
// no other client's packet reaches the module in between.
struct qServerPool {
    std::string identity;
    int ttl;
    uint8_t lastSequence;
    std::vector<std::string> packets;
};

// A batch of stream packets goes out once it holds more than this many bytes.
constexpr size_t qSERVER_BATCH_LIMIT = 4065;

struct qServer {
    uint32_t check;
    qLinkID linkId;
    uint32_t publishedType;
    std::atomic<uint8_t> model;
    std::atomic<uint8_t> moduleAddress;
    bool localOnly;
    uint32_t interface;
    uint32_t hostAddress;
    uint16_t port;
    // A server for this machine only serves endpoint localNumber of localDirectory and holds
    // its lock file open (localLockFd) for as long as it runs; -1 otherwise.
    std::string localDirectory;
    uint32_t localNumber;
    int localLockFd;
    // A server for the network is a CURVE server: its public key goes into its discovery
    // answers, and it holds the process's ZAP handler while it runs. All zeros otherwise.
    uint8_t publicKey[32];
    bool holdsAuthenticator;
    // The frontend's in-process endpoint, through which clients in this process connect.
    char ownerEndpoint[64];
    zsock_t* frontend;
    zsock_t* syncBroker;
    zsock_t* syncWorker;
    zsock_t* streamingBroker;
    zsock_t* streamingFilter;
    zactor_t* broker;
    zactor_t* sync;
    zactor_t* discovery;
    bool discoveryIsBeacon;
    bool announcing;
    uint64_t announcedAt;
    std::deque<std::string> replyQueue;
    int pending;
    std::list<qServerPool>* pools;
    std::vector<std::string> streamingClients;
    uint8_t batch[qSERVER_BATCH_LIMIT + qPACKET_MAX_WIRE + 1];
    size_t batchLength;
};

// Broker side.
void _serverWorker_broker(zsock_t* pipe, void* argument);
void _serverWorker_broker_frontend(qServer* server);
// What the broker does with one client message once it has read it off the frontend.
void qServer_HandleClientFrame(qServer* server, const std::string& identity,
                               const std::string& wire);
void _handleStreamEnable(qServer* server, const std::string& identity, const qPacket* packet);
// True when the packet was taken into a pool (possibly completing and sending it).
bool _handleSetUEIBytes(qServer* server, const std::string& identity, const qPacket* packet);
// Queues the client for the reply of one request going to the module.
void qServer_QueueForReply(qServer* server, const std::string& identity);
// A route command (route address, one data byte): only the link's owner may give one.
bool qServer_IsRouteCommand(const qPacket* packet);
// Hands a packet's wire form to the sync worker without waiting; false when the sync worker's
// queue is full and the packet is dropped.
bool qServer_SendToSync(qServer* server, const std::string& wire);

// Sync side.
void _serverWorker_syncCommands(zsock_t* pipe, void* argument);
// The module answers a request unless it is a route packet or a full UEI byte-write packet with
// more of the same write to follow.
bool qServer_ExpectsReply(const qPacket* packet);
// A full UEI bytes packet (of a UEI payload, or of the upgrade loader's UEI block data) whose
// trailer says more of the same value follows.
bool qServer_ContinuesUEIBytes(const qPacket* packet);

// Reader-thread side.
uint8_t _streamingPacketFilter(const qPacket* packet, void* reference);

// Frames and packets.
qPacket* _zFrame_To_qPacket(const uint8_t* bytes, size_t size);
std::string qServer_WireOf(const qPacket* packet);
// Sends [identity, bytes] on the frontend without waiting.
bool qServer_SendToClient(qServer* server, const std::string& identity, const void* bytes,
                          size_t size);

// Frontend endpoints.
// Binds the frontend where this server's clients reach it: an ipc endpoint in the user's private
// directory for a server of this machine only, else a TCP port on its interface; and in-process
// for clients of the same process.
bool _findPortAndBindSocket(qServer* server);
// Clients of this process no longer find the server.
void qServer_Unregister(qServer* server);
// Frees the endpoint number of a server for this machine only, once its frontend is closed.
void qServer_ReleaseLocalEndpoint(qServer* server);
// Keeps the discovery record of a server for this machine only up to date.
void qServer_RecordLocalSpec(qServer* server);
// The in-process endpoint of the server in this process that serves address:port (network byte
// order), or "" when none does.
std::string qServer_InprocEndpointFor(uint32_t ipAddress, uint16_t port);

// The process's ZAP handler, started for the first server for the network and stopped after
// the last; false (with the failure recorded) when it cannot start.
bool qServer_AcquireAuthenticator();
void qServer_ReleaseAuthenticator();
// Makes the frontend a CURVE server with the server's key pair, checked by the ZAP handler;
// false (with the failure recorded) when the pair or the handler is missing. Before binding.
bool qServer_SecureFrontend(qServer* server);
// Lets the ZAP handler go, once the frontend is closed.
void qServer_ReleaseFrontendSecurity(qServer* server);

// Discovery.
void _createNetworkSpec(qServer* server, uint8_t answer[128]);
void _serverWorker_multicastDiscovery(zsock_t* pipe, void* argument);
// Starts the beacon on an interface (network byte order); its address becomes the host address.
bool _createBeacon(qServer* server, uint32_t interface);
// Handles one beacon heard: a searcher's signature is answered unless an answer is running.
void _serverWorker_broker_beacon(qServer* server);
// Stops an answer that has run long enough.
void qServer_SilenceBeaconWhenDue(qServer* server);
