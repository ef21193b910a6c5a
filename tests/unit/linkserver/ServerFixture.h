// A module behind a TCP/IP link published by a link server for this machine, and raw ZeroMQ clients
// that speak the server's frame protocol directly.
#pragma once

#include <czmq.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ModulePeer.h"
#include "ServedModule.h"
#include "TestSupport.h"
#include "qLink.h"

using zvtest::eventually;

// The whole test program runs in one private network namespace, entered before any ZeroMQ use:
// ZeroMQ's I/O threads stay in the namespace of the thread that started them, so the namespace
// cannot change between tests of one process. Empty when entered, else the reason it was not.
const std::string& privateNetworkProblem();

#define ZV_SERVER_NETWORK_OR_SKIP() ZV_NEEDS(privateNetworkProblem())

class RawClient {
  public:
    explicit RawClient(uint16_t port, const char* host = "127.0.0.1");
    // A CURVE client of a server for the network with that public key, as identity.
    RawClient(uint16_t port, const char* host, const uint8_t* serverKey, zcert_t* identity);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void send(const std::string& frame);
    // The next frame, or "" when none comes within the limit.
    std::string receive(int limitMs = 5000);

  private:
    zsock_t* socket_ = nullptr;
};

// A key directory for servers for the network, with this process's client pair allowed in and
// its server trusted; the library uses it until the object goes.
class NetworkKeys {
  public:
    NetworkKeys();
    ~NetworkKeys();
    NetworkKeys(const NetworkKeys&) = delete;
    NetworkKeys& operator=(const NetworkKeys&) = delete;

    const std::string& directory() const { return directory_.path(); }
    // The client pair (owned by this object).
    zcert_t* client() const { return client_; }

  private:
    zvtest::TempDir directory_;
    zcert_t* client_ = nullptr;
};

// The private network's veth end on which bare servers listen.
constexpr const char* kVethAddress = "10.77.0.1";

// A bare CURVE server socket bound on the veth end with the given pair (no ZAP handler unless
// the process has one); port is -1 when it could not bind.
struct CurveListener {
    explicit CurveListener(zcert_t* pair);
    ~CurveListener();
    CurveListener(const CurveListener&) = delete;
    CurveListener& operator=(const CurveListener&) = delete;
    zsock_t* socket = nullptr;
    int port = -1;
};

class ServerFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Publishes the module's link; the client link id (0 on failure).
    qLinkID publish();
    // Answers each packet the module receives (wire form) with the wire forms script gives;
    // servedmodule::standardReply until a test says otherwise.
    void respond(std::function<std::vector<std::string>(const std::string& packet)> script);
    // Wire forms of every packet the module received, and of those other than the link's own
    // route commands and heartbeat answers.
    std::vector<std::string> moduleReceived();
    std::vector<std::string> moduleRequests();
    // Opens a pool of byte writes with its first packet and makes sure the server has it before
    // other clients send anything: a request on the same connection comes after it and is
    // answered.
    void openPool(RawClient& writer, const std::string& first);

    std::unique_ptr<zvtest::ModulePeer> module_;
    qLinkID link_ = 0;
    qLinkID client_ = 0;
    uint16_t port_ = 0;
    uint32_t interface_ = 0;
};
