// The object layer against the module simulator over a TCP/IP link: what the application and
// other programs read and write through Module, Link and the entities.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "Link.h"
#include "SimulatedModule.h"
#include "StreamCacheChecks.h"
#include "TestSupport.h"
#include "autoGen_I2CClass_CPP.h"
#include "autoGen_SystemClass_CPP.h"
#include "qLink.h"
#include "qUEI.h"
#include "qVersion.h"

using namespace Pelmorax::Zendrival;
using componenttest::startSimulator;
using componenttest::tcpSpec;
using componenttest::useDirectLink;

namespace {

constexpr uint32_t kSerial = 0x1234ABCD;

class ModuleOverTcp : public ::testing::Test {
  protected:
    void SetUp() override {
        // The simulator listens for discovery requests; keep it off the machine's network.
        ZV_PRIVATE_NETWORK_OR_SKIP(false);
        sim =
            startSimulator({"serial=1234ABCD,model=15,address=4,version=2.11.3,build=777,"
                            "name=Bench rig,hb-ms=100,stream-ms=20,tcp=127.0.0.1:0"});
        useDirectLink(module);
        ASSERT_EQ(module.connectFromSpec(tcpSpec(*sim, kSerial)), qErrNone);
        system.init(&module, 0);
    }

    std::unique_ptr<zvtest::BackgroundProgram> sim;
    Module module{2, 0};
    SystemClass system;
};

TEST_F(ModuleOverTcp, ConnectLearnsTheAddressAndReadsTheSystemValues) {
    // The module said it sits at 4, not at the 2 it was created with.
    EXPECT_EQ(module.getModuleAddress(), 4);
    uint32_t serial = 0, packed = 0, build = 0;
    uint8_t model = 0;
    EXPECT_EQ(system.getSerialNumber(&serial), qErrNone);
    EXPECT_EQ(serial, kSerial);
    EXPECT_EQ(system.getModel(&model), qErrNone);
    EXPECT_EQ(model, 15);
    ASSERT_EQ(system.getVersion(&packed), qErrNone);
    EXPECT_EQ(qVersion_ParseMajor(packed), 2);
    EXPECT_EQ(qVersion_ParseMinor(packed), 11);
    EXPECT_EQ(qVersion_ParsePatch(packed), 3u);
    EXPECT_EQ(module.getBuild(&build), qErrNone);
    EXPECT_EQ(build, 777u);
    uint32_t uebuild = 0;
    EXPECT_EQ(system.getBuild(&uebuild), qErrNone);
    EXPECT_EQ(uebuild, 777u);
}

TEST_F(ModuleOverTcp, SetsAreAcknowledgedAndReadBack) {
    const char name[] = "A much longer module name!";  // 26 bytes: two packets each way
    ASSERT_EQ(system.setName(reinterpret_cast<const uint8_t*>(name), strlen(name)), qErrNone);
    uint8_t read[32] = {};
    size_t length = 0;
    ASSERT_EQ(system.getName(read, sizeof(read), &length), qErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(read), length), name);

    ASSERT_EQ(system.setLED(7), qErrNone);
    uint8_t led = 0;
    EXPECT_EQ(system.getLED(&led), qErrNone);
    EXPECT_EQ(led, 7);
}

TEST_F(ModuleOverTcp, ModuleErrorRepliesCarryTheirCode) {
    // Option 63 of the system entity does not exist; entity 9 of it neither.
    uint32_t value = 0xFEEDu;
    EXPECT_EQ(system.getUEI32(63, &value), qErrInvalidOption);
    EXPECT_EQ(value, 0xFEEDu);
    SystemClass absent;
    absent.init(&module, 9);
    EXPECT_EQ(absent.setLED(1), qErrInvalidEntity);
    EXPECT_EQ(absent.setLED(1), qErrInvalidEntity);
}

TEST_F(ModuleOverTcp, EchoAndModuleInformation) {
    uint8_t bytes[27];
    for (uint8_t i = 0; i < sizeof(bytes); ++i)
        bytes[i] = static_cast<uint8_t>(0xA0 + i);
    EXPECT_EQ(module.debug(bytes, sizeof(bytes)), qErrNone);
    // The system entity's version option exists; option 63 does not.
    EXPECT_EQ(module.hasUEI(3, 7, 0, 0x40), qErrNone);
    EXPECT_EQ(module.hasUEI(3, 63, 0, 0x40), qErrInvalidOption);
    uint8_t count = 0;
    EXPECT_EQ(module.classQuantity(3, &count), qErrNone);
    EXPECT_EQ(count, 1);
}

TEST_F(ModuleOverTcp, StreamedValuesReachCallbacksAndAnswerGets) {
    // The link's own packet log shows every get of the input voltage (system entity, option 12)
    // that went out to the module.
    const qLinkID link = module.getLink()->getEngineLinkId();
    ASSERT_EQ(qLink_PacketDebug_Enable(link), qErrNone);
    int voltageGets = 0;
    auto countVoltageGets = [&] {
        uint8_t type = 0, wire[qPACKET_MAX_WIRE];
        for (uint8_t length = sizeof wire;
             qLink_PacketDebug_Read(link, &type, &length, wire) == qErrNone; length = sizeof wire) {
            if (type == qPACKETLOG_SENT && length >= 4 && wire[2] == SystemClass::COMMAND &&
                wire[3] == (12 | qUEI_OPTION_GET)) {
                ++voltageGets;
            }
        }
        return voltageGets;
    };
    // Before any stream, a get goes to the module.
    uint32_t millivolts = 0;
    ASSERT_EQ(system.getInputVoltage(&millivolts), qErrNone);
    EXPECT_EQ(millivolts, 12000u);
    ASSERT_EQ(countVoltageGets(), 1);
    std::atomic<int> samples{0};
    auto onSample = [&](const qPacket* packet, void*) -> uint8_t {
        if (Link::isStreamSample(packet))
            ++samples;
        return 0;
    };
    // Option 12, the input voltage, streams a steady value.
    ASSERT_EQ(system.registerOptionCallback(12, true, onSample, nullptr), qErrNone);
    for (int i = 0; i < 300 && samples < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(samples.load(), 3);
    uint8_t streaming = 0;
    EXPECT_EQ(module.getLink()->isLinkStreaming(module.getModuleAddress(), &streaming), qErrNone);
    EXPECT_NE(streaming, 0);
    // The voltage now comes from the newest sample: fresh for the first get, already read for
    // the gets right after it, and none of them goes to the module.
    zvtest::expectFreshThenStale([&](uint32_t* value) { return system.getInputVoltage(value); },
                                 12000u);
    EXPECT_EQ(countVoltageGets(), 1);

    ASSERT_EQ(system.registerOptionCallback(12, false, nullptr, nullptr), qErrNone);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int afterStop = samples;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(samples.load(), afterStop);
}

TEST_F(ModuleOverTcp, StoreSlotsKeepWhatWasWritten) {
    Link* link = module.getLink();
    const uint8_t address = module.getModuleAddress();
    std::vector<uint8_t> data(60);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 1);
    size_t capacity = 0, size = 0, length = 0;
    EXPECT_EQ(link->storeSlotCapacity(address, 0, 1, &capacity), qErrNone);
    EXPECT_EQ(capacity, 256u);
    ASSERT_EQ(link->loadStoreSlot(address, 0, 1, data.data(), data.size()), qErrNone);
    EXPECT_EQ(link->storeSlotSize(address, 0, 1, &size), qErrNone);
    EXPECT_EQ(size, 60u);
    std::vector<uint8_t> back(100);
    ASSERT_EQ(link->unloadStoreSlot(address, 0, 1, back.data(), back.size(), &length), qErrNone);
    back.resize(length);
    EXPECT_EQ(back, data);
    // A slot the module does not have cannot be opened.
    EXPECT_EQ(link->loadStoreSlot(address, 7, 0, data.data(), 10), qErrMedia);
}

TEST_F(ModuleOverTcp, FactoryDataRoundTrip) {
    Link* link = module.getLink();
    const uint8_t address = module.getModuleAddress();
    std::vector<uint8_t> data(60);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(255 - i);
    ASSERT_EQ(link->setFactoryData(address, 5, data.data(), data.size()), qErrNone);
    std::vector<uint8_t> back(128);
    size_t length = 0;
    ASSERT_EQ(link->getFactoryData(address, 5, back.data(), back.size(), &length), qErrNone);
    back.resize(length);
    EXPECT_EQ(back, data);
}

TEST(ModuleBehindRouter, BusModulesShareTheRoutersLinkAndOutliveItsModule) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    auto sim = startSimulator({"serial=D272031D,model=5,address=2,tcp=127.0.0.1:0",
                               "serial=0000B006,model=8,address=6,behind=D272031D"});
    auto router = std::make_unique<Module>(2, 0);
    useDirectLink(*router);
    ASSERT_EQ(router->connectFromSpec(tcpSpec(*sim, 0xD272031D)), qErrNone);

    I2CClass bus;
    bus.init(router.get(), 0);
    const uint8_t probe[2] = {0, 0};
    EXPECT_EQ(bus.write(6, 2, probe), qErrNone);
    // Nobody at 8: the router's I2C status carries an error.
    EXPECT_NE(bus.write(8, 2, probe), qErrNone);

    Module behind(6, false, 0);
    useDirectLink(behind);
    ASSERT_EQ(behind.connectThroughLinkModule(router.get()), qErrNone);
    SystemClass system;
    system.init(&behind, 0);
    uint32_t serial = 0;
    EXPECT_EQ(system.getSerialNumber(&serial), qErrNone);
    EXPECT_EQ(serial, 0x0000B006u);

    router.reset();
    serial = 0;
    EXPECT_EQ(system.getSerialNumber(&serial), qErrNone);
    EXPECT_EQ(serial, 0x0000B006u);
}

TEST(SlowModule, ARepliesLaterThanTheTimeOutIsATimeOut) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    auto sim = startSimulator({"serial=51040001,address=2,hb-ms=0,tcp=127.0.0.1:0"},
                              {"--latency-ms", "1300"});
    Module module(2, false, 0);
    useDirectLink(module);
    ASSERT_EQ(module.connectFromSpec(tcpSpec(*sim, 0x51040001)), qErrNone);
    SystemClass system;
    system.init(&module, 0);
    uint32_t serial = 0;
    EXPECT_EQ(system.getSerialNumber(&serial), qErrTimeout);
    EXPECT_EQ(serial, 0u);
}

}  // namespace
