// A simulator with TCP/IP modules, started inside a private network namespace of the test's own
// (the simulator joins the discovery group on every interface it sees).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimHarness.h"
#include "TestSupport.h"

using Bytes = std::vector<uint8_t>;

class TcpSimTest : public ::testing::Test {
  protected:
    void SetUp() override { ZV_PRIVATE_NETWORK_OR_SKIP(false); }

    // Starts the simulator with one --module per description and connects to the module with
    // serial.
    bool start(const std::vector<std::string>& modules, const std::string& serial,
               const std::vector<std::string>& options = {}) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {"--duration", "60"});
        for (const std::string& module : modules) {
            args.push_back("--module");
            args.push_back(module);
        }
        std::string why;
        if (!sim.start(args, &why)) {
            ADD_FAILURE() << why;
            return false;
        }
        endpoint = sim.where("tcp", serial);
        if (!link.connectTcp(endpoint)) {
            ADD_FAILURE() << "cannot connect to " << endpoint;
            return false;
        }
        return true;
    }

    simtest::SimProcess sim;
    simtest::PacketChannel link;
    std::string endpoint;
};
