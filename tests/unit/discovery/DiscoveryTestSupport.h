// Shared pieces of the discovery tests: collecting what an enumeration reports, addresses, and the
// private network every test that sends or receives discovery traffic runs in.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "discover.h"

// The test runs in a private network namespace of its own, or does not run (see ZV_NEEDS).
#define ENTER_PRIVATE_NETWORK(veth) ZV_PRIVATE_NETWORK_OR_SKIP(veth)

namespace discoverytest {

inline uint32_t ipv4(const char* text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

// Copies every linkSpec offered and accepts all of them, or only the first `accept` ones, stopping
// after the last accepted one.
struct Collector {
    std::vector<linkSpec> offered;
    int accept = 1000;

    static bool callback(const linkSpec* spec, bool* found, void* reference) {
        Collector* self = static_cast<Collector*>(reference);
        self->offered.push_back(*spec);
        if (static_cast<int>(self->offered.size()) > self->accept) {
            return false;
        }
        *found = true;
        return static_cast<int>(self->offered.size()) < self->accept;
    }
};

// A module's answer to the TCP/IP discovery request: module 0x12345678 at bus address 4 with its
// port 4000, model 13.
const std::string kModuleReply("\x00\x04\xA0\x0F\x78\x56\x34\x12\x00\x00\x00\x00\x0D\x00\x00\x00",
                               16);

// Expects the linkSpec of kModuleReply heard from ip.
inline void expectModuleReplySpec(const linkSpec& spec, uint32_t ip) {
    EXPECT_EQ(spec.type, static_cast<uint32_t>(linkTypeTCPIP));
    EXPECT_EQ(spec.serialNumber, 0x12345678u);
    EXPECT_EQ(spec.routerSerialNumber, 0x12345678u);
    EXPECT_EQ(spec.module, 4u);
    EXPECT_EQ(spec.router, 4u);
    EXPECT_EQ(spec.port, 4000u);
    EXPECT_EQ(spec.model, 13u);
    EXPECT_EQ(spec.ipAddress, ip);
}

// A linkSpec as a link server would announce it.
inline linkSpec sharedLinkSpec(uint32_t serial, const char* ip, uint32_t port) {
    linkSpec spec{};
    spec.type = linkTypeNetworkClientUSB;
    spec.serialNumber = serial;
    spec.module = 6;
    spec.model = 19;
    spec.ipAddress = ipv4(ip);
    spec.port = port;
    return spec;
}

}  // namespace discoverytest
