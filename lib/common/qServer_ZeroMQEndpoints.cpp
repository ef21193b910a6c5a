// Where a link server's frontend listens. A server for this machine only is reached through an
// ipc socket in its user's private directory, so that no other user can send its module a
// packet; a server for the network listens on a TCP port of its interface. Either way clients in
// the server's own process (its owner among them) connect in-process, which nobody else can.
#include <arpa/inet.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "qCzmqPair.h"
#include "qDebugging.h"
#include "qLocalShare.h"
#include "qServer_ZeroMQInternal.h"
#include "qShareFailureInternal.h"
#include "unix_discovery.h"

namespace {

using Address = std::pair<uint32_t, uint16_t>;

// The servers of this process by the address their linkSpec announces.
std::mutex registryLock;
std::map<Address, std::string>& registry() {
    static std::map<Address, std::string> servers;
    return servers;
}

// What a client of this process may name the server by: the address its linkSpec announces,
// and the interface it was made with (the owner's client asks there).
std::vector<Address> addressesOf(const qServer* server) {
    std::vector<Address> addresses{{server->interface, server->port}};
    if (server->localOnly && server->interface != htonl(INADDR_LOOPBACK)) {
        addresses.push_back({htonl(INADDR_LOOPBACK), server->port});
    }
    return addresses;
}

bool bindLocal(qServer* server) {
    std::string failure;
    if (!qLocalShare_Directory(&server->localDirectory, &failure)) {
        qShare_SetFailure("%s", failure.c_str());
        return false;
    }
    if (qLocalShare_Claim(server->localDirectory, &server->localNumber, &server->localLockFd) !=
        qErrNone) {
        qShare_SetFailure("No free shared link endpoint in %s", server->localDirectory.c_str());
        return false;
    }
    // A second wall behind the directory's: the socket itself takes only this user's peers.
    int uid = static_cast<int>(getuid());
    if (zmq_setsockopt(zsock_resolve(server->frontend), ZMQ_IPC_FILTER_UID, &uid, sizeof uid) !=
        0) {
        qDebug_Print(qDEBUG_SERVER, "ipc peer filter not available: %s\n",
                     zmq_strerror(zmq_errno()));
    }
    const std::string path = qLocalShare_SocketPath(server->localDirectory, server->localNumber);
    if (zsock_bind(server->frontend, "ipc://%s", path.c_str()) != 0) {
        qShare_SetFailure("Cannot serve the shared link at %s", path.c_str());
        return false;
    }
    server->port = static_cast<uint16_t>(server->localNumber);
    return true;
}

// Anyone who hears the beacon can reach the port, so only clients with an allowed key get in.
bool bindNetwork(qServer* server) {
    if (!qServer_SecureFrontend(server)) {
        return false;
    }
    char interface[INET_ADDRSTRLEN] = {};
    qDiscovery_ConvertIPv4Interface(server->interface, interface, sizeof interface);
    int port = zsock_bind(server->frontend, "tcp://%s:*", interface);
    if (port <= 0) {
        qShare_SetFailure("Cannot listen on %s", interface);
        return false;
    }
    server->port = static_cast<uint16_t>(port);
    return true;
}

bool bindInProcess(qServer* server) {
    qCzmq_NewInprocEndpoint("server", server->ownerEndpoint, sizeof server->ownerEndpoint);
    if (zsock_bind(server->frontend, "%s", server->ownerEndpoint) != 0) {
        return false;
    }
    std::lock_guard<std::mutex> guard(registryLock);
    for (const Address& address : addressesOf(server)) {
        registry()[address] = server->ownerEndpoint;
    }
    return true;
}

}  // namespace

bool _findPortAndBindSocket(qServer* server) {
    bool bound = server->localOnly ? bindLocal(server) : bindNetwork(server);
    return bound && bindInProcess(server);
}

void qServer_Unregister(qServer* server) {
    std::lock_guard<std::mutex> guard(registryLock);
    for (const Address& address : addressesOf(server)) {
        auto found = registry().find(address);
        if (found != registry().end() && found->second == server->ownerEndpoint) {
            registry().erase(found);
        }
    }
}

void qServer_ReleaseLocalEndpoint(qServer* server) {
    qLocalShare_Release(server->localDirectory, server->localNumber, &server->localLockFd);
}

void qServer_RecordLocalSpec(qServer* server) {
    if (server->localLockFd < 0) {
        return;
    }
    linkSpec spec{};
    _createNetworkSpec(server, reinterpret_cast<uint8_t*>(&spec));
    if (qLocalShare_Record(server->localLockFd, spec) != qErrNone) {
        qDebug_Print(qDEBUG_SERVER, "Could not record the shared link's linkSpec\n");
    }
}

std::string qServer_InprocEndpointFor(uint32_t ipAddress, uint16_t port) {
    std::lock_guard<std::mutex> guard(registryLock);
    auto found = registry().find({ipAddress, port});
    return found != registry().end() ? found->second : std::string();
}
