// A program that shares a module's link with other processes updates the module through the link
// server, as every other client does. Firmware DATA pieces fill their packets, and many end in a
// byte of 0x80 or more: each still needs its own acknowledgement back through the server.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "UpdaterEntity.h"
#include "UpgradeFixture.h"
#include "VexnetConfig.h"

using namespace upgradetest;

namespace {

constexpr int kCmdUpgrade = 95, kUpgradeData = 1;

// DATA pieces the module received whose last byte is 0x80 or more, from its packet trace
// ("modulesim 40F5849A < 04 1C 5F 01 ...").
int piecesEndingInBit7(const std::string& trace) {
    int count = 0;
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string program, serial, direction, hex;
        std::vector<int> bytes;
        words >> program >> serial >> direction;
        while (words >> hex) {
            bytes.push_back(std::stoi(hex, nullptr, 16));
        }
        if (program == "modulesim" && direction == "<" && bytes.size() == 30 &&
            bytes[2] == kCmdUpgrade && bytes[3] == kUpgradeData && bytes.back() >= 0x80) {
            ++count;
        }
    }
    return count;
}

class SharedLinkUpgrade : public UpgradeTest {
  protected:
    // The simulated module behind linkshare, and this test's module connected as its client.
    void startSharedModule() {
        sim = std::make_unique<zvtest::BackgroundProgram>(
            zvtest::modulesimBinary(),
            std::vector<std::string>{"--log", "--duration", "120", "--module", moduleDescription()},
            dir.file("module.log"));
        ASSERT_TRUE(sim->waitReady()) << "the module simulator did not start";
        const std::string endpoint = sim->startupValue("tcp 40F5849A");
        ASSERT_FALSE(endpoint.empty());
        sharer = std::make_unique<zvtest::BackgroundProgram>(
            zvtest::linkshareBinary(),
            std::vector<std::string>{"--tcp", endpoint, "40F5849A", "--duration", "120"});
        ASSERT_TRUE(sharer->waitReady(20000)) << "linkshare did not share the link";
        Pelmorax::Zendrival::VexnetConfig config;
        config.enabled = true;
        config.fallback = false;
        config.localOnly = true;
        config.networkInterface = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(module.setConfig(config), qErrNone);
        ASSERT_EQ(module.discoverAndConnect(linkTypeNetworkClient, kSerial), qErrNone);
    }

    std::string committedFlash(const std::string& expected) {
        std::string flash;
        for (int wait = 0; wait < 100 && (flash = flashImage()) != expected; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return flash;
    }

    std::unique_ptr<zvtest::BackgroundProgram> sharer;
};

}  // namespace

TEST_F(SharedLinkUpgrade, WholeUpdateThroughALinkServerWritesTheImage) {
    ZV_PRIVATE_NETWORK_OR_SKIP(false);
    startSharedModule();
    UpdaterEntity loader;
    // Quick reboot: a client link stays up while the module restarts behind the server.
    loader.init(&module, 0, true, true);
    ASSERT_EQ(loader.LoaderInit(), qErrNone);
    std::vector<uint8_t> code = block(0x10000000, 260, 3);
    uint16_t size = 0;
    ASSERT_EQ(loader.TransferPrepare(code.data(), code.size(), 0, size), qErrNone);
    ASSERT_EQ(loader.LoaderTransfer(code.data(), code.size()), qErrNone);
    ASSERT_EQ(loader.LoaderStart(), qErrNone);

    std::vector<uint8_t> image = block(0x00004000, 2000, 9);
    ASSERT_EQ(loader.TransferPrepare(image.data(), image.size(), 0, size), qErrNone);
    ASSERT_EQ(loader.FirmwareTransfer(image.data(), image.size(), size, display), qErrNone);
    ASSERT_EQ(loader.LoaderReboot(display), qErrNone);
    std::string expected(image.begin() + 4, image.end());
    EXPECT_TRUE(committedFlash(expected) == expected) << "flash differs";
    // Deliberate: only UEI values continue by their last byte; each DATA piece gets its own reply.
    // The pieces that a bit-7 test would take for a UEI run with more to follow did go through.
    EXPECT_GT(piecesEndingInBit7(zvtest::readFile(dir.file("module.log"))), 10);
}
