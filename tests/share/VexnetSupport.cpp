#include "VexnetSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <cstdio>
#include <cstring>

#include "autoGen_SystemClass_CPP.h"
#include "discover.h"
#include "qLinkManagerInternal.h"

namespace vexnettest {

namespace {

// Names and addresses of our own; the namespace's other tests use zva/zvb and 10.77.0.x.
const char kVethUp[] =
    "ip link add zvvexa type veth peer name zvvexb && "
    "ip addr add 10.77.50.1/24 dev zvvexa && ip addr add 10.77.50.2/24 dev zvvexb && "
    "ip link set zvvexa multicast on up && ip link set zvvexb multicast on up";
// Deleting one end removes the pair.
const char kVethDown[] = "ip link del zvvexa";

std::string serialText(uint32_t serial) {
    char text[16];
    snprintf(text, sizeof text, "%08X", serial);
    return text;
}

bool collectSharedLink(const linkSpec* found, bool* accepted, void* reference) {
    static_cast<std::vector<linkSpec>*>(reference)->push_back(*found);
    *accepted = true;
    return true;
}

zvtest::RunResult runShell(const char* command) {
    return zvtest::runProgram("/bin/sh", {"-c", command});
}

}  // namespace

std::unique_ptr<zvtest::BackgroundProgram> startModules(const std::vector<std::string>& modules,
                                                        const std::string& logFile) {
    std::vector<std::string> args = {"--log", "--duration", "120"};
    for (const std::string& module : modules) {
        args.push_back("--module");
        args.push_back(module);
    }
    auto sim =
        std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(), args, logFile);
    EXPECT_TRUE(sim->waitReady()) << "the module simulator did not start";
    return sim;
}

linkSpec tcpSpecOf(const zvtest::BackgroundProgram& sim, uint32_t serial) {
    const std::string endpoint = sim.startupValue("tcp " + serialText(serial));
    linkSpec spec{};
    spec.type = linkTypeTCPIP;
    spec.serialNumber = serial;
    const size_t colon = endpoint.rfind(':');
    EXPECT_NE(colon, std::string::npos) << "no TCP/IP attachment for " << serialText(serial);
    if (colon != std::string::npos) {
        uint32_t address = 0;
        inet_pton(AF_INET, endpoint.substr(0, colon).c_str(), &address);
        spec.ipAddress = address;
        spec.port = static_cast<uint32_t>(std::stoul(endpoint.substr(colon + 1)));
    }
    return spec;
}

linkSpec serialSpecOf(const zvtest::BackgroundProgram& sim, uint32_t serial) {
    const std::string path = sim.startupValue("pty " + serialText(serial));
    EXPECT_FALSE(path.empty()) << "no serial attachment for " << serialText(serial);
    linkSpec spec{};
    spec.type = linkTypeSerial;
    spec.serialNumber = serial;
    spec.baudRate = 115200;
    strncpy(spec.devicePath, path.c_str(), sizeof(spec.devicePath) - 1);
    return spec;
}

std::vector<linkSpec> probeSharedLinks() {
    std::vector<linkSpec> found;
    qDiscovery_EnumerateModules(linkTypeNetworkClient, collectSharedLink, &found,
                                htonl(INADDR_LOOPBACK));
    return found;
}

Pelmorax::Zendrival::VexnetConfig directConfig() {
    Pelmorax::Zendrival::VexnetConfig config;
    config.enabled = false;
    return config;
}

uint32_t linkTypeOf(qLinkID id) {
    const qLinkEntryRef entry = sLookupEntryByID(id);
    return entry != nullptr ? entry->spec.type : 0;
}

bool isPublished(qLinkID id) {
    const qLinkEntryRef entry = sLookupEntryByID(id);
    return entry != nullptr && entry->server != nullptr;
}

uint32_t engineLinkType(Pelmorax::Zendrival::Module& module) {
    return linkTypeOf(module.getLink()->getEngineLinkId());
}

qLinkID servedLinkOf(Pelmorax::Zendrival::Module& module) {
    const qLinkEntryRef entry = sLookupEntryByID(module.getLink()->getEngineLinkId());
    return entry != nullptr ? entry->servedLinkId : 0;
}

Identity askIdentity(Pelmorax::Zendrival::Module& module) {
    Pelmorax::Zendrival::SystemClass system;
    system.init(&module, 0);
    Identity identity;
    identity.serialResult = system.getSerialNumber(&identity.serial);
    identity.modelResult = system.getModel(&identity.model);
    return identity;
}

size_t traceLinesAbout(const std::string& traceFile, uint32_t serial, const std::string& text) {
    const std::string prefix = "modulesim " + serialText(serial) + " ";
    size_t count = 0;
    for (const std::string& line : zvtest::splitLines(zvtest::readFile(traceFile))) {
        if (line.compare(0, prefix.size(), prefix) == 0 &&
            line.find(text, prefix.size()) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

DiscoveryInterfaces::DiscoveryInterfaces() {
    if (if_nametoindex("zvvexa") != 0) {
        runShell(kVethDown);
    }
    const zvtest::RunResult made = runShell(kVethUp);
    if (made.exitCode != 0) {
        problem_ = "cannot make the veth pair: " + made.err;
    }
}

DiscoveryInterfaces::~DiscoveryInterfaces() {
    if (if_nametoindex("zvvexa") != 0) {
        runShell(kVethDown);
    }
}

}  // namespace vexnettest
