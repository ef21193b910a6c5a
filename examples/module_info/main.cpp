// module_info: reads who a module is through the device library.
//   module_info SERIAL ADDR:PORT
// SERIAL is the module's serial number (8 hexadecimal digits); ADDR:PORT is the IPv4 address and
// TCP port the module listens on. The module is reached directly, without discovery, so the
// program sends nothing but its requests to that one address.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Module.h"
#include "VexnetConfig.h"
#include "autoGen_SystemClass_CPP.h"
#include "qError.h"
#include "qLinkSpec.h"
#include "qVersion.h"

using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::SystemClass;
using Pelmorax::Zendrival::VexnetConfig;

namespace {

bool parseSerial(const char* text, uint32_t* serial) {
    char* end = nullptr;
    unsigned long value = strtoul(text, &end, 16);
    if (end == text || *end != '\0' || value == 0 || value > 0xFFFFFFFFul) {
        return false;
    }
    *serial = static_cast<uint32_t>(value);
    return true;
}

// A TCP/IP link specifier for serial at "ADDR:PORT".
bool tcpSpecFor(uint32_t serial, const std::string& endpoint, linkSpec* spec) {
    size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    *spec = linkSpec{};
    spec->type = linkTypeTCPIP;
    spec->serialNumber = serial;
    if (inet_pton(AF_INET, endpoint.substr(0, colon).c_str(), &spec->ipAddress) != 1) {
        return false;
    }
    char* end = nullptr;
    unsigned long port = strtoul(endpoint.c_str() + colon + 1, &end, 10);
    if (end == endpoint.c_str() + colon + 1 || *end != '\0' || port == 0 || port > 65535) {
        return false;
    }
    spec->port = static_cast<uint32_t>(port);
    return true;
}

// A direct link: no link server in front of it and no switch to another link type.
qErr useDirectLink(Module& module) {
    VexnetConfig config;
    config.enabled = false;
    config.fallback = false;
    config.localOnly = true;
    return module.setConfig(config);
}

bool report(const char* what, qErr result) {
    if (result != qErrNone) {
        fprintf(stderr, "module_info: %s: %s\n", what, qError_GetErrorText(result));
        return false;
    }
    return true;
}

bool printSystemValues(Module& module) {
    SystemClass system;
    system.init(&module, 0);
    uint32_t serial = 0, packedVersion = 0, build = 0;
    uint8_t model = 0;
    uint8_t name[33] = {};
    size_t nameLength = 0;
    if (!report("serial number", system.getSerialNumber(&serial)) ||
        !report("model", system.getModel(&model)) ||
        !report("version", system.getVersion(&packedVersion)) ||
        !report("build", system.getBuild(&build)) ||
        !report("name", system.getName(name, sizeof(name) - 1, &nameLength))) {
        return false;
    }
    char version[32];
    qVersion_ParseString(packedVersion, version, sizeof(version));
    printf("serial  %08X\n", serial);
    printf("model   %u\n", model);
    printf("version %s\n", version);
    printf("build   %u\n", build);
    printf("name    %.*s\n", static_cast<int>(nameLength), reinterpret_cast<const char*>(name));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t serial = 0;
    linkSpec spec;
    if (argc != 3 || !parseSerial(argv[1], &serial) || !tcpSpecFor(serial, argv[2], &spec)) {
        fprintf(stderr, "usage: module_info SERIAL ADDR:PORT   (e.g. 1234ABCD 127.0.0.1:4000)\n");
        return 2;
    }
    // Address 2 and model 0 (any) are placeholders: connecting learns the module's address.
    Module module(2, 0);
    if (!report("network configuration", useDirectLink(module)) ||
        !report("connect", module.connectFromSpec(spec))) {
        return 1;
    }
    bool printed = printSystemValues(module);
    module.disconnect();
    return printed ? 0 : 1;
}
