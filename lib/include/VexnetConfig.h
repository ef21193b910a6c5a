// Network-sharing settings of one link: whether a directly made link is published through a link
// server (so other processes can use the same module), whether discovery may fall back to another
// link type, and where that server listens.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

namespace Pelmorax {
namespace Zendrival {

struct ZENDRIVAL_EXPORT VexnetConfig {
    VexnetConfig();

    // Publish USB, TCP/IP and serial links through a link server and talk through a client of
    // it; also needed to reach a shared link as a network client.
    bool enabled;
    // Let discovery retry once with the alternative link type.
    bool fallback;
    // The link server binds its front end to the loopback address only.
    bool localOnly;
    // TCP port of the link server, written when the server is created.
    uint16_t assignedPort;
    // IPv4 interface in network byte order (127.0.0.1 by default) used for discovery and for the
    // server's binding; written when the server is created.
    uint32_t networkInterface;
};

}  // namespace Zendrival
}  // namespace Pelmorax
