// The program that opened a module's link keeps using the module (through its own client of the
// link server, as a Module with sharing enabled does) while another process, which found the
// shared link by the loopback probe, talks to the same module through the server.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <sstream>

#include "BackgroundProgram.h"
#include "Link.h"
#include "Module.h"
#include "PrivateNetwork.h"
#include "SharedModule.h"
#include "TestSupport.h"
#include "VexnetConfig.h"
#include "autoGen_SystemClass_CPP.h"
#include "qLinkSpec.h"

using namespace Pelmorax::Zendrival;

namespace {

constexpr uint32_t kPublishedSerial = 0x5A4E0031;
constexpr uint8_t kPublishedModel = 15;

// "tcp SERIAL 127.0.0.1:PORT" -> a TCP/IP specifier of the module.
bool tcpSpecOf(const zvtest::BackgroundProgram& simulator, linkSpec* spec) {
    std::string endpoint = simulator.startupValue("tcp 5A4E0031");
    size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    *spec = linkSpec{};
    spec->type = linkTypeTCPIP;
    spec->serialNumber = kPublishedSerial;
    spec->ipAddress = htonl(INADDR_LOOPBACK);
    spec->port = static_cast<uint32_t>(std::stoul(endpoint.substr(colon + 1)));
    return true;
}

}  // namespace

TEST(PublisherAndPeer, PublisherKeepsUsingItsModuleWhileAnotherProcessTalksToIt) {
    ZV_SHARE_NETWORK_OR_SKIP();
    zvtest::BackgroundProgram simulator(
        zvtest::modulesimBinary(),
        {"--duration", "120", "--module", "serial=5A4E0031,model=15,address=4,tcp=127.0.0.1:0"});
    ASSERT_TRUE(simulator.waitReady()) << "the module simulator did not start";
    alignas(4) linkSpec direct{};
    ASSERT_TRUE(tcpSpecOf(simulator, &direct));

    // A Module with sharing on (the default configuration) publishes its link when it connects.
    Module publisher(2, 0);
    ASSERT_EQ(publisher.connectFromSpec(direct), qErrNone);
    VexnetConfig config;
    ASSERT_EQ(publisher.getConfig(&config), qErrNone);
    EXPECT_NE(config.assignedPort, 0);
    SystemClass system;
    system.init(&publisher, 0);

    // The publisher asks for as long as the peer runs, so that both talk at once.
    sharetest::ConcurrentRun run = sharetest::runPeerWhileReading(
        system, kPublishedSerial, kPublishedModel, {"query", "5A4E0031", "--count", "60"}, 400);
    const zvtest::RunResult& peer = run.peer;

    EXPECT_EQ(peer.exitCode, 0) << peer.out << peer.err;
    EXPECT_NE(peer.out.find("connected 4\n"), std::string::npos) << peer.out;
    EXPECT_NE(peer.out.find("model 15\n"), std::string::npos) << peer.out;
    EXPECT_NE(peer.out.find("queries 60 ok 60\n"), std::string::npos) << peer.out;
    EXPECT_GE(run.reads, 20);
    EXPECT_EQ(run.wrongReads, 0);
    EXPECT_EQ(publisher.disconnect(), qErrNone);
}
