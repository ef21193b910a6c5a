// Finding modules before linking to them: USB modules on this machine, modules with their own
// TCP/IP port that answer the multicast request, and links that other processes share through a
// link server. Every module found is described by a linkSpec handed to a caller's callback.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qError.h"
#include "qLinkSpec.h"

// UDP ports and groups of the discovery exchanges.
constexpr uint16_t qDISCOVERY_TCPIP_REQUEST_PORT = 9888;
constexpr uint16_t qDISCOVERY_TCPIP_REPLY_PORT = 9889;
constexpr const char* qDISCOVERY_TCPIP_GROUP = "232.2.2.2";
constexpr size_t qDISCOVERY_TCPIP_MESSAGE_SIZE = 16;
constexpr const char* qDISCOVERY_LOOPBACK_GROUP = "224.0.0.7";
constexpr uint16_t qDISCOVERY_LOOPBACK_REQUEST_PORT = 9850;
constexpr uint16_t qDISCOVERY_LOOPBACK_REPLY_PORT = 9950;
constexpr int qDISCOVERY_LOOPBACK_PORT_COUNT = 50;
constexpr uint32_t qDISCOVERY_LOOPBACK_REQUEST = 0xABCDDCBA;
constexpr uint16_t qDISCOVERY_BEACON_PORT = 8585;
constexpr const char* qDISCOVERY_BEACON_PAYLOAD = "Zendrival2-Discovery";
// 127.0.0.1 in network byte order, as it lies in memory on this little-endian platform.
constexpr uint32_t qDISCOVERY_LOCALHOST = 0x0100007F;

// Called once per module found. Sets *found when it accepts the linkSpec; returns false to stop.
// The linkSpec is released after the call: a callback that keeps it copies all 128 bytes.
typedef bool (*qDiscoveryCallback)(const linkSpec* spec, bool* found, void* reference);

// Number of linkSpecs the callback accepted. networkInterface: IPv4, network byte order.
ZENDRIVAL_EXPORT int qDiscovery_EnumerateModules(uint32_t type, qDiscoveryCallback callback,
                                                 void* reference, uint32_t networkInterface);
ZENDRIVAL_EXPORT int qDiscovery_Enumerate_VexnetModules(qDiscoveryCallback callback,
                                                        void* reference, uint32_t networkInterface);
// One search for the links that link servers share: the modules reported so far, and whether
// only links on this machine count (those at 127.0.0.1 or at hostAddress, the beacon's own
// address, 0 when unknown).
struct qSharedLinkSearch {
    qDiscoveryCallback callback;
    void* reference;
    bool thisMachineOnly;
    uint32_t hostAddress;
    std::vector<linkSpec> seen;
    int count = 0;  // linkSpecs the callback accepted
    // When set, only a payload naming one of these links counts: an answer on this machine's
    // loopback may come from any user's process, so it is believed only for a link that this
    // user's own directory shows to be served.
    const std::vector<linkSpec>* servedHere = nullptr;
};
// Offers a payload heard from a link server (a loopback probe reply or a beacon) to the search's
// callback. Only a payload of exactly one linkSpec counts, and each module only once. False when
// the callback wants no more.
ZENDRIVAL_EXPORT bool qDiscovery_OfferSharedLink(qSharedLinkSearch* search, const uint8_t* payload,
                                                 size_t length);

// New linkSpecs for the caller to release with qLinkSpec_Destroy, or null.
ZENDRIVAL_EXPORT linkSpec* qDiscovery_FindModule(uint32_t type, uint32_t serialNumber,
                                                 uint32_t networkInterface);
ZENDRIVAL_EXPORT linkSpec* qDiscovery_FindFirstModule(uint32_t type, uint32_t networkInterface);

// This machine's IPv4 interface addresses (network order), at most max; the count filled.
ZENDRIVAL_EXPORT int qDiscovery_GetIPv4Interfaces(uint32_t* addresses, int max);
// Dotted text of address; its length, or 0 when size < 16 or the conversion fails.
ZENDRIVAL_EXPORT size_t qDiscovery_ConvertIPv4Interface(uint32_t address, char* buffer,
                                                        size_t size);

ZENDRIVAL_EXPORT linkSpec* qLinkSpec_Create(uint32_t type);
ZENDRIVAL_EXPORT linkSpec* qLinkSpec_Copy(const linkSpec* spec);
ZENDRIVAL_EXPORT qErr qLinkSpec_Destroy(linkSpec** spec);
// Same module: type, serial number, IP address and port equal. Discovery's own; not exported.
bool _isNewSpec(const linkSpec* a, const linkSpec* b);
