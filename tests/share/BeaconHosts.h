// Link sharing between two test hosts: simulated modules and linkshare on host A, share_peer
// finding and querying them from host B (or from host A itself).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BackgroundProgram.h"
#include "ShareKeys.h"
#include "TestHosts.h"
#include "TestSupport.h"

namespace sharetest {

// One "found TYPE SERIAL IP PORT MODEL" line of share_peer find.
struct FoundLink {
    unsigned type = 0;
    uint32_t serial = 0;
    std::string ip;
    unsigned port = 0;
    unsigned model = 0;
};

// What share_peer find printed; count is -1 when its "count N" line is missing.
struct FindResult {
    std::vector<FoundLink> links;
    int count = -1;
    int exitCode = -1;
    std::string output;  // standard output and standard error, for failure messages
    std::string errors;  // standard error alone
};

// A module as modulesim describes it, and the port its sharer was given.
struct HostedModule {
    uint32_t serial = 0;
    unsigned model = 0;
    unsigned address = 0;
    std::string endpoint;  // ADDR:PORT of its TCP/IP attachment, on host A's loopback
    unsigned sharedPort = 0;
};

// The module most share tests put on host A: SharedModule.h's serial number, model and address.
HostedModule firstModule();

class BeaconHosts : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts modulesim on host A with these modules; fills in their endpoints.
    void startModules(std::vector<HostedModule>* modules);
    // Starts linkshare on host A for one module, for the network or for host A only.
    void startSharer(HostedModule* module, bool network);
    // Both for one module; the module with its endpoint and shared port.
    HostedModule startSharedModule(HostedModule module, bool network);
    FindResult find(const std::string& host, const std::string& networkInterface);
    // share_peer query with the client's key directory (clientKeys_ unless keys names another).
    zvtest::RunResult query(const std::string& host, uint32_t serial,
                            const std::string& networkInterface, int count,
                            const std::string& keys = "");
    // Whether a TCP connection from host to address:port is accepted.
    bool tcpConnects(const std::string& host, const std::string& address, unsigned port);

    zvtest::TempDir scratch_;
    // Host A's sharers serve with serverKeys_; host B's clients use clientKeys_. Each side has
    // the other's certificate: B's client is allowed in, A's server is trusted.
    KeyDirectory serverKeys_;
    KeyDirectory clientKeys_;
    TestHosts hosts_;
    std::unique_ptr<zvtest::BackgroundProgram> simulator_;
    std::vector<std::unique_ptr<zvtest::BackgroundProgram>> sharers_;
};

}  // namespace sharetest
