// Fuzzes the link server's handling of what its clients send: each message is a client identity
// and a frame, run through the broker's frontend step (frame to packet, stream subscription,
// pooling of multi-packet UEI byte writes, the reply queue, forwarding to the sync worker).
//
// The broker reads its frontend and writes to its end of the sync pair, so both are real
// ZeroMQ sockets here, over inproc only: the frontend is fed by a DEALER that passes the
// [identity, frame] parts exactly as a ROUTER delivers them (with identities the input chooses),
// and a DEALER in the sync worker's place collects what the broker forwards. The stand-in sockets
// have no high-water mark, so that every frame forwarded is seen; or, as when the sync worker
// falls behind, a sync pair that holds only a couple of frames, so that forwarding fails. The
// first messages of an input travel through the sockets; repeated messages and those after them
// go straight to the step that follows the read, so that a pool can run out of time within one
// quick input.
//
// Input: a byte whose bit 0 chooses the narrow sync pair, then messages of a header byte (bits 0-1
// the client, bit 2 no frame part, bit 3 one part too many, bit 4 repeat the message as often as
// the next byte says), a length byte and the frame.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "qCzmqSetup.h"
#include "qServer_ZeroMQInternal.h"
#include "qUEI.h"

namespace {

const std::string kClients[] = {std::string("\0\x80\x00\x00\x29", 5), "B", "",
                                "a client with a longer identity"};
constexpr uint8_t kClientMask = 3;
constexpr uint8_t kNoFrame = 4;
constexpr uint8_t kExtraPart = 8;
constexpr uint8_t kRepeat = 16;
constexpr size_t kRepeatUnit = 16;
constexpr size_t kLengthRange = 48;
// Enough for a pool to run out of time within one input.
constexpr size_t kMaxMessages = qSERVER_POOL_TTL + 128;
constexpr size_t kMaxSocketMessages = 64;

struct Sockets {
    zsock_t* frontend = nullptr;
    zsock_t* client = nullptr;
    zsock_t* syncBroker = nullptr;
    zsock_t* syncWorker = nullptr;
    zsock_t* narrowSyncBroker = nullptr;
    zsock_t* narrowSyncWorker = nullptr;
};

// A high-water mark of 0 means none.
zsock_t* dealer(int highWaterMark) {
    zsock_t* socket = zsock_new(ZMQ_DEALER);
    if (socket != nullptr) {
        zsock_set_linger(socket, 0);
        zsock_set_sndhwm(socket, highWaterMark);
        zsock_set_rcvhwm(socket, highWaterMark);
    }
    return socket;
}

bool pair(zsock_t* bound, zsock_t* connected, const char* endpoint) {
    return bound != nullptr && connected != nullptr && zsock_bind(bound, "%s", endpoint) == 0 &&
           zsock_connect(connected, "%s", endpoint) == 0;
}

Sockets* made = nullptr;

// Before CZMQ's own clean-up at exit, which would report the sockets as left open.
void closeSockets() {
    zsock_destroy(&made->frontend);
    zsock_destroy(&made->client);
    zsock_destroy(&made->syncBroker);
    zsock_destroy(&made->syncWorker);
    zsock_destroy(&made->narrowSyncBroker);
    zsock_destroy(&made->narrowSyncWorker);
    delete made;
    made = nullptr;
}

// Made once: inproc endpoints cannot be bound twice in one process.
const Sockets* sockets() {
    if (made == nullptr) {
        qCzmq_Prepare();
        made = new Sockets{dealer(0), dealer(0), dealer(0), dealer(0), dealer(1), dealer(1)};
        if (!pair(made->frontend, made->client, "inproc://fuzz-server-frontend") ||
            !pair(made->syncBroker, made->syncWorker, "inproc://fuzz-server-sync") ||
            !pair(made->narrowSyncBroker, made->narrowSyncWorker,
                  "inproc://fuzz-server-narrow-sync")) {
            abort();
        }
        atexit(closeSockets);
    }
    return made;
}

// Every part waiting on a socket, as separate strings.
std::vector<std::string> drain(zsock_t* socket) {
    std::vector<std::string> parts;
    for (;;) {
        zmq_msg_t message;
        zmq_msg_init(&message);
        if (zmq_msg_recv(&message, zsock_resolve(socket), ZMQ_DONTWAIT) < 0) {
            zmq_msg_close(&message);
            return parts;
        }
        parts.emplace_back(static_cast<const char*>(zmq_msg_data(&message)),
                           zmq_msg_size(&message));
        zmq_msg_close(&message);
    }
}

struct Message {
    const std::string* identity;
    std::string frame;
    bool hasFrame;
    bool extraPart;
};

void send(const Message& message) {
    void* client = zsock_resolve(sockets()->client);
    const bool more = message.hasFrame || message.extraPart;
    zmq_send(client, message.identity->data(), message.identity->size(), more ? ZMQ_SNDMORE : 0);
    if (message.hasFrame) {
        zmq_send(client, message.frame.data(), message.frame.size(),
                 message.extraPart ? ZMQ_SNDMORE : 0);
    }
    if (message.extraPart) {
        zmq_send(client, "x", 1, 0);
    }
}

// The frame the broker takes from a message: the part after the identity, if any.
std::string frameSeen(const Message& message) {
    if (message.hasFrame) {
        return message.frame;
    }
    return message.extraPart ? std::string("x") : std::string();
}

qPacket* packetOf(const std::string& wire) {
    return _zFrame_To_qPacket(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
}

bool isValidFrame(const std::string& wire) {
    qPacket* packet = packetOf(wire);
    bool valid = packet != nullptr;
    qPacket_Destroy(&packet);
    return valid;
}

bool isRouteCommand(const qPacket* packet) {
    return packet->address == qADDRESS_ROUTE && packet->dataSize == 1;
}

bool isUEI(const std::string& wire) {
    qPacket* packet = packetOf(wire);
    bool uei = packet != nullptr && qUEI_isUEIPayload(packet);
    qPacket_Destroy(&packet);
    return uei;
}

bool opensPool(const std::string& wire) {
    return wire.size() == qPACKET_MAX_WIRE && (uint8_t(wire.back()) & qUEI_BYTES_CONTINUE) != 0 &&
           (uint8_t(wire.back()) & qUEI_BYTES_SEQUENCE_MASK) == 0;
}

bool hasPool(const qServer& server, const std::string& identity) {
    return std::any_of(server.pools->begin(), server.pools->end(),
                       [&identity](const qServerPool& pool) { return pool.identity == identity; });
}

constexpr size_t kClientCount = sizeof kClients / sizeof kClients[0];

// Ages of the clients' pools in UEI packets handled since they opened; kNoPool when none.
constexpr size_t kNoPool = SIZE_MAX;
using PoolAges = std::array<size_t, kClientCount>;

size_t clientIndex(const std::string& identity) {
    for (size_t i = 0; i < kClientCount; ++i) {
        if (kClients[i] == identity) {
            return i;
        }
    }
    abort();  // only the input's clients talk to this broker
}

// What the broker holds between messages stays bounded: one pool per client, each within its
// time to live, and each client subscribed to streams at most once.
void checkState(const qServer& server, PoolAges* poolAges, bool uei) {
    PoolAges ages;
    ages.fill(kNoPool);
    for (const qServerPool& pool : *server.pools) {
        const size_t client = clientIndex(pool.identity);
        if (ages[client] != kNoPool || pool.packets.empty() ||
            pool.packets.size() > size_t(qSERVER_POOL_TTL) + 1) {
            abort();
        }
        // Every UEI packet counts every pool down by one; one that has run out goes with the next.
        const size_t earlier = (*poolAges)[client];
        const bool fresh =
            earlier == kNoPool || (pool.ttl == qSERVER_POOL_TTL && pool.packets.size() == 1);
        const size_t age = fresh ? 0 : earlier + (uei ? 1 : 0);
        if (age > size_t(qSERVER_POOL_TTL) || pool.ttl < 0 ||
            size_t(pool.ttl) != qSERVER_POOL_TTL - age) {
            abort();
        }
        ages[client] = age;
    }
    *poolAges = ages;
    const std::vector<std::string>& clients = server.streamingClients;
    for (size_t i = 0; i < clients.size(); ++i) {
        clientIndex(clients[i]);
        if (std::find(clients.begin() + i + 1, clients.end(), clients[i]) != clients.end()) {
            abort();
        }
    }
}

// Everything forwarded is a packet for the module, never a route command of a client; the result
// is how many of them the sync worker will await a reply for (and then answer the broker once).
size_t checkFrames(const std::vector<std::string>& forwarded) {
    size_t awaited = 0;
    for (const std::string& wire : forwarded) {
        qPacket* packet = packetOf(wire);
        if (packet == nullptr || isRouteCommand(packet)) {
            abort();
        }
        awaited += qServer_ExpectsReply(packet) ? 1 : 0;
        qPacket_Destroy(&packet);
    }
    return awaited;
}

// The client waits for as many replies as the sync worker will send back, or replies would reach
// the wrong clients from then on.
void checkReplyQueue(const qServer& server, const std::string& identity, size_t queuedBefore,
                     size_t awaited) {
    if (server.replyQueue.size() != queuedBefore + awaited) {
        abort();
    }
    for (size_t i = queuedBefore; i < server.replyQueue.size(); ++i) {
        if (server.replyQueue[i] != identity) {
            abort();
        }
    }
}

// What one message did: dropped, forwarded as it came, held in a pool, or a completed run.
void checkForwarded(const qServer& server, const Message& message, size_t queuedBefore,
                    const std::vector<std::string>& forwarded, bool everyFrameArrives) {
    const size_t awaited = checkFrames(forwarded);
    checkReplyQueue(server, *message.identity, queuedBefore, awaited);
    const std::string frame = frameSeen(message);
    qPacket* packet = packetOf(frame);
    if (packet == nullptr || isRouteCommand(packet)) {
        if (!forwarded.empty()) {
            abort();
        }
    } else if (!everyFrameArrives) {
        // Forwarding may fail here; what did arrive was checked above.
    } else if (forwarded.empty()) {
        if (!hasPool(server, *message.identity)) {
            abort();
        }
    } else if (forwarded.size() == 1) {
        if (forwarded[0] != frame) {
            abort();
        }
    } else if (!opensPool(forwarded.front()) || forwarded.back() != frame || awaited > 1) {
        // A completed run goes out whole: its opening packet first, this one last.
        abort();
    }
    qPacket_Destroy(&packet);
}

// The broker under test, with the end of the sync pair that stands in for the sync worker.
struct Broker {
    qServer* server;
    zsock_t* syncWorker;
    bool narrow;
    PoolAges poolAges;
};

void handleThroughSockets(Broker* broker, const Message& message) {
    qServer* server = broker->server;
    const size_t queuedBefore = server->replyQueue.size();
    send(message);
    _serverWorker_broker_frontend(server);
    checkForwarded(*server, message, queuedBefore, drain(broker->syncWorker), !broker->narrow);
    checkState(*server, &broker->poolAges, isUEI(frameSeen(message)));
}

void handleRepeated(Broker* broker, const Message& message, size_t count) {
    qServer* server = broker->server;
    const size_t queuedBefore = server->replyQueue.size();
    const std::string frame = frameSeen(message);
    const bool uei = isUEI(frame);
    for (size_t i = 0; i < count; ++i) {
        qServer_HandleClientFrame(server, *message.identity, frame);
        checkState(*server, &broker->poolAges, uei);
    }
    checkReplyQueue(*server, *message.identity, queuedBefore,
                    checkFrames(drain(broker->syncWorker)));
}

Message readMessage(const uint8_t* data, size_t size, size_t* position, size_t* repeat) {
    const uint8_t header = data[(*position)++];
    Message message{&kClients[header & kClientMask], std::string(), (header & kNoFrame) == 0,
                    (header & kExtraPart) != 0};
    *repeat = 1;
    if ((header & kRepeat) != 0 && *position < size) {
        *repeat = (size_t(data[(*position)++]) + 1) * kRepeatUnit;
    }
    if (*position < size) {
        size_t length = data[(*position)++] % kLengthRange;
        length = std::min(length, size - *position);
        message.frame.assign(reinterpret_cast<const char*>(data + *position), length);
        *position += length;
    }
    return message;
}

// The broker read whole messages and sent nothing back to clients; what it holds is packets.
void checkAtEnd(const qServer& server) {
    if (!drain(sockets()->frontend).empty() || !drain(sockets()->client).empty()) {
        abort();
    }
    for (const qServerPool& pool : *server.pools) {
        for (const std::string& wire : pool.packets) {
            if (!isValidFrame(wire)) {
                abort();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const Sockets* s = sockets();
    const bool narrow = (data[0] & 1) != 0;
    qServer* server = new qServer{};
    server->check = qSERVER_CHECK;
    server->frontend = s->frontend;
    server->syncBroker = narrow ? s->narrowSyncBroker : s->syncBroker;
    server->pools = new std::list<qServerPool>;
    Broker broker{server, narrow ? s->narrowSyncWorker : s->syncWorker, narrow, {}};
    broker.poolAges.fill(kNoPool);
    size_t handled = 0;
    size_t position = 1;
    while (position < size && handled < kMaxMessages) {
        size_t repeat = 1;
        const Message message = readMessage(data, size, &position, &repeat);
        repeat = std::min(repeat, kMaxMessages - handled);
        if (repeat == 1 && handled < kMaxSocketMessages) {
            handleThroughSockets(&broker, message);
        } else {
            handleRepeated(&broker, message, repeat);
        }
        handled += repeat;
    }
    checkAtEnd(*server);
    delete server->pools;
    delete server;
    return 0;
}
