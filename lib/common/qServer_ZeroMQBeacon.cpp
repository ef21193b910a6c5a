// Discovery over the network: the server listens for searchers' beacons on its interface and
// answers each search with its linkSpec for a couple of seconds, then falls silent again.
#include <arpa/inet.h>

#include <cstring>

#include "discover.h"
#include "qDebugging.h"
#include "qServer_ZeroMQInternal.h"
#include "unix_time.h"
#include "zBeaconInterface.h"

namespace {

constexpr int kAnswerIntervalMs = 100;
constexpr int kBeaconReceiveTimeoutMs = 100;
constexpr uint64_t kAnnounceForMs = 2000;

bool isSearch(zframe_t* signature) {
    size_t length = std::strlen(qDISCOVERY_BEACON_PAYLOAD);
    return signature != nullptr && zframe_size(signature) >= length &&
           std::memcmp(zframe_data(signature), qDISCOVERY_BEACON_PAYLOAD, length) == 0;
}

uint32_t addressOf(const char* dotted) {
    in_addr address{};
    return dotted != nullptr && inet_pton(AF_INET, dotted, &address) == 1 ? address.s_addr : 0;
}

void announce(qServer* server) {
    if (server->model == 0) {
        qDebug_Print(qDEBUG_SERVER, "Discovery not allowed (beacon), model not set.\n");
        return;
    }
    uint8_t answer[sizeof(linkSpec)];
    _createNetworkSpec(server, answer);
    zsock_send(server->discovery, "sbi", "PUBLISH", answer, sizeof answer, kAnswerIntervalMs);
    server->announcing = true;
    server->announcedAt = qTime_GetMSTicks();
}

}  // namespace

bool _createBeacon(qServer* server, uint32_t interface) {
    char dotted[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = interface;
    inet_ntop(AF_INET, &address, dotted, sizeof dotted);
    // The beacon takes the process-wide interface setting when it is configured.
    if (!zBeaconInterface_setAndLock(dotted)) {
        return false;
    }
    server->discovery = zactor_new(zbeacon, nullptr);
    char* host = nullptr;
    if (server->discovery != nullptr) {
        zsock_send(server->discovery, "si", "CONFIGURE", static_cast<int>(qDISCOVERY_BEACON_PORT));
        host = zstr_recv(server->discovery);
    }
    zBeaconInterface_unlock();
    server->hostAddress = addressOf(host);
    zstr_free(&host);
    if (server->discovery == nullptr || server->hostAddress == 0) {
        zactor_destroy(&server->discovery);
        return false;
    }
    server->discoveryIsBeacon = true;
    server->interface = interface;
    zsock_send(server->discovery, "sb", "SUBSCRIBE", qDISCOVERY_BEACON_PAYLOAD,
               std::strlen(qDISCOVERY_BEACON_PAYLOAD));
    zsock_set_rcvtimeo(server->discovery, kBeaconReceiveTimeoutMs);
    return true;
}

void _serverWorker_broker_beacon(qServer* server) {
    char* sender = zstr_recv(server->discovery);
    zframe_t* signature = sender != nullptr ? zframe_recv(server->discovery) : nullptr;
    if (isSearch(signature)) {
        if (server->localOnly && addressOf(sender) != server->hostAddress) {
            qDebug_Print(qDEBUG_SERVER, "Heard outside beacon, ignoring because we are local\n");
            server->announcing = true;
            server->announcedAt = qTime_GetMSTicks();
        }
        if (!server->announcing) {
            announce(server);
        }
    }
    zframe_destroy(&signature);
    zstr_free(&sender);
}

void qServer_SilenceBeaconWhenDue(qServer* server) {
    if (!server->discoveryIsBeacon || !server->announcing) {
        return;
    }
    if (qTime_GetMSTicks() - server->announcedAt > kAnnounceForMs) {
        zstr_sendx(server->discovery, "SILENCE", nullptr);
        server->announcing = false;
        qDebug_Print(qDEBUG_SERVER, "Beacon silenced\n");
    }
}
