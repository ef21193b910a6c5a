// Shared pieces of the discovery tests: collecting what an enumeration reports, addresses, and the
// private network every test that sends or receives discovery traffic runs in.
#pragma once

#include <arpa/inet.h>
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
