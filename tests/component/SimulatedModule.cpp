#include "SimulatedModule.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "TestSupport.h"
#include "VexnetConfig.h"
#include "autoGen_SystemClass_CPP.h"

namespace componenttest {

std::unique_ptr<zvtest::BackgroundProgram> startSimulator(const std::vector<std::string>& modules,
                                                          const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--duration", "120"};
    args.insert(args.end(), extra.begin(), extra.end());
    for (const std::string& module : modules) {
        args.push_back("--module");
        args.push_back(module);
    }
    auto sim = std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(), args);
    EXPECT_TRUE(sim->waitReady()) << "the module simulator did not start";
    return sim;
}

linkSpec tcpSpec(const zvtest::BackgroundProgram& sim, uint32_t serial) {
    char prefix[32];
    std::snprintf(prefix, sizeof(prefix), "tcp %08X", serial);
    std::string endpoint = sim.startupValue(prefix);
    linkSpec spec{};
    spec.type = linkTypeTCPIP;
    spec.serialNumber = serial;
    size_t colon = endpoint.rfind(':');
    EXPECT_NE(colon, std::string::npos) << "no TCP/IP attachment for " << prefix;
    if (colon != std::string::npos) {
        inet_pton(AF_INET, endpoint.substr(0, colon).c_str(), &spec.ipAddress);
        spec.port = static_cast<uint32_t>(std::stoul(endpoint.substr(colon + 1)));
    }
    return spec;
}

void useDirectLink(Pelmorax::Zendrival::Module& module) {
    Pelmorax::Zendrival::VexnetConfig config;
    config.enabled = false;
    config.fallback = false;
    ASSERT_EQ(module.setConfig(config), qErrNone);
}

void expectIdentity(Pelmorax::Zendrival::Module& module, uint32_t serial, uint8_t model) {
    Pelmorax::Zendrival::SystemClass system;
    system.init(&module, 0);
    uint32_t readSerial = 0;
    EXPECT_EQ(system.getSerialNumber(&readSerial), qErrNone);
    EXPECT_EQ(readSerial, serial);
    uint8_t readModel = 0;
    EXPECT_EQ(system.getModel(&readModel), qErrNone);
    EXPECT_EQ(readModel, model);
}

}  // namespace componenttest
