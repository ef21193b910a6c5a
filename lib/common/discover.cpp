// Module discovery: the dispatch by link type, the find functions, the interface list, and the
// search for links that link servers share (on this machine by the loopback multicast probe, on
// the network by beacons).
#include "discover.h"
#include "qCzmqSetup.h"

#include <arpa/inet.h>
#include <czmq.h>
#include <cstring>
#include <string>
#include <vector>

#include "qDebugging.h"
#include "qLocalShare.h"
#include "qMulticast.h"
#include "unix_discovery.h"
#include "zBeaconInterface.h"

namespace {

constexpr int kMaxInterfaces = 50;
constexpr size_t kIPv4TextSize = 16;
// Larger than a linkSpec, so that a longer datagram is seen as such and not taken for a linkSpec.
constexpr size_t kProbeReplyBuffer = 256;
constexpr int kBeaconIntervalMs = 100;
constexpr int kBeaconReceiveTimeoutMs = 100;
constexpr int kBeaconReceiveAttempts = 22;

bool listed(const std::vector<linkSpec>& specs, const linkSpec& spec) {
    for (const linkSpec& known : specs) {
        if (_isNewSpec(&known, &spec)) {
            return true;
        }
    }
    return false;
}

// A link server heard twice in one search is reported once.
bool alreadyReported(const qSharedLinkSearch& search, const linkSpec& spec) {
    return listed(search.seen, spec);
}

bool onThisMachine(const qSharedLinkSearch& search, const linkSpec& spec) {
    return spec.ipAddress == qDISCOVERY_LOCALHOST ||
           (search.hostAddress != 0 && spec.ipAddress == search.hostAddress);
}

// Asks the link server that holds request port n for its linkSpec. False when the callback wants no
// more.
bool askLoopbackServer(qSharedLinkSearch* search, int n) {
    uint16_t requestPort = static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REQUEST_PORT + n);
    uint16_t replyPort = static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REPLY_PORT + n);
    qMulticast* receiver =
        qMulticast_Create(0, qDISCOVERY_LOOPBACK_GROUP, replyPort, qMULTICAST_RECEIVER);
    qMulticast* sender =
        qMulticast_Create(0, qDISCOVERY_LOOPBACK_GROUP, requestPort, qMULTICAST_SENDER);
    bool more = true;
    if (receiver != nullptr && sender != nullptr) {
        const uint8_t request[4] = {
            static_cast<uint8_t>(qDISCOVERY_LOOPBACK_REQUEST),
            static_cast<uint8_t>(qDISCOVERY_LOOPBACK_REQUEST >> 8),
            static_cast<uint8_t>(qDISCOVERY_LOOPBACK_REQUEST >> 16),
            static_cast<uint8_t>(qDISCOVERY_LOOPBACK_REQUEST >> 24),
        };
        qMulticast_Send(sender, request, sizeof(request));
        uint8_t reply[kProbeReplyBuffer];
        int received = qMulticast_Receive(receiver, reply, sizeof(reply));
        if (received == static_cast<int>(sizeof(linkSpec))) {
            more = qDiscovery_OfferSharedLink(search, reply, static_cast<size_t>(received));
        } else if (received >= 0) {
            qDebug_Print(qDEBUG_DISCOVERY, "Unknown Error sending request message: %d\n", received);
        }
    }
    if (receiver != nullptr) {
        qMulticast_Destroy(&receiver);
    }
    if (sender != nullptr) {
        qMulticast_Destroy(&sender);
    }
    return more;
}

// A link server on this machine holds its request port as a multicast receiver, so a port that
// cannot be taken is a port with a server behind it.
int _findLinkSpecs_multicast(qSharedLinkSearch* search) {
    for (int n = 0; n < qDISCOVERY_LOOPBACK_PORT_COUNT; ++n) {
        uint16_t requestPort = static_cast<uint16_t>(qDISCOVERY_LOOPBACK_REQUEST_PORT + n);
        qMulticast* probe =
            qMulticast_Create(0, qDISCOVERY_LOOPBACK_GROUP, requestPort, qMULTICAST_RECEIVER);
        if (probe != nullptr) {
            qMulticast_Destroy(&probe);
            continue;
        }
        if (!askLoopbackServer(search, n)) {
            break;
        }
    }
    return search->count;
}

// Receives beacons until the attempts run out or the callback wants no more.
void listenForBeacons(qSharedLinkSearch* search, zactor_t* beacon) {
    for (int attempt = 0; attempt < kBeaconReceiveAttempts; ++attempt) {
        zmsg_t* message = zmsg_recv(beacon);
        if (message == nullptr) {
            continue;
        }
        char* sender = zmsg_popstr(message);
        zframe_t* payload = zmsg_pop(message);
        bool more = true;
        if (payload != nullptr && zframe_size(payload) == sizeof(linkSpec)) {
            more = qDiscovery_OfferSharedLink(search, zframe_data(payload), zframe_size(payload));
        } else {
            qDebug_Print(qDEBUG_DISCOVERY, "Beacon from %s ignored\n",
                         sender != nullptr ? sender : "?");
        }
        zframe_destroy(&payload);
        zstr_free(&sender);
        zmsg_destroy(&message);
        if (!more) {
            break;
        }
    }
}

int _findLinkSpecs_beacon(qSharedLinkSearch* search) {
    qCzmq_Prepare();
    zactor_t* beacon = zactor_new(zbeacon, nullptr);
    if (beacon == nullptr) {
        return 0;
    }
    zsock_send(beacon, "si", "CONFIGURE", static_cast<int>(qDISCOVERY_BEACON_PORT));
    char* host = zstr_recv(beacon);
    if (host != nullptr && host[0] != '\0') {
        in_addr address{};
        if (inet_pton(AF_INET, host, &address) == 1) {
            search->hostAddress = address.s_addr;
        }
        qDebug_Print(qDEBUG_DISCOVERY, "Beacon search from %s\n", host);
        zsock_send(beacon, "sbi", "PUBLISH", qDISCOVERY_BEACON_PAYLOAD,
                   strlen(qDISCOVERY_BEACON_PAYLOAD), kBeaconIntervalMs);
        zsock_send(beacon, "sb", "SUBSCRIBE", "", static_cast<size_t>(0));
        zsock_set_rcvtimeo(beacon, kBeaconReceiveTimeoutMs);
        listenForBeacons(search, beacon);
        zstr_sendx(beacon, "SILENCE", nullptr);
        zstr_sendx(beacon, "UNSUBSCRIBE", nullptr);
    } else {
        qDebug_Print(qDEBUG_DISCOVERY, "No interface for beacons\n");
    }
    zstr_free(&host);
    zactor_destroy(&beacon);
    return search->count;
}

// The links this user shares on this machine are those its private directory shows served; the
// loopback probe is still asked, for the links it serves, but believed only for those.
int findLinksOfThisUser(qDiscoveryCallback callback, void* reference) {
    std::string directory;
    std::string failure;
    if (!qLocalShare_Directory(&directory, &failure)) {
        qDebug_Print(qDEBUG_DISCOVERY, "%s\n", failure.c_str());
        return 0;
    }
    const std::vector<linkSpec> served = qLocalShare_LiveLinks(directory);
    qSharedLinkSearch search{callback, reference, true, 0, {}, 0, &served};
    for (const linkSpec& spec : served) {
        if (!qDiscovery_OfferSharedLink(&search, reinterpret_cast<const uint8_t*>(&spec),
                                        sizeof spec)) {
            return search.count;
        }
    }
    return _findLinkSpecs_multicast(&search);
}

bool cbSNCallback(const linkSpec* spec, bool* found, void* reference) {
    linkSpec* wanted = static_cast<linkSpec*>(reference);
    if (spec->serialNumber != wanted->serialNumber) {
        return true;
    }
    memcpy(wanted, spec, sizeof(linkSpec));
    *found = true;
    return false;
}

bool cbFirstCallback(const linkSpec* spec, bool* found, void* reference) {
    if (spec->serialNumber == 0) {
        return true;
    }
    memcpy(reference, spec, sizeof(linkSpec));
    *found = true;
    return false;
}

linkSpec* findWith(uint32_t type, qDiscoveryCallback callback, linkSpec* result,
                   uint32_t networkInterface) {
    if (result == nullptr) {
        return nullptr;
    }
    if (qDiscovery_EnumerateModules(type, callback, result, networkInterface) == 0) {
        qLinkSpec_Destroy(&result);
    }
    return result;
}

}  // namespace

bool qDiscovery_OfferSharedLink(qSharedLinkSearch* search, const uint8_t* payload, size_t length) {
    if (search == nullptr || search->callback == nullptr || payload == nullptr ||
        length != sizeof(linkSpec)) {
        return true;
    }
    linkSpec heard;
    memcpy(&heard, payload, sizeof(heard));
    if (alreadyReported(*search, heard)) {
        return true;
    }
    if (search->thisMachineOnly && !onThisMachine(*search, heard)) {
        qDebug_Print(qDEBUG_DISCOVERY, "We are in local mode, ignoring(1)\n");
        return true;
    }
    if (search->servedHere != nullptr && !listed(*search->servedHere, heard)) {
        qDebug_Print(qDEBUG_DISCOVERY, "Answer for port %u names no shared link of ours\n",
                     static_cast<unsigned>(heard.port));
        return true;
    }
    search->seen.push_back(heard);
    linkSpec* spec = qLinkSpec_Copy(&heard);
    if (spec == nullptr) {
        return true;
    }
    bool found = false;
    bool more = search->callback(spec, &found, search->reference);
    qLinkSpec_Destroy(&spec);
    if (found) {
        ++search->count;
    }
    return more;
}

int qDiscovery_EnumerateModules(uint32_t type, qDiscoveryCallback callback, void* reference,
                                uint32_t networkInterface) {
    if (callback == nullptr) {
        return 0;
    }
    switch (type) {
        case linkTypeUSB:
            return qDiscovery_Enumerate_USBModules(callback, reference);
        case linkTypeTCPIP:
            return qDiscovery_Enumerate_TCPIPModules(callback, reference, networkInterface);
        case linkTypeNetworkClient:
        case linkTypeNetworkClientUSB:
        case linkTypeNetworkClientTCPIP:
        case linkTypeNetworkClientSerial:
            return qDiscovery_Enumerate_VexnetModules(callback, reference, networkInterface);
        default:
            return 0;
    }
}

int qDiscovery_Enumerate_VexnetModules(qDiscoveryCallback callback, void* reference,
                                       uint32_t networkInterface) {
    if (callback == nullptr) {
        return 0;
    }
    bool thisMachineOnly = networkInterface == 0 || networkInterface == qDISCOVERY_LOCALHOST;
    uint32_t interfaces[kMaxInterfaces];
    int interfaceCount = qDiscovery_GetIPv4Interfaces(interfaces, kMaxInterfaces);
    if (thisMachineOnly || interfaceCount == 0) {
        return findLinksOfThisUser(callback, reference);
    }
    char text[kIPv4TextSize];
    if (qDiscovery_ConvertIPv4Interface(networkInterface, text, sizeof(text)) == 0 ||
        !zBeaconInterface_backupSetAndLock(text)) {
        return 0;
    }
    qSharedLinkSearch search{callback, reference, false, 0, {}, 0};
    int count = _findLinkSpecs_beacon(&search);
    zBeaconInterface_restoreAndUnlock();
    return count;
}

linkSpec* qDiscovery_FindModule(uint32_t type, uint32_t serialNumber, uint32_t networkInterface) {
    linkSpec* wanted = qLinkSpec_Create(type);
    if (wanted != nullptr) {
        wanted->serialNumber = serialNumber;
    }
    return findWith(type, cbSNCallback, wanted, networkInterface);
}

linkSpec* qDiscovery_FindFirstModule(uint32_t type, uint32_t networkInterface) {
    return findWith(type, cbFirstCallback, qLinkSpec_Create(type), networkInterface);
}

int qDiscovery_ReadIPv4Interfaces(uint32_t* addresses, int max) {
    if (addresses == nullptr || max <= 0) {
        return 0;
    }
    qCzmq_Prepare();
    ziflist_t* list = ziflist_new();
    if (list == nullptr) {
        return -1;
    }
    int count = 0;
    for (const char* name = ziflist_first(list); name != nullptr && count < max;
         name = ziflist_next(list)) {
        const char* text = ziflist_address(list);
        in_addr address{};
        if (text != nullptr && inet_pton(AF_INET, text, &address) == 1) {
            addresses[count++] = address.s_addr;
        } else {
            qDebug_Print(qDEBUG_DISCOVERY, "Interface %s skipped: %s\n", name,
                         text != nullptr ? text : "no address");
        }
    }
    ziflist_destroy(&list);
    return count;
}

int qDiscovery_GetIPv4Interfaces(uint32_t* addresses, int max) {
    if (addresses == nullptr || max <= 0) {
        return 0;
    }
    int count = qDiscovery_ReadIPv4Interfaces(addresses, max);
    return count < 0 ? 0 : count;
}

size_t qDiscovery_ConvertIPv4Interface(uint32_t address, char* buffer, size_t size) {
    if (buffer == nullptr || size < kIPv4TextSize) {
        return 0;
    }
    in_addr value{};
    value.s_addr = address;
    if (inet_ntop(AF_INET, &value, buffer, static_cast<socklen_t>(size)) == nullptr) {
        return 0;
    }
    return strlen(buffer);
}
