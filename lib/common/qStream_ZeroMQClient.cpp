#include "qStream_ZeroMQClient.h"

#include <arpa/inet.h>
#include <czmq.h>

#include <cstdio>
#include <new>
#include <string>

#include "qCzmqPair.h"
#include "qCzmqSetup.h"
#include "qLocalShare.h"
#include "qServer_ZeroMQInternal.h"
#include "qShareFailureInternal.h"
#include "qStream_ZeroMQCurve.h"
#include "qDebugging.h"
#include "unix_time.h"

namespace {

constexpr uint32_t kClientCheck = 0xC11E;
// How long the client's get waits for the worker's next frame.
constexpr int kPollMs = 1000;
static_assert(kPollMs <= qSTREAM_GET_WAIT_LIMIT_MS, "a client get would wait too long");
// Sends to the client's own loopback sockets only fail while ZeroMQ is still connecting them.
constexpr int kSendAttempts = 100;

struct ClientStream {
    uint32_t check = kClientCheck;
    zsock_t* server = nullptr;
    // Writer thread -> worker.
    zsock_t* outgoingWriter = nullptr;
    zsock_t* outgoingWorker = nullptr;
    // Worker -> reader thread.
    zsock_t* incomingWorker = nullptr;
    zsock_t* incomingReader = nullptr;
    zpoller_t* poller = nullptr;
    zactor_t* actor = nullptr;
    zframe_t* frame = nullptr;
    size_t position = 0;
    size_t size = 0;
};

// Passes one frame on, retrying a full queue for a moment.
int forwardFrame(zframe_t* frame, zsock_t* to, int attempts) {
    int rc = -1;
    for (int attempt = 0; attempt < attempts; attempt++) {
        rc = zmq_send(zsock_resolve(to), zframe_data(frame), zframe_size(frame), ZMQ_DONTWAIT);
        if (rc >= 0) {
            return rc;
        }
        if (attempt + 1 < attempts) {
            qTime_MSSleep(1);
        }
    }
    return rc;
}

void brokerTask(zsock_t* pipe, void* argument) {
    ClientStream* client = static_cast<ClientStream*>(argument);
    zpoller_t* poller = zpoller_new(pipe, client->server, client->outgoingWorker, nullptr);
    if (poller != nullptr) {
        zpoller_set_nonstop(poller, true);
    }
    zsock_signal(pipe, 0);
    while (poller != nullptr) {
        // A program that let CZMQ catch Ctrl+C would otherwise never end on it.
        qCzmq_PassOnInterrupt();
        zsock_t* which = static_cast<zsock_t*>(zpoller_wait(poller, kPollMs));
        if (which == pipe) {
            zmsg_t* message = zmsg_recv(pipe);
            zmsg_destroy(&message);
            qDebug_Print(qDEBUG_CLIENT, "Client task exit\n");
            break;
        }
        if (which == nullptr) {
            if (qCzmq_PollerEnded(poller)) {
                break;
            }
            continue;
        }
        zframe_t* frame = zframe_recv(which);
        if (frame == nullptr) {
            continue;
        }
        if (which == client->server) {
            int rc = forwardFrame(frame, client->incomingWorker, kSendAttempts);
            if (rc < 0) {
                qDebug_Print(qDEBUG_CLIENT, "Client send error Frontend->incomming: %d\n", rc);
            }
        } else {
            int rc = forwardFrame(frame, client->server, 1);
            if (rc < 0) {
                qDebug_Print(qDEBUG_CLIENT, "Client send error Frontend->client: %d\n", rc);
            }
        }
        zframe_destroy(&frame);
    }
    zpoller_destroy(&poller);
}

void releaseClient(ClientStream* client) {
    zactor_destroy(&client->actor);
    zpoller_destroy(&client->poller);
    qCzmq_DestroySockets({&client->server, &client->outgoingWriter, &client->outgoingWorker,
                          &client->incomingWorker, &client->incomingReader});
    zframe_destroy(&client->frame);
    client->check = 0;
    delete client;
}

ClientStream* toClient(void* reference) {
    ClientStream* client = static_cast<ClientStream*>(reference);
    return client != nullptr && client->check == kClientCheck ? client : nullptr;
}

// Waits for the next frame from the worker.
qErr takeFrame(ClientStream* client) {
    void* which = zpoller_wait(client->poller, kPollMs);
    if (which == nullptr) {
        return qErrNotReady;
    }
    if (which != client->incomingReader) {
        return qErrUnknown;
    }
    client->frame = zframe_recv(client->incomingReader);
    if (client->frame == nullptr) {
        return qErrIO;
    }
    client->position = 0;
    client->size = zframe_size(client->frame);
    return qErrNone;
}

qErr clientGet(uint8_t* byte, void* reference) {
    ClientStream* client = toClient(reference);
    if (client == nullptr || byte == nullptr) {
        return qErrIO;
    }
    while (client->frame == nullptr) {
        qErr err = takeFrame(client);
        if (err != qErrNone) {
            return err;
        }
        // An empty message carries no byte; wait for the next one.
        if (client->size == 0) {
            zframe_destroy(&client->frame);
        }
    }
    if (client->position >= client->size) {
        return qErrIndexRange;
    }
    *byte = zframe_data(client->frame)[client->position++];
    if (client->position == client->size) {
        zframe_destroy(&client->frame);
    }
    return qErrNone;
}

qErr clientPut(uint8_t byte, void* reference) {
    (void)byte;
    (void)reference;
    return qErrUnimplemented;
}

qErr clientWrite(const uint8_t* bytes, size_t length, void* reference) {
    ClientStream* client = toClient(reference);
    if (client == nullptr || bytes == nullptr) {
        return qErrNone;
    }
    int rc = -1;
    for (int attempt = 0; attempt < kSendAttempts && rc < 0; attempt++) {
        rc = zmq_send(zsock_resolve(client->outgoingWriter), bytes, length, ZMQ_DONTWAIT);
        if (rc < 0) {
            qTime_MSSleep(1);
        }
    }
    if (rc < 0) {
        qDebug_Print(qDEBUG_CLIENT, "--Client send error outgoing->frontend: %d\n", rc);
    }
    // A lost packet shows up as a missing reply; the link writer has nothing better to do.
    return qErrNone;
}

qErr clientDelete(void* reference) {
    ClientStream* client = toClient(reference);
    if (client == nullptr) {
        return qErrIO;
    }
    qDebug_Print(qDEBUG_CLIENT, "Client delete: start\n");
    releaseClient(client);
    qDebug_Print(qDEBUG_CLIENT, "Client delete: end\n");
    return qErrNone;
}

bool createSockets(ClientStream* client) {
    return qCzmq_NewSockets(ZMQ_DEALER,
                            {&client->server, &client->outgoingWriter, &client->outgoingWorker,
                             &client->incomingWorker, &client->incomingReader});
}

qErr connectPairs(ClientStream* client) {
    if (!qCzmq_ConnectPair(client->outgoingWriter, client->outgoingWorker)) {
        qDebug_Print(qDEBUG_CLIENT, "client: outgoing connecting fail\n");
        return qErrConnection;
    }
    if (!qCzmq_ConnectPair(client->incomingWorker, client->incomingReader)) {
        qDebug_Print(qDEBUG_CLIENT, "client: incoming connecting fail\n");
        return qErrConnection;
    }
    return qErrNone;
}

qErr connectTo(ClientStream* client, const char* transport, const std::string& where) {
    int rc = zsock_connect(client->server, "%s%s", transport, where.c_str());
    if (rc != 0) {
        qDebug_Print(qDEBUG_CLIENT, "Error connecting to socket: %d(rc)\n", rc);
        qShare_SetFailure("Cannot connect to %s%s", transport, where.c_str());
        return qErrConnection;
    }
    return qErrNone;
}

// A shared link of this user on this machine: its socket is checked first, so that a link that
// is not there, or not ours, is told apart before anything is sent.
qErr connectLocal(ClientStream* client, const std::string& socketPath) {
    qErr err = qLocalShare_CheckConnect(socketPath);
    return err == qErrNone ? connectTo(client, "ipc://", socketPath) : err;
}

// A server in this process is reached in-process; one for this machine only at its endpoint
// number (the port of its linkSpec) in this user's directory; any other over TCP, as a CURVE
// client of the server key the linkSpec carries.
qErr connectServer(ClientStream* client, const linkSpec& spec) {
    const uint16_t port = static_cast<uint16_t>(spec.port);
    const std::string inproc = qServer_InprocEndpointFor(spec.ipAddress, port);
    if (!inproc.empty()) {
        return connectTo(client, "", inproc);
    }
    if (spec.ipAddress == htonl(INADDR_LOOPBACK)) {
        std::string directory;
        std::string failure;
        if (!qLocalShare_Directory(&directory, &failure)) {
            qShare_SetFailure("%s", failure.c_str());
            return qErrPermission;
        }
        return connectLocal(client, qLocalShare_SocketPath(directory, port));
    }
    in_addr address{};
    address.s_addr = spec.ipAddress;
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, dotted, sizeof dotted);
    return qStream_ConnectCurve(client->server, std::string(dotted) + ":" + std::to_string(port),
                                spec.reserved);
}

// Makes the client's sockets and worker around a server socket that connect has connected.
template <typename Connect>
qErr createClient(qStream** stream, Connect connect) {
    if (stream == nullptr) {
        return qErrParam;
    }
    qShare_ClearFailure();
    qCzmq_Prepare();
    ClientStream* client = new (std::nothrow) ClientStream;
    if (client == nullptr) {
        return qErrMemory;
    }
    if (!createSockets(client)) {
        releaseClient(client);
        return qErrMemory;
    }
    qErr err = connectPairs(client);
    if (err == qErrNone) {
        err = connect(client);
    }
    if (err != qErrNone) {
        releaseClient(client);
        return err;
    }
    client->poller = zpoller_new(client->incomingReader, nullptr);
    if (client->poller != nullptr) {
        zpoller_set_nonstop(client->poller, true);
    }
    client->actor = client->poller != nullptr ? zactor_new(brokerTask, client) : nullptr;
    qStream* made = client->actor != nullptr
                        ? qStream_Create(clientGet, clientPut, clientWrite, clientDelete, client)
                        : nullptr;
    if (made == nullptr) {
        releaseClient(client);
        return qErrResource;
    }
    *stream = made;
    return qErrNone;
}

}  // namespace

qErr qStream_CreateClient(uint32_t ipAddress, uint16_t port, qStream** stream) {
    // Without a linkSpec there is no server key: a server on the network is not reached.
    linkSpec spec = qLinkSpec_Of(linkTypeNetworkClient, 0);
    spec.ipAddress = ipAddress;
    spec.port = port;
    return qStream_CreateClientForSpec(&spec, stream);
}

qErr qStream_CreateClientForSpec(const linkSpec* spec, qStream** stream) {
    if (spec == nullptr) {
        return qErrParam;
    }
    const linkSpec copy = *spec;
    return createClient(stream,
                        [copy](ClientStream* client) { return connectServer(client, copy); });
}

qErr qStream_CreateClientAtPath(const char* socketPath, qStream** stream) {
    if (socketPath == nullptr) {
        return qErrParam;
    }
    const std::string path = socketPath;
    return createClient(stream,
                        [path](ClientStream* client) { return connectLocal(client, path); });
}
