// A module behind a TCP/IP link published by a link server on 127.0.0.1, and raw ZeroMQ clients
// that speak the server's frame protocol directly.
#pragma once

#include <czmq.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "FakeModule.h"
#include "TestSupport.h"
#include "qLink.h"

// The whole test program runs in one private network namespace, entered before any ZeroMQ use:
// ZeroMQ's I/O threads stay in the namespace of the thread that started them, so the namespace
// cannot change between tests of one process. Empty when entered, else the reason it was not.
const std::string& privateNetworkProblem();

#define ZV_SERVER_NETWORK_OR_SKIP() ZV_NEEDS(privateNetworkProblem())

class RawClient {
  public:
    explicit RawClient(uint16_t port, const char* host = "127.0.0.1");
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void send(const std::string& frame);
    // The next frame, or "" when none comes within the limit.
    std::string receive(int limitMs = 5000);

  private:
    zsock_t* socket_ = nullptr;
};

class ServerFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Publishes the module's link; the client link id (0 on failure).
    qLinkID publish();

    std::unique_ptr<FakeModule> module_;
    qLinkID link_ = 0;
    qLinkID client_ = 0;
    uint16_t port_ = 0;
    uint32_t interface_ = 0;
};

// Polls a condition every few milliseconds up to a generous limit.
template <typename Condition>
bool eventually(Condition condition, int limitMs = 10000) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string hexOf(const std::string& bytes);
