// The sync thread: puts one request at a time on the published link and waits for the module's
// answer, so that replies come back in the order of the broker's reply queue.
#include <vector>

#include "qCzmqSetup.h"
#include "qDebugging.h"
#include "qServer_ZeroMQInternal.h"
#include "qUEI.h"

namespace {

// How long the module may take to answer one request.
constexpr uint32_t kReplyWaitMs = 2000;

void sendCommand(qServer* server, uint8_t command, uint16_t count) {
    uint8_t frame[qSERVER_CMD_SIZE] = {command, static_cast<uint8_t>(count >> 8),
                                       static_cast<uint8_t>(count & 0xFF)};
    zmq_send(zsock_resolve(server->syncWorker), frame, sizeof frame, ZMQ_DONTWAIT);
}

void _printZVPacket(const qPacket* packet) {
    if (packet->dataSize < 2) {
        qDebug_Print(qDEBUG_SERVER, "Weird Packet: Address: %d, Size: %d\n", packet->address,
                     packet->dataSize);
        return;
    }
    qDebug_Print(qDEBUG_SERVER, "Address: %d, Size: %d Data: ", packet->address, packet->dataSize);
    for (uint8_t i = 0; i < packet->dataSize; i++) {
        qDebug_Print(qDEBUG_SERVER, "0x%X ", packet->data[i]);
    }
}

// Collects the answer: one packet, or a run of full UEI byte packets and the one that ends it.
std::vector<qPacket*> awaitReply(qServer* server) {
    std::vector<qPacket*> replies;
    while (replies.empty() || qServer_ContinuesUEIBytes(replies.back())) {
        qPacket* reply = qLink_AwaitPacket(server->linkId, kReplyWaitMs);
        if (reply == nullptr) {
            break;
        }
        replies.push_back(reply);
    }
    return replies;
}

void sendReplies(qServer* server, std::vector<qPacket*>& replies) {
    sendCommand(server, SERVER_CMD_INCOMING_PACKETS, static_cast<uint16_t>(replies.size()));
    for (qPacket*& reply : replies) {
        std::string wire = qServer_WireOf(reply);
        if (zmq_send(zsock_resolve(server->syncWorker), wire.data(), wire.size(), ZMQ_DONTWAIT) <
            0) {
            qDebug_Print(qDEBUG_SERVER, "Failed to SENDY-SEND!\n");
        }
        qPacket_Destroy(&reply);
    }
}

void _serverWorker_syncCommands_syncBackend(qServer* server) {
    zframe_t* frame = zframe_recv(server->syncWorker);
    if (frame == nullptr) {
        return;
    }
    qPacket* packet = _zFrame_To_qPacket(zframe_data(frame), zframe_size(frame));
    zframe_destroy(&frame);
    if (packet == nullptr) {
        qDebug_Print(qDEBUG_SERVER, "bad-packet\n");
        return;
    }
    qErr err = qLink_PutPacket(server->linkId, packet);
    if (err != qErrNone) {
        sendCommand(server, SERVER_CMD_DROPPED_PACKET, 0);
        qDebug_Print(qDEBUG_SERVER, "DROPPED PACKET!\n");
        _printZVPacket(packet);
        qDebug_Print(qDEBUG_SERVER, "Failed to PUT packet: err: %d\n", err);
    } else if (!qServer_ExpectsReply(packet)) {
        qDebug_Print(qDEBUG_SERVER, "don't wait on this packet\n");
    } else {
        std::vector<qPacket*> replies = awaitReply(server);
        if (replies.empty()) {
            sendCommand(server, SERVER_CMD_DROPPED_PACKET, 0);
            qDebug_Print(qDEBUG_SERVER, "Failed to AWAIT packet\n");
        } else {
            sendReplies(server, replies);
        }
    }
    qPacket_Destroy(&packet);
}

}  // namespace

bool qServer_ExpectsReply(const qPacket* packet) {
    return packet->address != qADDRESS_ROUTE && !qServer_ContinuesUEIBytes(packet);
}

namespace {

// The upgrade loader also takes a whole block as one UEI byte-sequence value: a request of the
// upgrade command whose option byte has the get or set flag. Its own sub-commands (DATA, SUM, ...)
// are plain and never carry those flags.
bool isUpgradeUEIRequest(const qPacket* packet) {
    return qVALIDPACKET(packet) && packet->dataSize > qUEI_OPTION_BYTE &&
           packet->data[0] == cmdUPGRADE &&
           (packet->data[qUEI_OPTION_BYTE] & (qUEI_OPTION_GET | qUEI_OPTION_SET)) != 0;
}

}  // namespace

// Only UEI values carry a byte-sequence trailer. The last byte of any other packet is plain data
// (an upgrade DATA piece, a store slot's bytes) and says nothing about packets to follow.
bool qServer_ContinuesUEIBytes(const qPacket* packet) {
    return (qUEI_isUEIPayload(packet) || isUpgradeUEIRequest(packet)) &&
           qUEI_getBytesFullPacket(packet) && qUEI_getBytesContinue(packet);
}

void _serverWorker_syncCommands(zsock_t* pipe, void* argument) {
    qServer* server = static_cast<qServer*>(argument);
    zpoller_t* poller = zpoller_new(pipe, server->syncWorker, nullptr);
    if (poller != nullptr) {
        zpoller_set_nonstop(poller, true);
    }
    zsock_signal(pipe, 0);
    while (poller != nullptr) {
        void* which = zpoller_wait(poller, qSERVER_POLL_MS);
        if (which == pipe) {
            zmsg_t* message = zmsg_recv(pipe);
            zmsg_destroy(&message);
            break;
        }
        if (which == server->syncWorker) {
            _serverWorker_syncCommands_syncBackend(server);
        } else if (qCzmq_PollerEnded(poller)) {
            break;
        }
    }
    zpoller_destroy(&poller);
}
