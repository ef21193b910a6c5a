// A shared link seen from another host: a link server for the network answers the beacon search
// of a second host and serves its requests; a server for its own host stays invisible and
// unreachable from there and is found on its host by the loopback probe.
// share_peer answers on standard output, failures included; anything on its standard error is a
// fault underneath (a sanitizer's report, a CZMQ error), so that is checked to be empty.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "BeaconHosts.h"
#include "TcpListeners.h"
#include "SharedModule.h"
#include "qError.h"
#include "qLinkSpec.h"

using sharetest::BeaconHosts;
using sharetest::FindResult;
using sharetest::firstModule;
using sharetest::FoundLink;
using sharetest::HostedModule;
using sharetest::kHostAAddress;
using sharetest::kHostBAddress;

namespace {

HostedModule secondModule() {
    HostedModule module;
    module.serial = 0x5A4E0042;
    module.model = 19;
    module.address = 6;
    return module;
}

bool hasLine(const std::string& output, const std::string& wanted) {
    const std::vector<std::string> lines = zvtest::splitLines(output);
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

void expectSharedAs(const FoundLink& link, const HostedModule& module, const std::string& ip) {
    EXPECT_EQ(link.type, static_cast<unsigned>(linkTypeNetworkClientTCPIP));
    EXPECT_EQ(link.serial, module.serial);
    EXPECT_EQ(link.ip, ip);
    EXPECT_EQ(link.port, module.sharedPort);
    EXPECT_EQ(link.model, module.model);
}

}  // namespace

// The server answers every 100 ms for as long as it hears the search, so one search hears the
// same answer many times over.
TEST_F(BeaconHosts, OtherHostFindsNetworkSharerOnceByBeacons) {
    const HostedModule module = startSharedModule(firstModule(), true);
    ASSERT_FALSE(HasFatalFailure());

    FindResult found = find(hosts_.hostB(), kHostBAddress);
    EXPECT_EQ(found.exitCode, 0) << found.output;
    EXPECT_EQ(found.errors, "");
    EXPECT_EQ(found.count, 1) << found.output;
    ASSERT_EQ(found.links.size(), 1u) << found.output;
    expectSharedAs(found.links[0], module, kHostAAddress);
}

TEST_F(BeaconHosts, OtherHostGetsRightRepliesThroughNetworkSharer) {
    const HostedModule module = startSharedModule(firstModule(), true);
    ASSERT_FALSE(HasFatalFailure());

    zvtest::RunResult run = query(hosts_.hostB(), module.serial, kHostBAddress, 20);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(hasLine(run.out, "connected " + std::to_string(module.address))) << run.out;
    EXPECT_TRUE(hasLine(run.out, "model " + std::to_string(module.model))) << run.out;
    EXPECT_TRUE(hasLine(run.out, "queries 20 ok 20")) << run.out;
}

TEST_F(BeaconHosts, OtherHostNeitherFindsNorReachesLocalOnlySharer) {
    const HostedModule module = startSharedModule(firstModule(), false);
    ASSERT_FALSE(HasFatalFailure());

    FindResult found = find(hosts_.hostB(), kHostBAddress);
    EXPECT_EQ(found.exitCode, 0) << found.output;
    EXPECT_EQ(found.errors, "");
    EXPECT_EQ(found.count, 0) << found.output;
    EXPECT_TRUE(found.links.empty()) << found.output;

    zvtest::RunResult run = query(hosts_.hostB(), module.serial, kHostBAddress, 5);
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(hasLine(run.out, "connect failed " + std::to_string(qErrNotFound))) << run.out;

    // It listens on no TCP port at all: its front end is a socket in its user's directory.
    EXPECT_EQ(zvtest::tcpListenersOf(sharers_.back()->pid()), 0);
    EXPECT_FALSE(tcpConnects(hosts_.hostA(), "127.0.0.1", module.sharedPort));
    EXPECT_FALSE(tcpConnects(hosts_.hostB(), kHostAAddress, module.sharedPort));
}

TEST_F(BeaconHosts, OwnHostFindsLocalOnlySharerByLoopbackProbe) {
    const HostedModule module = startSharedModule(firstModule(), false);
    ASSERT_FALSE(HasFatalFailure());

    FindResult found = find(hosts_.hostA(), "");
    EXPECT_EQ(found.exitCode, 0) << found.output;
    EXPECT_EQ(found.errors, "");
    EXPECT_EQ(found.count, 1) << found.output;
    ASSERT_EQ(found.links.size(), 1u) << found.output;
    expectSharedAs(found.links[0], module, "127.0.0.1");

    zvtest::RunResult run = query(hosts_.hostA(), module.serial, "127.0.0.1", 5);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(hasLine(run.out, "queries 5 ok 5")) << run.out;
}

// Both servers hold the beacon port of the same interface; each must still hear the search.
TEST_F(BeaconHosts, OtherHostFindsTwoNetworkSharersOfOneHost) {
    std::vector<HostedModule> modules{firstModule(), secondModule()};
    ASSERT_NO_FATAL_FAILURE(startModules(&modules));
    ASSERT_NO_FATAL_FAILURE(startSharer(&modules[0], true));
    ASSERT_NO_FATAL_FAILURE(startSharer(&modules[1], true));
    // Each listens on its front end and nothing else.
    for (const auto& sharer : sharers_) {
        EXPECT_EQ(zvtest::tcpListenersOf(sharer->pid()), 1);
    }

    FindResult found = find(hosts_.hostB(), kHostBAddress);
    EXPECT_EQ(found.exitCode, 0) << found.output;
    EXPECT_EQ(found.errors, "");
    EXPECT_EQ(found.count, 2) << found.output;
    ASSERT_EQ(found.links.size(), 2u) << found.output;
    for (const HostedModule& module : modules) {
        auto link = std::find_if(found.links.begin(), found.links.end(),
                                 [&](const FoundLink& l) { return l.serial == module.serial; });
        ASSERT_NE(link, found.links.end()) << found.output;
        expectSharedAs(*link, module, kHostAAddress);
    }
}
