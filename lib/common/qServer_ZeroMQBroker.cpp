// The broker thread: takes requests from clients, hands them one by one to the sync worker and
// routes each reply to the client at the head of the reply queue; fans stream batches out to the
// clients that enabled streaming.
#include "qCzmqSetup.h"
#include "qDebugging.h"
#include "qServer_ZeroMQInternal.h"
#include "qUEI.h"

namespace {

constexpr size_t kFrameCapacity = qPACKET_MAX_WIRE;

std::string receivePart(zsock_t* socket) {
    zmq_msg_t message;
    zmq_msg_init(&message);
    std::string part;
    if (zmq_msg_recv(&message, zsock_resolve(socket), ZMQ_DONTWAIT) >= 0) {
        part.assign(static_cast<const char*>(zmq_msg_data(&message)), zmq_msg_size(&message));
    }
    zmq_msg_close(&message);
    return part;
}

// Reads the rest of a multi-part message so that the next read starts a new one.
void discardRest(zsock_t* socket) {
    while (zsock_rcvmore(socket) != 0) {
        receivePart(socket);
    }
}

void forwardUnpooled(qServer* server, const std::string& identity, const qPacket* packet,
                     const std::string& wire) {
    if (qServer_IsRouteCommand(packet)) {
        qDebug_Print(qDEBUG_SERVER, "Blocking cmdFORCEROUTE from remote client\n");
        return;
    }
    // A request the sync worker never gets is never answered, not even by a drop notice: a
    // client queued for it would take the next client's reply.
    if (qServer_SendToSync(server, wire) && qServer_ExpectsReply(packet)) {
        qServer_QueueForReply(server, identity);
    }
}

void handleServerCommand(qServer* server, const std::string& identity, const std::string& frame) {
    uint8_t command = static_cast<uint8_t>(frame[0]);
    int count = (static_cast<uint8_t>(frame[1]) << 8) | static_cast<uint8_t>(frame[2]);
    if (command == SERVER_CMD_DROPPED_PACKET) {
        qDebug_Print(qDEBUG_SERVER, "dropping id: fifo size: %d\n",
                     static_cast<int>(server->replyQueue.size()));
    } else if (command == SERVER_CMD_INCOMING_PACKETS) {
        for (int i = 0; i < count; i++) {
            server->replyQueue.push_front(identity);
        }
        server->pending = count;
    } else {
        qDebug_Print(qDEBUG_SERVER, "Unknown Server cmd: %d\n", command);
    }
}

void _serverWorker_broker_sync(qServer* server) {
    std::string frame = receivePart(server->syncBroker);
    discardRest(server->syncBroker);
    if (server->replyQueue.empty()) {
        qDebug_Print(qDEBUG_SERVER, "no id to pop\n");
        return;
    }
    std::string identity = server->replyQueue.front();
    server->replyQueue.pop_front();
    // While replies are announced, a frame is a reply packet even when it happens to be as
    // short as a command (a packet with one data byte).
    if (server->pending == 0 && frame.size() == qSERVER_CMD_SIZE) {
        handleServerCommand(server, identity, frame);
        return;
    }
    if (!qServer_SendToClient(server, identity, frame.data(), frame.size())) {
        qDebug_Print(qDEBUG_SERVER, "failed to send sync message\n");
    }
    if (server->pending == 0) {
        qDebug_Print(qDEBUG_SERVER, "Error, sending more packets then expected\n");
    } else {
        server->pending--;
    }
}

void _serverWorker_broker_streaming(qServer* server) {
    std::string batch = receivePart(server->streamingBroker);
    discardRest(server->streamingBroker);
    for (const std::string& identity : server->streamingClients) {
        if (!qServer_SendToClient(server, identity, batch.data(), batch.size())) {
            qDebug_Print(qDEBUG_SERVER, "failed to send id\n");
        }
    }
}

// True when the loop is to end.
bool handleControl(qServer* server, zsock_t* pipe) {
    zmsg_t* message = zmsg_recv(pipe);
    int status = message != nullptr ? zmsg_signal(message) : -1;
    zmsg_destroy(&message);
    if (status == qSERVER_SIGNAL_FLUSH) {
        qDebug_Print(qDEBUG_SERVER, "Flushing FIFO\n");
        server->replyQueue.clear();
        return false;
    }
    qDebug_Print(qDEBUG_SERVER, "pre exit 1\n");
    return true;
}

}  // namespace

void _serverWorker_broker_frontend(qServer* server) {
    std::string identity = receivePart(server->frontend);
    std::string wire = zsock_rcvmore(server->frontend) != 0 ? receivePart(server->frontend) : "";
    discardRest(server->frontend);
    qServer_HandleClientFrame(server, identity, wire);
}

void qServer_HandleClientFrame(qServer* server, const std::string& identity,
                               const std::string& wire) {
    qPacket* packet =
        _zFrame_To_qPacket(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
    if (packet == nullptr) {
        qDebug_Print(qDEBUG_SERVER, "Bad content packet: dSize: %d\n",
                     static_cast<int>(wire.size()));
        return;
    }
    _handleStreamEnable(server, identity, packet);
    bool handled = qUEI_isUEIPayload(packet) && _handleSetUEIBytes(server, identity, packet);
    if (!handled) {
        forwardUnpooled(server, identity, packet, wire);
    }
    qPacket_Destroy(&packet);
}

void _serverWorker_broker(zsock_t* pipe, void* argument) {
    qServer* server = static_cast<qServer*>(argument);
    zpoller_t* poller =
        zpoller_new(pipe, server->syncBroker, server->frontend, server->streamingBroker, nullptr);
    if (poller != nullptr) {
        zpoller_set_nonstop(poller, true);
    }
    if (poller != nullptr && server->discoveryIsBeacon) {
        zpoller_add(poller, server->discovery);
    }
    zsock_signal(pipe, 0);
    while (poller != nullptr) {
        void* which = zpoller_wait(poller, qSERVER_POLL_MS);
        if (which == pipe) {
            if (handleControl(server, pipe)) {
                break;
            }
        } else if (which == server->frontend) {
            _serverWorker_broker_frontend(server);
        } else if (which == server->syncBroker) {
            _serverWorker_broker_sync(server);
        } else if (which == server->streamingBroker) {
            _serverWorker_broker_streaming(server);
        } else if (server->discoveryIsBeacon && which == server->discovery) {
            _serverWorker_broker_beacon(server);
        } else if (qCzmq_PollerEnded(poller)) {
            break;
        }
        qServer_SilenceBeaconWhenDue(server);
    }
    zpoller_destroy(&poller);
}

void qServer_QueueForReply(qServer* server, const std::string& identity) {
    server->replyQueue.push_back(identity);
}

bool qServer_SendToSync(qServer* server, const std::string& wire) {
    if (zmq_send(zsock_resolve(server->syncBroker), wire.data(), wire.size(), ZMQ_DONTWAIT) < 0) {
        qDebug_Print(qDEBUG_SERVER, "Failed to send packet out!\n");
        return false;
    }
    return true;
}

bool qServer_SendToClient(qServer* server, const std::string& identity, const void* bytes,
                          size_t size) {
    void* frontend = zsock_resolve(server->frontend);
    if (zmq_send(frontend, identity.data(), identity.size(), ZMQ_SNDMORE | ZMQ_DONTWAIT) < 0) {
        return false;
    }
    return zmq_send(frontend, bytes, size, ZMQ_DONTWAIT) >= 0;
}

qPacket* _zFrame_To_qPacket(const uint8_t* bytes, size_t size) {
    if (size < qPACKET_HEADER_SIZE || size > kFrameCapacity) {
        return nullptr;
    }
    qPacket* packet = qPacket_Create();
    for (size_t i = 0; packet != nullptr && i < size; i++) {
        if (qPacket_AddByte(packet, bytes[i]) != qErrNone) {
            qPacket_Destroy(&packet);
        }
    }
    if (packet != nullptr && !qPacket_IsComplete(packet)) {
        qPacket_Destroy(&packet);
    }
    return packet;
}

bool qServer_IsRouteCommand(const qPacket* packet) {
    return packet->address == qADDRESS_ROUTE && packet->dataSize == 1;
}

std::string qServer_WireOf(const qPacket* packet) {
    uint8_t wire[qPACKET_MAX_WIRE] = {};
    size_t written = 0;
    if (qPacket_GetBytes(packet, wire, sizeof wire, &written) != qErrNone) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(wire), written);
}
