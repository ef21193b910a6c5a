// The platform side of discovery: modules on this machine's USB bus and modules with their own
// network port that answer the multicast request. Reached through qDiscovery_EnumerateModules.
#pragma once

#include "ZendrivalExport.h"

#include <cstddef>
#include <cstdint>

#include "discover.h"

// Number of linkSpecs the callback accepted.
ZENDRIVAL_EXPORT int qDiscovery_Enumerate_USBModules(qDiscoveryCallback callback, void* reference);
ZENDRIVAL_EXPORT int qDiscovery_Enumerate_TCPIPModules(qDiscoveryCallback callback, void* reference,
                                                       uint32_t networkInterface);

// A USB module's linkSpec from its serial-number string (length bytes, not terminated) and product
// id; null unless the string is exactly eight hexadecimal digits.
ZENDRIVAL_EXPORT linkSpec* qDiscovery_CreateUSBSpec(const char* serialText, size_t length,
                                                    uint16_t productId);
// A TCP/IP module's linkSpec from its reply and the reply's sender (IPv4, network byte order); null
// unless the reply is exactly 16 bytes.
ZENDRIVAL_EXPORT linkSpec* qDiscovery_CreateTCPIPSpec(const uint8_t* reply, size_t length,
                                                      uint32_t sender);

// Like qDiscovery_GetIPv4Interfaces, but -1 when the interface list cannot be read at all.
ZENDRIVAL_EXPORT int qDiscovery_ReadIPv4Interfaces(uint32_t* addresses, int max);
