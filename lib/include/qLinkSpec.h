// How one module is reached on one transport. The 128 bytes are also the payload of a link-server
// beacon and of a loopback discovery reply, so the layout is a wire format (little-endian).
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

// A 32-bit value on the wire. The fixed underlying type makes every value a peer may announce a
// valid linkType, so code that switches on a received type sees an unknown one as such.
typedef enum : uint32_t {
    linkTypeNone = 0,
    linkTypeUSB = 1,
    linkTypeTCPIP = 2,
    linkTypeSerial = 3,
    linkTypeNetworkClient = 4,
    linkTypeNetworkClientUSB = 5,
    linkTypeNetworkClientTCPIP = 6,
    linkTypeNetworkClientSerial = 7,
} linkType;

#pragma pack(push, 1)
struct linkSpec {
    uint32_t type;
    uint32_t serialNumber;
    uint32_t module;
    uint32_t router;
    uint32_t routerSerialNumber;
    uint32_t model;
    union {
        uint32_t usbId;
        uint32_t ipAddress;  // network byte order
        uint32_t baudRate;
    };
    union {
        struct {
            uint32_t port;
            // A link server for the network puts its CURVE public key (32 bytes) first here;
            // zeros for one of this machine only. The rest is 0.
            uint8_t reserved[96];
        };
        char devicePath[100];  // serial links only
    };
};
#pragma pack(pop)

static_assert(sizeof(linkSpec) == 128, "linkSpec is a 128-byte wire record");

// The linkSpec of a module on a transport, before its address, port or path is known.
ZENDRIVAL_EXPORT linkSpec qLinkSpec_Of(uint32_t type, uint32_t serialNumber);
