// A module on a packetised serial line: the simulator's pseudo-terminal carries COBS frames with
// a CRC-8, and the library reaches it through a serial link (no sync at creation).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "SimulatedModule.h"
#include "TestSupport.h"
#include "autoGen_SystemClass_CPP.h"

using namespace Pelmorax::Zendrival;

namespace {

linkSpec serialSpec(const zvtest::BackgroundProgram& sim, uint32_t serial, const char* prefix) {
    linkSpec spec{};
    spec.type = linkTypeSerial;
    spec.serialNumber = serial;
    spec.baudRate = 115200;
    std::string path = sim.startupValue(prefix);
    EXPECT_FALSE(path.empty()) << "no serial attachment for " << prefix;
    strncpy(spec.devicePath, path.c_str(), sizeof(spec.devicePath) - 1);
    return spec;
}

}  // namespace

TEST(SerialLink, FramedModuleAnswersThroughASerialLink) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    auto sim = componenttest::startSimulator({"serial=00C0B500,model=11,address=6,cobs-pty"});
    Module module(6, 0);
    componenttest::useDirectLink(module);
    ASSERT_EQ(module.connectFromSpec(serialSpec(*sim, 0x00C0B500, "pty 00C0B500")), qErrNone);
    componenttest::expectIdentity(module, 0x00C0B500, 11);
    // The module information query as well as entity values.
    uint32_t build = 0;
    EXPECT_EQ(module.getBuild(&build), qErrNone);
    EXPECT_EQ(build, 1000u);
    EXPECT_EQ(module.disconnect(), qErrNone);
}

TEST(SerialLink, DamagedFrameCostsOneReplyAndTheLinkFindsItsStepAgain) {
    // Deliberate: the framed stream hands out a checked frame at once, so a serial link recovers.
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    // The third reply arrives with a wrong CRC: the first answers the connect's identify request.
    auto sim = componenttest::startSimulator(
        {"serial=00C0B501,model=11,address=6,hb-ms=0,bad-crc-at=3,cobs-pty"});
    Module module(6, 0);
    componenttest::useDirectLink(module);
    ASSERT_EQ(module.connectFromSpec(serialSpec(*sim, 0x00C0B501, "pty 00C0B501")), qErrNone);
    SystemClass system;
    system.init(&module, 0);
    uint32_t serial = 0;
    EXPECT_EQ(system.getSerialNumber(&serial), qErrNone);
    EXPECT_NE(system.getSerialNumber(&serial), qErrNone);
    // The damaged frame counts as a read error: the link finds its step again by synchronising,
    // and then answers as before.
    for (int wait = 0; wait < 300 && !module.isConnected(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(module.isConnected());
    serial = 0;
    EXPECT_EQ(system.getSerialNumber(&serial), qErrNone);
    EXPECT_EQ(serial, 0x00C0B501u);
}
